// CliEnvironment: everything the command line touches outside its own
// arguments and files: its two streams, whether stderr is a terminal a user
// watches, and the progress sink a merge reports through.
//
// The program runs with SystemEnvironment (std::cout, std::cerr, the real
// terminal test). Tests derive from either class and replace one piece: run
// the commands in-process with string streams, or change files at the moment
// a merge starts, after every check and before the first read, by wrapping
// the progress sink. The environment must outlive the command it runs.
#pragma once

#include <ostream>

#include "merge/merge_progress.h"

namespace lumifold {

class CliEnvironment {
public:
  virtual ~CliEnvironment() = default;

  // Results and summaries.
  virtual std::ostream& out() = 0;
  // Failures and progress.
  virtual std::ostream& err() = 0;
  // True when err() reaches a terminal, where progress is drawn as a bar.
  virtual bool errIsTerminal() const = 0;

  // The sink a merge reports its progress through; shown is what the user
  // sees, and the default passes the merge straight to it. A replacement
  // must pass every call on to shown.
  virtual MergeProgress& mergeProgress(MergeProgress& shown) { return shown; }
};

class SystemEnvironment : public CliEnvironment {
public:
  std::ostream& out() override;
  std::ostream& err() override;
  bool errIsTerminal() const override;
};

}  // namespace lumifold
