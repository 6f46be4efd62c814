// Small path and text helpers of the desktop program, kept apart from the
// windows so they can be tested without one. None of them touches the file
// system, and none throws except std::bad_alloc.
#pragma once

#include <QString>
#include <QStringList>

#include <string>

namespace lumifold {

// The directory part of a path: everything before the last separator, so
// without a trailing separator, except that the root keeps its own ("/").
// A bare file name gives "".
QString directoryPart(const QString& path);

// The initial file name of a picture dialog that should start in directory:
// the directory, the platform's separator and "*.bmp".
QString dialogStartName(const QString& directory);

// The name the save command writes for the name chosen in its dialog: the
// extension (from the last dot after the last separator) replaced by ".bmp",
// or ".bmp" appended when the file name has no dot.
QString bmpFileName(const QString& chosen);
// The same with another extension (with its dot).
QString withExtension(const QString& chosen, const QString& extension);

// The name a save writes for the name chosen in a dialog of the types of
// windowsFilter ("description|patterns|...") with type chosen: with the
// first type, the name with that type's extension as bmpFileName forms it;
// with another, the name as chosen when it ends in an extension of any
// offered type (any case), else with the chosen type's first extension.
QString savedFileName(const QString& chosen, const QString& windowsFilter, int type);

// The file-system form of a path, for the Qt-free core.
std::string localPath(const QString& path);

// The paths in merge order (case-insensitive and locale-aware, equal-looking
// names ordered by their exact text), exact duplicates dropped: the order
// the command line uses too.
QStringList sortedPaths(const QStringList& paths);

// Qt name filters from a filter in the "description|patterns|..." form of
// the Windows dialogs. Qt reads the patterns from the parentheses at the end
// of each description, so any pattern list written into a description
// (closed or not) is replaced by the pair's own patterns.
QStringList nameFiltersFrom(const QString& windowsFilter);

// The value of a decimal integer in text (a sign allowed, surrounding blanks
// ignored). Throws std::invalid_argument("'TEXT' is not a valid integer
// value") for anything else, a number beyond 32 bits included.
int integerValue(const QString& text);

}  // namespace lumifold
