// PathError: a failure tied to a named file or folder, "PATH: REASON". The
// pipeline's own helpers throw it for problems with the files a merge reads
// or writes; the libraries keep their own exception types, which the
// pipeline wraps with the path it knows. Each front end shows it its way:
// the command line as "lumifold-cli: PATH: REASON" with status 1, Python as
// OSError or ValueError, the desktop program in its error dialog.
//
// UsageError: a request that parses but asks for something impossible
// (two outputs naming one file); the command line reports it like a
// malformed command line, with status 2.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace lumifold {

class PathError : public std::runtime_error {
public:
  PathError(std::string path, const std::string& reason) : std::runtime_error(reason), path_(std::move(path)) {}
  const std::string& path() const { return path_; }

private:
  std::string path_;
};

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace lumifold
