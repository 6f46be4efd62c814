// parseCsv: the rows of a comma-separated table as the command line's own
// CSV writer (csvField) and spreadsheets write them: fields quoted when they
// hold a comma, a quote (doubled) or a line break; lines ending in LF or
// CRLF. Each row remembers the line it starts on, for messages.
#pragma once

#include <string>
#include <vector>

namespace lumifold {

struct CsvRow {
  int line = 0;  // counted from 1
  std::vector<std::string> fields;
};

// Every row of text, blank lines left out. Throws std::invalid_argument
// ("Line N: unterminated quote", "Line N: text after a closing quote") for
// a table that cannot be read as such.
std::vector<CsvRow> parseCsv(const std::string& text);

}  // namespace lumifold
