// OutputFile's failures name the system's reason, so that an edge that
// writes more than images (the command line's shift tables) can use it; and
// it writes only what the user may write, replacing a file only where the
// replacement can be the same file to its owner, group, mode and links.
// Permissions mean nothing to root, so as root the unprivileged cases run
// in a child process that has become the user nobody.
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "ipl/ipl_exception.h"
#include "ipl/output_file.h"
#include "scratch_folder.h"

namespace fs = std::filesystem;
using testutil::readAll;
using testutil::writeText;

namespace {

constexpr uid_t kNobody = 65534;

struct Outcome {
  std::string message;  // empty when the write worked
  int error = 0;
};

Outcome write(const std::string& path, const std::string& contents) {
  try {
    velIPL::OutputFile file(path);
    file.stream() << contents;
    file.commit();
  } catch (const velIPL::IPLException& e) {
    return {e.what(), e.systemError()};
  }
  return {};
}

// The system error a write of contents to path fails with, 0 when it works.
int systemErrorOf(const std::string& path, const std::string& contents) { return write(path, contents).error; }

// write() as an unprivileged user: here for an ordinary user, in a child
// process that has become nobody for root. Empty when root cannot.
std::optional<Outcome> writeUnprivileged(const std::string& path, const std::string& contents) {
  if (::geteuid() != 0) return write(path, contents);
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return std::nullopt;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeEnds[0]);
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(125);
    const Outcome outcome = write(path, contents);
    const std::string report = std::to_string(outcome.error) + " " + outcome.message;
    for (std::size_t sent = 0; sent < report.size();) {
      const ssize_t n = ::write(pipeEnds[1], report.data() + sent, report.size() - sent);
      if (n <= 0) ::_exit(125);
      sent += static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(pipeEnds[1]);
  std::string report;
  char chunk[256];
  for (ssize_t n; (n = ::read(pipeEnds[0], chunk, sizeof chunk)) > 0;) {
    report.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(pipeEnds[0]);
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return std::nullopt;
  }
  std::istringstream in(report);
  Outcome outcome;
  in >> outcome.error;
  in.get();
  std::getline(in, outcome.message);
  return outcome;
}

struct stat statOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info;
}

std::size_t entriesIn(const std::string& folder) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

}  // namespace

TEST(OutputFile, FailuresCarryTheSystemsErrorNumber) {
  const testutil::ScratchFolder folder;
  const std::string dir = folder.path().string();

  // Any bytes may be written, not only images.
  EXPECT_EQ(systemErrorOf(dir + "/table.csv", "frame,shift\n"), 0);
  EXPECT_EQ(readAll(dir + "/table.csv"), "frame,shift\n");

  EXPECT_EQ(systemErrorOf(dir + "/missing/table.csv", "x"), ENOENT);
  EXPECT_EQ(systemErrorOf(dir, "x"), EISDIR);
  struct stat info;
  if (::stat("/dev/full", &info) == 0) {
    EXPECT_EQ(systemErrorOf("/dev/full", std::string(1 << 17, 'x')), ENOSPC);
  }
  // Failures of the library's own, such as an image without pixels, carry none.
  EXPECT_EQ(velIPL::IPLException("Empty image").systemError(), 0);
}

// As the user who owns the files: a read-only file is refused and kept, in
// a folder that takes new files or not; a writable file in a folder that
// takes none is written in place; one whose owner the user may not give
// its replacement is written in place too, keeping owner, group and mode.
TEST(OutputFile, WritesOnlyWhatTheUserMayWrite) {
  const testutil::ScratchFolder folder;
  // Others may pass through it, so that nobody reaches the folders inside.
  fs::permissions(folder.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  const bool root = ::geteuid() == 0;
  const uid_t user = root ? kNobody : ::geteuid();
  const gid_t group = root ? kNobody : ::getegid();
  const std::string open = folder.file("open");
  const std::string closed = folder.file("closed");
  for (const std::string& dir : {open, closed}) {
    fs::create_directory(dir);
    ASSERT_EQ(::chown(dir.c_str(), user, group), 0);
  }
  const auto file = [&](const std::string& path, mode_t mode) {
    writeText(path, "the user's earlier picture, longer than the new one");
    EXPECT_EQ(::chown(path.c_str(), user, group), 0);
    EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    return path;
  };
  const std::string lockedInOpen = file(open + "/locked.bmp", 0444);
  const std::string lockedInClosed = file(closed + "/locked.bmp", 0444);
  const std::string freeInClosed = file(closed + "/free.bmp", 0640);
  ASSERT_EQ(::chmod(closed.c_str(), 0555), 0);

  for (const std::string& locked : {lockedInOpen, lockedInClosed}) {
    SCOPED_TRACE(locked);
    const ino_t inode = statOf(locked).st_ino;
    const std::optional<Outcome> refused = writeUnprivileged(locked, "new");
    if (!refused) GTEST_SKIP() << "running as root without a way to become nobody: permissions untested";
    EXPECT_EQ(refused->message, "Cannot open image file " + locked);
    EXPECT_EQ(refused->error, EACCES);
    EXPECT_EQ(readAll(locked), "the user's earlier picture, longer than the new one");
    EXPECT_EQ(statOf(locked).st_ino, inode);
    EXPECT_EQ(statOf(locked).st_mode & 07777, 0444u);
  }
  EXPECT_EQ(entriesIn(open), 1u);

  // No temporary file can be made beside it, so it is written in place.
  const ino_t inode = statOf(freeInClosed).st_ino;
  EXPECT_EQ(writeUnprivileged(freeInClosed, "new")->message, "");
  EXPECT_EQ(readAll(freeInClosed), "new");
  EXPECT_EQ(statOf(freeInClosed).st_ino, inode);
  EXPECT_EQ(statOf(freeInClosed).st_mode & 07777, 0640u);
  EXPECT_EQ(writeUnprivileged(closed + "/new.bmp", "new")->message, "Cannot open image file " + closed + "/new.bmp");
  EXPECT_EQ(entriesIn(closed), 2u);
  ASSERT_EQ(::chmod(closed.c_str(), 0755), 0);

  if (!root) return;  // only root makes a file of another owner
  // Writable through its group, owned by root: nobody may not give a
  // replacement root's name.
  const std::string shared = file(open + "/shared.bmp", 0664);
  ASSERT_EQ(::chown(shared.c_str(), 0, kNobody), 0);
  const ino_t sharedInode = statOf(shared).st_ino;
  EXPECT_EQ(writeUnprivileged(shared, "new")->message, "");
  EXPECT_EQ(readAll(shared), "new");
  const struct stat after = statOf(shared);
  EXPECT_EQ(after.st_ino, sharedInode);
  EXPECT_EQ(after.st_uid, 0u);
  EXPECT_EQ(after.st_gid, kNobody);
  EXPECT_EQ(after.st_mode & 07777, 0664u);

  // Root may give it any owner, so the file is replaced whole and keeps
  // owner, group and mode.
  ASSERT_EQ(::chown(shared.c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 0604), 0);
  EXPECT_EQ(write(shared, "newer").message, "");
  EXPECT_EQ(readAll(shared), "newer");
  const struct stat replaced = statOf(shared);
  EXPECT_NE(replaced.st_ino, sharedInode);
  EXPECT_EQ(replaced.st_uid, kNobody);
  EXPECT_EQ(replaced.st_gid, kNobody);
  EXPECT_EQ(replaced.st_mode & 07777, 0604u);
  EXPECT_EQ(entriesIn(open), 2u);
}

// A file of several names is one file: each name shows the new content.
TEST(OutputFile, HardLinkedFileIsWrittenInPlace) {
  const testutil::ScratchFolder folder;
  const std::string first = writeText(folder.file("result.bmp"), "the earlier picture, longer than the new one");
  const std::string second = folder.file("report.bmp");
  ASSERT_EQ(::link(first.c_str(), second.c_str()), 0);
  EXPECT_EQ(write(second, "new").message, "");
  EXPECT_EQ(readAll(first), "new");
  EXPECT_EQ(statOf(first).st_ino, statOf(second).st_ino);
  EXPECT_EQ(statOf(first).st_nlink, 2u);
  EXPECT_EQ(entriesIn(folder.path().string()), 2u);

  // A failure before the first byte leaves it as it was.
  {
    velIPL::OutputFile abandoned(first);
  }
  EXPECT_EQ(readAll(second), "new");
}
