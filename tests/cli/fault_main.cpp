// lumifold-cli-faults: the command line with a progress sink that changes
// one file at the moment a merge starts, after every input has been checked
// and before any is read. The fault comes from LUMIFOLD_TEST_FAULT:
//   remove|PATH       deletes PATH (a file or an empty folder)
//   rename|FROM|TO    puts FROM in the place of TO in one step
//   folder|PATH       deletes the file PATH and makes a folder of that name
//   readonly|PATH     takes away everyone's write permission on PATH
// Relative paths are taken from the program's working folder. A fault that
// cannot be made ends the program with status 3, so that no test passes
// because nothing happened.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <deque>
#include <vector>

#include "cli/command_line.h"

namespace {

std::vector<std::string> fields(const std::string& text) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == '|') {
      parts.emplace_back();
    } else {
      parts.back().push_back(c);
    }
  }
  return parts;
}

[[noreturn]] void cannot(const std::string& fault) {
  std::fprintf(stderr, "lumifold-cli-faults: cannot make the fault '%s'\n", fault.c_str());
  std::exit(3);
}

void makeFault(const std::string& fault) {
  const std::vector<std::string> f = fields(fault);
  if (f.size() == 2 && f[0] == "remove") {
    if (std::remove(f[1].c_str()) != 0) cannot(fault);
  } else if (f.size() == 3 && f[0] == "rename") {
    if (std::rename(f[1].c_str(), f[2].c_str()) != 0) cannot(fault);
  } else if (f.size() == 2 && f[0] == "folder") {
    if (std::remove(f[1].c_str()) != 0 || ::mkdir(f[1].c_str(), 0755) != 0) cannot(fault);
  } else if (f.size() == 2 && f[0] == "readonly") {
    struct stat st {};
    if (::stat(f[1].c_str(), &st) != 0 || ::chmod(f[1].c_str(), st.st_mode & 07555) != 0) cannot(fault);
  } else {
    cannot(fault);
  }
}

// Makes the fault as the merge starts, then passes everything on.
class FaultingProgress : public lumifold::MergeProgress {
public:
  FaultingProgress(std::string fault, lumifold::MergeProgress& shown) : fault_(std::move(fault)), shown_(shown) {}
  void start(int imageCount) override {
    if (!fault_.empty()) makeFault(fault_);
    shown_.start(imageCount);
  }
  void step() override { shown_.step(); }

private:
  std::string fault_;
  lumifold::MergeProgress& shown_;
};

class FaultEnvironment : public lumifold::SystemEnvironment {
public:
  lumifold::MergeProgress& mergeProgress(lumifold::MergeProgress& shown) override {
    const char* fault = std::getenv("LUMIFOLD_TEST_FAULT");
    progress_.emplace_back(fault ? fault : "", shown);
    return progress_.back();
  }

private:
  std::deque<FaultingProgress> progress_;
};

}  // namespace

int main(int argc, char** argv) {
  FaultEnvironment environment;
  return lumifold::runCommandLine(argc, argv, environment);
}
