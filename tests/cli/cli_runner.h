// Running lumifold-cli (or its fault-injection build) from a test: in a
// given folder, stdin empty, stdout and stderr captured, so neither is a
// terminal; optionally with a fault, as the user nobody, with a file size
// limit, or sent a signal once it has said something. And the small
// helpers the command-line tests share.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "pipeline/path_error.h"

namespace clitest {

constexpr uid_t kNobody = 65534;

struct CliRun {
  int status = -1;  // the exit status, or 128 + the signal that ended it
  bool killed = false;  // ended by a signal
  std::string out;
  std::string err;
};

// How the program is run besides its arguments.
struct Conditions {
  std::string fault;              // LUMIFOLD_TEST_FAULT for lumifold-cli-faults
  bool unprivileged = false;      // as nobody when the tests run as root
  long long fileSizeLimit = -1;   // bytes a file may grow to, as on a full disk
  // When set, signal is sent to the program as soon as its stderr holds
  // signalAt (which the run then reads through a pipe).
  int signal = 0;
  std::string signalAt = {};
};

// Runs program with args in folder dir; relative names in args are taken
// from dir.
CliRun runCli(const std::string& program, const std::string& dir, const std::vector<std::string>& args,
              const Conditions& how = {});

// The frame files of a simulated series of n frames in folder.
std::vector<std::string> seriesFrames(const std::string& folder, int n);

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b);

// "PATH: REASON" of the PathError f throws, or "<nothing thrown>".
template <typename F>
std::string cliErrorOf(F&& f) {
  try {
    f();
  } catch (const lumifold::PathError& e) {
    return e.path() + ": " + e.what();
  }
  return "<nothing thrown>";
}

}  // namespace clitest
