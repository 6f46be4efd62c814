// CliError: a failure the command line reports as "lumifold-cli: PATH: REASON"
// and ends the run with status 1. Thrown by the command line's own helpers
// for problems with a named file or folder; the libraries keep their own
// exception types, which the command line wraps with the path it knows.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace lumifold {

class CliError : public std::runtime_error {
public:
  CliError(std::string path, const std::string& reason) : std::runtime_error(reason), path_(std::move(path)) {}
  const std::string& path() const { return path_; }

private:
  std::string path_;
};

}  // namespace lumifold
