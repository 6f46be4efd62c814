#include "pipeline/batch_series.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "pipeline/path_error.h"
#include "pipeline/csv_reader.h"
#include "pipeline/input_list.h"
#include "pipeline/series_merge.h"
#include "color/color_scales.h"
#include "ipl/image_decoder.h"
#include "ipl/ipl_exception.h"
#include "merge/registration_methods.h"
#include "shell/path_order.h"

namespace lumifold {

namespace {

namespace fs = std::filesystem;

bool endsWithCsv(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".csv";
}

bool sameFolder(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

// Why a sub-folder of a study is not a series, or "": an earlier batch's
// output folder (it holds the summary a batch writes), or a folder whose
// image files are all left out (this program's pictures, --exclude).
std::string notASeries(const std::string& folder, const std::vector<std::string>& exclude) {
  std::ifstream summary(fs::path(folder) / "summary.csv");
  std::string header;
  if (summary && std::getline(summary, header) && header.rfind("name,frames,frames_used,", 0) == 0) {
    return "an earlier batch's output folder (it holds summary.csv)";
  }
  std::error_code ec;
  int images = 0;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code statError;
    if (!fs::is_regular_file(it->status(statError)) || !velIPL::hasImageExtension(name)) continue;
    if (leftOutReason(it->path().string(), exclude).empty()) return "";
    ++images;
  }
  return images > 0 ? "every image file in it is left out (this program's pictures or --exclude)" : "";
}

std::vector<BatchSeries> folderSeries(const std::string& folder, const std::string& outputFolder,
                                      const std::vector<std::string>& exclude, std::vector<LeftOutFile>* leftOut) {
  std::vector<std::string> entries;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) throw PathError(folder, ec.message());
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) throw PathError(folder, ec.message());
    const std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    std::error_code statError;
    const fs::file_status status = it->status(statError);
    const std::string path = (fs::path(folder) / name).string();
    std::string reason;
    if (fs::is_directory(status)) {
      if (!outputFolder.empty() && sameFolder(path, outputFolder)) continue;
      reason = notASeries(path, exclude);
    } else if (fs::is_regular_file(status) && velIPL::hasImageExtension(name)) {
      reason = leftOutReason(path, exclude);
    } else {
      continue;
    }
    if (reason.empty()) {
      entries.push_back(path);
    } else if (leftOut) {
      leftOut->push_back({path, reason});
    }
  }
  if (ec) throw PathError(folder, ec.message());
  sortPaths(entries);
  std::vector<BatchSeries> series;
  for (const std::string& path : entries) {
    const fs::path p(path);
    std::error_code statError;
    const bool isFolder = fs::is_directory(p, statError);
    BatchSeries s;
    s.name = (isFolder ? p.filename() : p.stem()).string();
    s.inputs = {path};
    series.push_back(std::move(s));
  }
  if (series.empty()) throw PathError(folder, "No series in folder");
  return series;
}

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// Why a name cannot name a series' files, or "".
std::string nameProblem(const std::string& name) {
  if (name.empty()) return "empty series name";
  if (name == "." || name == "..") return "series name '" + name + "' is not a file name";
  if (name.find('/') != std::string::npos) return "series name '" + name + "' holds a '/'";
  return "";
}

template <typename Table>
std::string keysOf(const Table& table) {
  std::string keys;
  for (const auto& entry : table) keys += (keys.empty() ? "" : ", ") + std::string(entry.key);
  return keys;
}

}  // namespace

std::vector<BatchSeries> readManifest(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PathError(path, velIPL::systemErrorText(errno));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw PathError(path, "Cannot read file");
  std::vector<CsvRow> rows;
  try {
    rows = parseCsv(text.str());
  } catch (const std::invalid_argument& e) {
    throw PathError(path, e.what());
  }
  if (rows.empty()) throw PathError(path, "Empty manifest: no header line");

  const std::vector<std::string> known{"name", "inputs", "algorithm", "scale", "frames", "reject", "reference", "lateral",
                                        "denoise", "repeats", "layout"};
  std::string knownList;
  for (const std::string& k : known) knownList += (knownList.empty() ? "" : ", ") + k;
  std::map<std::string, std::size_t> column;
  for (std::size_t i = 0; i < rows[0].fields.size(); ++i) {
    const std::string heading = trimmed(rows[0].fields[i]);
    bool isKnown = false;
    for (const std::string& k : known) isKnown = isKnown || k == heading;
    if (!isKnown) throw PathError(path, "Unknown column '" + heading + "' (" + knownList + ")");
    if (!column.emplace(heading, i).second) throw PathError(path, "Column '" + heading + "' given twice");
  }
  for (const char* required : {"name", "inputs"}) {
    if (!column.count(required)) throw PathError(path, std::string("No '") + required + "' column");
  }

  const fs::path base = fs::path(path).parent_path();
  std::vector<BatchSeries> series;
  std::map<std::string, int> lineOf;
  for (std::size_t r = 1; r < rows.size(); ++r) {
    const CsvRow& row = rows[r];
    const std::string at = "Line " + std::to_string(row.line) + ": ";
    if (row.fields.size() > rows[0].fields.size()) throw PathError(path, at + "more fields than columns");
    const auto field = [&](const char* name) {
      const auto it = column.find(name);
      return it == column.end() || it->second >= row.fields.size() ? std::string() : trimmed(row.fields[it->second]);
    };
    BatchSeries s;
    s.name = field("name");
    const std::string problem = nameProblem(s.name);
    if (!problem.empty()) throw PathError(path, at + problem);
    if (!lineOf.emplace(s.name, row.line).second) {
      throw PathError(path, at + "series '" + s.name + "' already named on line " + std::to_string(lineOf[s.name]));
    }
    std::istringstream inputs(field("inputs"));
    for (std::string input; std::getline(inputs, input, ';');) {
      input = trimmed(input);
      if (input.empty()) continue;
      s.inputs.push_back(fs::path(input).is_absolute() || base.empty() ? input : (base / input).string());
    }
    if (s.inputs.empty()) throw PathError(path, at + "no inputs for series '" + s.name + "'");
    s.algorithm = field("algorithm");
    if (!s.algorithm.empty() && !findRegistrationMethod(s.algorithm)) {
      throw PathError(path, at + "unknown algorithm '" + s.algorithm + "' (" + keysOf(kRegistrationMethods) + ")");
    }
    s.scale = field("scale");
    if (!s.scale.empty() && colorScaleIndex(s.scale) < 0) {
      throw PathError(path, at + "unknown scale '" + s.scale + "' (" + keysOf(kColorScales) + ")");
    }
    s.frames = field("frames");
    // Each value from its short list; a frame number is checked by the merge.
    const auto oneOf = [&](const char* column, std::string value, const std::vector<std::string>& allowed,
                           bool number) {
      if (value.empty() || (number && value.find_first_not_of("0123456789") == std::string::npos)) return value;
      std::string list;
      for (const std::string& a : allowed) {
        if (a == value) return value;
        list += (list.empty() ? "" : ", ") + a;
      }
      throw PathError(path, at + "unknown " + column + " '" + value + "' (" + list + (number ? ", a frame number" : "") + ")");
    };
    s.reject = oneOf("reject", field("reject"), {"none", "auto"}, false);
    s.reference = oneOf("reference", field("reference"), {"first", "auto"}, true);
    s.lateral = oneOf("lateral", field("lateral"), {"yes", "no"}, false);
    s.denoise = field("denoise");
    if (!s.denoise.empty() && s.denoise != "none") {
      try {
        denoiseStrength(s.denoise);
      } catch (const std::invalid_argument& e) {
        throw PathError(path, at + e.what() + " (none, default or a strength)");
      }
    }
    s.repeats = field("repeats");
    if (!s.repeats.empty() && (s.repeats.find_first_not_of("0123456789") != std::string::npos ||
                               s.repeats.size() > 6 || std::stoi(s.repeats) < 1)) {
      throw PathError(path, at + "repeats '" + s.repeats + "' is not a positive number");
    }
    s.layout = oneOf("layout", field("layout"), {"grouped", "interleaved", "per-file"}, false);
    if (!s.layout.empty() && s.repeats.empty()) throw PathError(path, at + "a layout needs repeats");
    series.push_back(std::move(s));
  }
  if (series.empty()) throw PathError(path, "No series in manifest");
  return series;
}

std::vector<BatchSeries> listBatchSeries(const std::string& input, const std::string& outputFolder,
                                         const std::vector<std::string>& exclude, std::vector<LeftOutFile>* leftOut) {
  struct stat st {};
  if (::stat(input.c_str(), &st) != 0) throw PathError(input, velIPL::systemErrorText(errno));
  std::vector<BatchSeries> series;
  if (S_ISDIR(st.st_mode)) {
    series = folderSeries(input, outputFolder, exclude, leftOut);
  } else if (S_ISREG(st.st_mode) && endsWithCsv(input)) {
    series = readManifest(input);
  } else {
    throw PathError(input, "Not a folder of series or a manifest (.csv)");
  }
  std::map<std::string, std::string> firstInput;
  for (const BatchSeries& s : series) {
    const auto [it, fresh] = firstInput.emplace(s.name, s.inputs.front());
    if (!fresh) {
      throw PathError(input, "Two series named '" + s.name + "': " + it->second + " and " + s.inputs.front());
    }
  }
  return series;
}

Shard parseShard(const std::string& text) {
  const std::size_t slash = text.find('/');
  const auto number = [&](const std::string& part) {
    if (part.empty() || part.size() > 9 || part.find_first_not_of("0123456789") != std::string::npos) {
      throw std::invalid_argument("--shard takes K/N with 0 <= K < N, not '" + text + "'");
    }
    return std::stoi(part);
  };
  if (slash == std::string::npos) throw std::invalid_argument("--shard takes K/N with 0 <= K < N, not '" + text + "'");
  Shard shard{number(text.substr(0, slash)), number(text.substr(slash + 1))};
  if (shard.count < 1 || shard.index >= shard.count) {
    throw std::invalid_argument("--shard takes K/N with 0 <= K < N, not '" + text + "'");
  }
  return shard;
}

std::uint64_t fnv1a64(const std::string& text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

int shardOf(const std::string& name, int count) {
  return static_cast<int>(fnv1a64(name) % static_cast<std::uint64_t>(count));
}

}  // namespace lumifold
