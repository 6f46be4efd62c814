#include "pipeline/output_name.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace lumifold {

std::string bmpTargetName(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    return name.substr(0, dot) + ".bmp";
  }
  return name + ".bmp";
}

std::string outputProblem(const std::string& path) {
  if (path.empty() || path.back() == '/') return "Missing file name";
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));

  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return "Is a folder";
    // A file that may be written can always be: replaced through a
    // temporary file beside it, or in place where its folder takes no file.
    return ::access(path.c_str(), W_OK) != 0 ? "Permission denied" : "";
  } else if (errno == ENOTDIR) {
    return "Not a folder";
  }
  if (::stat(folder.c_str(), &st) != 0) return errno == ENOTDIR ? "Not a folder" : "No such folder";
  if (!S_ISDIR(st.st_mode)) return "Not a folder";
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return "Permission denied";
  return "";
}

}  // namespace lumifold
