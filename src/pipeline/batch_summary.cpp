#include "pipeline/batch_summary.h"

#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "pipeline/path_error.h"
#include "pipeline/csv_reader.h"
#include "pipeline/shift_table.h"
#include "ipl/ipl_exception.h"

namespace lumifold {

const std::vector<std::string>& summaryColumns() {
  static const std::vector<std::string> columns{
      "name",          "frames", "frames_used", "algorithm", "seconds", "reference", "frames_dropped", "snr_db",
      "snr_reference_db", "snr_gain_db", "cnr", "enl", "denoise", "snr_filtered_db", "cnr_filtered", "enl_filtered",
      "status", "error"};
  return columns;
}

std::string summaryCsv(const std::vector<SummaryRow>& rows) {
  const std::vector<std::string>& columns = summaryColumns();
  std::string text;
  for (std::size_t i = 0; i < columns.size(); ++i) text += (i ? "," : "") + columns[i];
  text += '\n';
  for (const SummaryRow& row : rows) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const auto it = row.find(columns[i]);
      if (i) text += ',';
      if (it != row.end()) text += csvField(it->second);
    }
    text += '\n';
  }
  return text;
}

std::map<std::string, SummaryRow> readSummary(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) return {};
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PathError(path, velIPL::systemErrorText(errno));
  std::ostringstream text;
  text << in.rdbuf();
  std::vector<CsvRow> rows;
  try {
    rows = parseCsv(text.str());
  } catch (const std::invalid_argument& e) {
    throw PathError(path, e.what());
  }
  std::map<std::string, SummaryRow> byName;
  if (rows.empty()) return byName;
  const std::vector<std::string>& headings = rows[0].fields;
  bool hasName = false;
  bool hasStatus = false;
  for (const std::string& h : headings) {
    hasName = hasName || h == "name";
    hasStatus = hasStatus || h == "status";
  }
  if (!hasName || !hasStatus) throw PathError(path, "Not a batch summary: no 'name' and 'status' columns");
  for (std::size_t r = 1; r < rows.size(); ++r) {
    SummaryRow row;
    for (std::size_t i = 0; i < headings.size() && i < rows[r].fields.size(); ++i) row[headings[i]] = rows[r].fields[i];
    const std::string name = row["name"];
    byName[name] = std::move(row);
  }
  return byName;
}

}  // namespace lumifold
