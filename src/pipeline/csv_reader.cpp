#include "pipeline/csv_reader.h"

#include <stdexcept>

namespace lumifold {

std::vector<CsvRow> parseCsv(const std::string& text) {
  std::vector<CsvRow> rows;
  CsvRow row;
  std::string field;
  int line = 1;
  row.line = 1;
  bool fieldStarted = false;  // the row has a field, if only an empty one
  const auto endRow = [&] {
    if (fieldStarted || !field.empty()) {
      row.fields.push_back(field);
      rows.push_back(row);
    }
    row = CsvRow{};
    field.clear();
    fieldStarted = false;
  };
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"' && field.empty()) {
      const int opened = line;
      ++i;
      for (;; ++i) {
        if (i == text.size()) throw std::invalid_argument("Line " + std::to_string(opened) + ": unterminated quote");
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            field.push_back('"');
            ++i;
            continue;
          }
          break;
        }
        if (text[i] == '\n') ++line;
        field.push_back(text[i]);
      }
      ++i;
      fieldStarted = true;
      const bool end = i == text.size() || text[i] == ',' || text[i] == '\n' ||
                       (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n');
      if (!end) throw std::invalid_argument("Line " + std::to_string(line) + ": text after a closing quote");
      continue;
    }
    if (c == ',') {
      row.fields.push_back(field);
      field.clear();
      fieldStarted = true;
    } else if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
      if (c == '\r') ++i;
      endRow();
      ++line;
      row.line = line;
    } else {
      field.push_back(c);
    }
    ++i;
  }
  endRow();
  return rows;
}

}  // namespace lumifold
