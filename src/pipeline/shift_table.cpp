#include "pipeline/shift_table.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <utility>

#include "pipeline/path_error.h"
#include "shell/utf8_text.h"

namespace lumifold {

namespace {

// The whole of text as a decimal integer, or false.
bool parseInt(const std::string& text, long long& value) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  while (first < last && (*first == ' ' || *first == '\t')) ++first;
  while (last > first && (last[-1] == ' ' || last[-1] == '\t' || last[-1] == '\r')) --last;
  const auto [end, error] = std::from_chars(first, last, value);
  return error == std::errc() && end == last && first != last;
}

std::vector<std::string> splitCommas(const std::string& line) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back().push_back(c);
    }
  }
  return fields;
}

}  // namespace

std::string csvField(const std::string& field) {
  const std::string text = validUtf8(field);
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted.push_back('"');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

ShiftTruth readShiftTruth(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PathError(path, errno != 0 ? std::strerror(errno) : "Cannot open file");
  std::string line;
  if (!std::getline(in, line)) throw PathError(path, "Empty truth file");
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line != "frame,column,shift") throw PathError(path, "Not a truth table (expected the header frame,column,shift)");

  ShiftTruth truth;
  long long lineNumber = 1;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (line.empty() || line == "\r") continue;
    const std::vector<std::string> fields = splitCommas(line);
    long long frame = 0, column = 0, shift = 0;
    if (fields.size() != 3 || !parseInt(fields[0], frame) || !parseInt(fields[1], column) ||
        !parseInt(fields[2], shift) || frame < 0 || frame > 1'000'000 || column < 0 || std::llabs(shift) > 1'000'000) {
      throw PathError(path, "Line " + std::to_string(lineNumber) + " is not frame,column,shift");
    }
    std::vector<int>& shifts = truth[static_cast<int>(frame)];
    if (column != static_cast<long long>(shifts.size())) {
      throw PathError(path, "Line " + std::to_string(lineNumber) + ": columns of frame " + std::to_string(frame) +
                               " are not in order");
    }
    shifts.push_back(static_cast<int>(shift));
  }
  if (in.bad()) throw PathError(path, std::strerror(errno));
  return truth;
}

void ShiftTable::record(int imageIndex, const mathORN::RowVector& shifts) {
  Row row{imageIndex, std::vector<int>(static_cast<std::size_t>(shifts.size()))};
  // The merge's shifts are whole numbers held as doubles.
  for (int x = 0; x < shifts.size(); ++x) row.shifts[x] = static_cast<int>(std::lround(shifts[x]));
  rows_.push_back(std::move(row));
}

const std::vector<int>* ShiftTable::shiftsOf(int imageIndex) const {
  // The last recorded, as a merge that registers a frame again means.
  for (auto row = rows_.rbegin(); row != rows_.rend(); ++row) {
    if (row->imageIndex == imageIndex) return &row->shifts;
  }
  return nullptr;
}

std::string ShiftTable::toCsv(const std::vector<std::string>& paths) const {
  std::string out;
  for (const Row& row : rows_) {
    const bool known = row.imageIndex >= 0 && row.imageIndex < static_cast<int>(paths.size());
    out += csvField(known ? paths[row.imageIndex] : std::to_string(row.imageIndex));
    for (int s : row.shifts) {
      out += ',';
      out += std::to_string(s);
    }
    out += '\n';
  }
  return out;
}

ShiftRecovery ShiftTable::compare(const ShiftTruth& truth, int width, int margin, int reference) const {
  ShiftRecovery result;
  const auto base = truth.find(reference);
  result.firstColumn = margin;
  result.lastColumn = width - 1 - margin;
  if (result.lastColumn < result.firstColumn) return result;
  for (const Row& row : rows_) {
    const auto it = truth.find(row.imageIndex);
    for (int x = result.firstColumn; x <= result.lastColumn; ++x) {
      ++result.compared;
      if (it == truth.end() || x >= static_cast<int>(it->second.size()) || x >= static_cast<int>(row.shifts.size())) {
        continue;
      }
      // Frame i moved by t_i from frame 0 and the reference by t_r: the merge
      // finds i's shift from the reference, t_i - t_r.
      const long long moved = base == truth.end() || x >= static_cast<int>(base->second.size()) ? 0 : base->second[x];
      const long long error = std::llabs(static_cast<long long>(it->second[x]) - moved - row.shifts[x]);
      if (error == 0) ++result.matched;
      if (error <= 1) ++result.withinOne;
    }
  }
  return result;
}

}  // namespace lumifold
