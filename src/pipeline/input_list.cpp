#include "pipeline/input_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fnmatch.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "pipeline/path_error.h"
#include "pipeline/file_support.h"
#include "ipl/image_decoder.h"
#include "ipl/ipl_exception.h"
#include "shell/own_outputs.h"
#include "shell/path_order.h"

namespace lumifold {

namespace {

namespace fs = std::filesystem;

std::vector<std::string> imageFilesIn(const std::string& folder, const std::vector<std::string>& exclude,
                                      std::vector<LeftOutFile>* leftOut) {
  std::vector<std::string> files;
  std::vector<LeftOutFile> left;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) throw PathError(folder, ec.message());
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) throw PathError(folder, ec.message());
    if (!velIPL::hasImageExtension(it->path().filename().string())) continue;
    std::error_code statError;
    // A symbolic link to a file counts as the file.
    if (!fs::is_regular_file(it->status(statError))) continue;
    std::string path = (fs::path(folder) / it->path().filename()).string();
    std::string reason = leftOutReason(path, exclude);
    if (reason.empty()) {
      files.push_back(std::move(path));
    } else {
      left.push_back({std::move(path), std::move(reason)});
    }
  }
  if (ec) throw PathError(folder, ec.message());
  if (files.empty()) {
    throw PathError(folder, left.empty() ? "No image files in folder"
                                        : "No image files in folder (" + std::to_string(left.size()) +
                                              " left out as this program's pictures or by --exclude)");
  }
  sortPaths(files);
  std::sort(left.begin(), left.end(), [](const LeftOutFile& a, const LeftOutFile& b) { return a.path < b.path; });
  if (leftOut) leftOut->insert(leftOut->end(), left.begin(), left.end());
  return files;
}

}  // namespace

std::string leftOutReason(const std::string& path, const std::vector<std::string>& exclude) {
  const std::string name = fs::path(path).filename().string();
  for (const std::string& glob : exclude) {
    if (::fnmatch(glob.c_str(), name.c_str(), 0) == 0 || ::fnmatch(glob.c_str(), path.c_str(), 0) == 0) {
      return "matches --exclude " + glob;
    }
  }
  // Only PNG and TIFF pictures carry the mark, and we name ours so; their
  // headers are read again when the series is checked, which costs little.
  std::string extension = fs::path(name).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension != ".png" && extension != ".tif" && extension != ".tiff") return "";
  velIPL::ImageFileInfo info;
  std::string message;
  if (velIPL::inspectImageFile(path, info, message) && isOwnOutput(info)) return "a picture " + info.software + " wrote";
  return "";
}

std::vector<std::string> expandInputs(const std::vector<std::string>& inputs, bool sortAll,
                                      const std::vector<std::string>& exclude, std::vector<LeftOutFile>* leftOut) {
  std::vector<std::string> paths;
  for (const std::string& input : inputs) {
    struct stat st {};
    if (::stat(input.c_str(), &st) != 0) {
      const int error = errno;
      throw PathError(input, velIPL::systemErrorText(error));
    }
    if (S_ISDIR(st.st_mode)) {
      const std::vector<std::string> files = imageFilesIn(input, exclude, leftOut);
      paths.insert(paths.end(), files.begin(), files.end());
    } else if (S_ISREG(st.st_mode)) {
      paths.push_back(input);
    } else {
      throw PathError(input, "Not a file or folder");
    }
  }
  if (sortAll) sortPaths(paths);
  return paths;
}

std::string unreadableReason(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    return velIPL::systemErrorText(errno);
  }
  if (S_ISDIR(st.st_mode)) return "Is a folder";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  return "";
}

SeriesSize checkSeries(const std::vector<std::string>& paths) {
  SeriesSize series;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::string& path = paths[i];
    const std::string unreadable = unreadableReason(path);
    if (!unreadable.empty()) throw PathError(path, unreadable);

    velIPL::ImageFileInfo info;
    std::string message;
    const bool ok = velIPL::probeImageFile(path, info, message);
    if (!ok && message.empty()) message = "Unknown error";
    if (i == 0) {
      // The desktop program's words first, then the reason it never shows.
      if (!ok) throw PathError(path, "Not a valid image file: " + message);
      series.width = info.width;
      series.height = info.height;
      series.bitsPerSample = info.bitsPerSample;
      series.pixelSpacingX = info.pixelSpacingX;
      series.pixelSpacingY = info.pixelSpacingY;
      series.sliceSpacing = info.sliceSpacing;
    } else {
      if (!ok) throw PathError(path, message);
      if (info.width != series.width || info.height != series.height) {
        throw PathError(path, "Image has not same dimensions as reference image");
      }
      if (info.bitsPerSample != series.bitsPerSample) {
        throw PathError(path, "Image has not same bit depth as reference image");
      }
    }
    series.frames.push_back(info.frames);
  }
  return series;
}

}  // namespace lumifold
