#include "cli/input_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/cli_error.h"
#include "ipl/image_decoder.h"
#include "ipl/ipl_exception.h"
#include "shell/path_order.h"

namespace lumifold {

namespace {

namespace fs = std::filesystem;

std::vector<std::string> imageFilesIn(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) throw CliError(folder, ec.message());
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) throw CliError(folder, ec.message());
    if (!velIPL::hasImageExtension(it->path().filename().string())) continue;
    std::error_code statError;
    // A symbolic link to a file counts as the file.
    if (fs::is_regular_file(it->status(statError))) files.push_back((fs::path(folder) / it->path().filename()).string());
  }
  if (ec) throw CliError(folder, ec.message());
  if (files.empty()) throw CliError(folder, "No image files in folder");
  sortPaths(files);
  return files;
}

}  // namespace

std::vector<std::string> expandInputs(const std::vector<std::string>& inputs, bool sortAll) {
  std::vector<std::string> paths;
  for (const std::string& input : inputs) {
    struct stat st {};
    if (::stat(input.c_str(), &st) != 0) {
      const int error = errno;
      throw CliError(input, velIPL::systemErrorText(error));
    }
    if (S_ISDIR(st.st_mode)) {
      const std::vector<std::string> files = imageFilesIn(input);
      paths.insert(paths.end(), files.begin(), files.end());
    } else if (S_ISREG(st.st_mode)) {
      paths.push_back(input);
    } else {
      throw CliError(input, "Not a file or folder");
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
    if (!unreadable.empty()) throw CliError(path, unreadable);

    velIPL::ImageFileInfo info;
    std::string message = "Unknown error";
    const bool ok = velIPL::probeImageFile(path, info, message);
    if (i == 0) {
      if (!ok) throw CliError(path, "Not a valid image file");
      series.width = info.width;
      series.height = info.height;
      series.bitsPerSample = info.bitsPerSample;
      series.pixelSpacingX = info.pixelSpacingX;
      series.pixelSpacingY = info.pixelSpacingY;
    } else {
      if (!ok) throw CliError(path, message);
      if (info.width != series.width || info.height != series.height) {
        throw CliError(path, "Image has not same dimensions as reference image");
      }
      if (info.bitsPerSample != series.bitsPerSample) {
        throw CliError(path, "Image has not same bit depth as reference image");
      }
    }
    series.frames.push_back(info.frames);
  }
  return series;
}

}  // namespace lumifold
