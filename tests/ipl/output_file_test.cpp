// OutputFile's failures name the system's reason, so that an edge that
// writes more than images (the command line's shift tables) can use it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

#include "ipl/ipl_exception.h"
#include "ipl/output_file.h"
#include "scratch_folder.h"

namespace {

// The system error a write of contents to path fails with, 0 when it works.
int systemErrorOf(const std::string& path, const std::string& contents) {
  try {
    velIPL::OutputFile file(path);
    file.stream() << contents;
    file.commit();
  } catch (const velIPL::IPLException& e) {
    return e.systemError();
  }
  return 0;
}

}  // namespace

TEST(OutputFile, FailuresCarryTheSystemsErrorNumber) {
  const testutil::ScratchFolder folder;
  const std::string dir = folder.path().string();

  // Any bytes may be written, not only images.
  EXPECT_EQ(systemErrorOf(dir + "/table.csv", "frame,shift\n"), 0);
  std::ifstream in(dir + "/table.csv");
  std::stringstream written;
  written << in.rdbuf();
  EXPECT_EQ(written.str(), "frame,shift\n");

  EXPECT_EQ(systemErrorOf(dir + "/missing/table.csv", "x"), ENOENT);
  EXPECT_EQ(systemErrorOf(dir, "x"), EISDIR);
  struct stat info;
  if (::stat("/dev/full", &info) == 0) {
    EXPECT_EQ(systemErrorOf("/dev/full", std::string(1 << 17, 'x')), ENOSPC);
  }
  // Failures of the library's own, such as an image without pixels, carry none.
  EXPECT_EQ(velIPL::IPLException("Empty image").systemError(), 0);
}
