// The order in which a series' files are merged when the user lets the
// program sort them: case-insensitive and locale-aware, like a file manager.
//
// Names are compared after case folding, with the collation of the user's
// locale (LC_COLLATE / LC_CTYPE from the environment). Names that still
// compare equal, such as Scan1.bmp and scan1.bmp, are both kept, ordered by
// their exact bytes, so the result never depends on the input order. Only
// exact duplicates are dropped. Paths are taken as UTF-8; bytes that are not
// valid UTF-8 still order deterministically. Nothing here throws except
// std::bad_alloc.
#pragma once

#include <string>
#include <vector>

namespace lumifold {

// Sorts paths into merge order and drops exact duplicates.
void sortPaths(std::vector<std::string>& paths);

// The same with the collation of the named locale ("" is the user's). A
// locale the system does not have falls back to Unicode code point order of
// the case-folded names.
void sortPaths(std::vector<std::string>& paths, const std::string& localeName);

// True when a comes before b in merge order (the user's locale). Exactly
// equal paths are not less.
bool pathLess(const std::string& a, const std::string& b);

}  // namespace lumifold
