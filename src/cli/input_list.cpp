#include "cli/input_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/cli_error.h"
#include "ipl/bmp_info.h"
#include "shell/path_order.h"

namespace lumifold {

namespace {

namespace fs = std::filesystem;

// Rows of an image whose header gives height: a negative height marks a
// top-down file. Wide enough for the most negative header value.
long long rowsOf(int height) { return height < 0 ? -static_cast<long long>(height) : height; }

bool hasBmpExtension(const fs::path& name) {
  const std::string ext = name.extension().string();
  return ext.size() == 4 && ext[0] == '.' && (ext[1] | 0x20) == 'b' && (ext[2] | 0x20) == 'm' &&
         (ext[3] | 0x20) == 'p';
}

std::vector<std::string> bmpFilesIn(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) throw CliError(folder, ec.message());
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) throw CliError(folder, ec.message());
    if (!hasBmpExtension(it->path().filename())) continue;
    std::error_code statError;
    // A symbolic link to a file counts as the file.
    if (fs::is_regular_file(it->status(statError))) files.push_back((fs::path(folder) / it->path().filename()).string());
  }
  if (ec) throw CliError(folder, ec.message());
  if (files.empty()) throw CliError(folder, "No BMP files in folder");
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
      throw CliError(input, error == ENOENT ? "No such file or folder" : std::strerror(error));
    }
    if (S_ISDIR(st.st_mode)) {
      const std::vector<std::string> files = bmpFilesIn(input);
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
    return errno == ENOENT ? "No such file or folder" : std::strerror(errno);
  }
  if (S_ISDIR(st.st_mode)) return "Is a folder";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  return "";
}

SeriesSize checkSeries(const std::vector<std::string>& paths) {
  int referenceWidth = 0;
  long long referenceRows = 0;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::string& path = paths[i];
    const std::string unreadable = unreadableReason(path);
    if (!unreadable.empty()) throw CliError(path, unreadable);

    velIPL::BmpInfo info;
    int width = 0;
    int height = 0;
    std::string message = "Unknown error";
    const bool ok = info.probeFile(path, width, height, message);
    if (i == 0) {
      if (!ok) throw CliError(path, "Not a valid image file");
      referenceWidth = width;
      referenceRows = rowsOf(height);
      continue;
    }
    if (!ok) throw CliError(path, message);
    if (width != referenceWidth || rowsOf(height) != referenceRows) {
      throw CliError(path, "Image has not same dimensions as reference image");
    }
  }
  return {referenceWidth, static_cast<int>(std::min<long long>(referenceRows, INT_MAX))};
}

}  // namespace lumifold
