#include "pipeline/batch_summary.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "pipeline/batch_series.h"
#include "pipeline/csv_reader.h"
#include "pipeline/input_list.h"
#include "pipeline/path_error.h"
#include "pipeline/series_merge.h"
#include "pipeline/shift_table.h"
#include "ipl/ipl_exception.h"

namespace lumifold {

const std::vector<std::string>& summaryColumns() {
  static const std::vector<std::string> columns{
      "name",          "frames", "frames_used", "algorithm", "seconds", "reference", "frames_dropped", "snr_db",
      "snr_reference_db", "snr_gain_db", "cnr", "enl", "denoise", "snr_filtered_db", "cnr_filtered", "enl_filtered",
      "status", "error", "options", "inputs"};
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

std::string seriesSettings(const MergeOptions& m) {
  std::string outputs = std::filesystem::path(m.output).extension().string();
  if (!outputs.empty()) outputs.erase(0, 1);
  for (const auto& [file, kind] : {std::pair{&m.grey, "+grey"}, {&m.average, "+average"}, {&m.shifts, "+shifts"},
                                   {&m.report, "+report"}}) {
    if (!file->empty()) outputs += kind;
  }
  struct Setting {
    const char* key;
    std::string value;
    // The value at which the setting is left out, or none. An option added
    // later names its default here, so that the rows written before it
    // still match a batch that leaves it at that.
    const char* omittedAt = nullptr;
  };
  std::string exclude;
  for (const std::string& glob : m.exclude) exclude += (exclude.empty() ? "" : ",") + glob;
  const Setting settings[]{
      {"algorithm", m.algorithm},
      {"scale", m.scale},
      {"frames", m.frames.empty() ? "all" : m.frames},
      {"order", m.sort ? "sorted" : "given"},
      {"reject", m.reject},
      {"reference", m.reference.empty() ? "first" : m.reference},
      {"lateral", m.lateral ? "yes" : "no"},
      {"outputs", outputs},
      {"exclude", exclude, ""},
      {"denoise", m.denoise, ""},
  };
  std::string text;
  for (const Setting& s : settings) {
    if (s.omittedAt && s.value == s.omittedAt) continue;
    if (!text.empty()) text += ';';
    text.append(s.key).append("=").append(s.value);
  }
  return text;
}

std::string inputsFingerprint(const MergeOptions& m) {
  std::vector<std::string> files;
  try {
    files = expandInputs(m.inputs, m.sort, m.exclude);
  } catch (const PathError&) {
    return "";
  }
  std::string text;
  for (const std::string& file : files) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return "";
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "\t%lld\t%lld.%09ld\n", static_cast<long long>(st.st_size),
                  static_cast<long long>(st.st_mtim.tv_sec), static_cast<long>(st.st_mtim.tv_nsec));
    text += std::filesystem::path(file).filename().string() + stamp;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(fnv1a64(text)));
  return hex;
}

}  // namespace lumifold
