#include "cli/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/cli_error.h"

namespace lumifold {

namespace {

// Writes all of contents to fd; returns 0 or the errno of the failure.
int writeAll(int fd, const std::string& contents) {
  const char* p = contents.data();
  std::size_t left = contents.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return 0;
}

[[noreturn]] void fail(const std::string& path, int error) { throw CliError(path, std::strerror(error)); }

}  // namespace

void writeFileSafely(const std::string& path, const std::string& contents) {
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) throw CliError(path, "Is a folder");

  if (exists && !S_ISREG(st.st_mode)) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) fail(path, errno);
    const int error = writeAll(fd, contents);
    if (::close(fd) != 0 && error == 0) fail(path, errno);
    if (error != 0) fail(path, error);
    return;
  }

  // Through a symbolic link, the file it points to is replaced, not the link.
  std::string target = path;
  if (exists) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
  }
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    temporary = target + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || attempt > 100)) fail(path, errno);
  }
  // A replaced file keeps its permissions; a new one gets the umask's.
  int error = exists && ::fchmod(fd, st.st_mode & 07777) != 0 ? errno : 0;
  if (error == 0) error = writeAll(fd, contents);
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    fail(path, error);
  }
}

}  // namespace lumifold
