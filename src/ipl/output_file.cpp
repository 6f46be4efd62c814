#include "ipl/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ipl/ipl_exception.h"

namespace velIPL {

namespace {

// A write-only stream buffer over a descriptor it does not own. A failed
// write (a full disk) makes overflow and sync fail, which sets the stream's
// badbit; error() then tells why.
class FdOutputBuffer : public std::streambuf {
public:
  FdOutputBuffer() : data_(1 << 16) { setp(data_.data(), data_.data() + data_.size()); }
  void attach(int fd) { fd_ = fd; }
  // The errno of the first failed write; 0 while none failed.
  int error() const { return error_; }

protected:
  int_type overflow(int_type c) override {
    if (!drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }

  int sync() override { return drain() ? 0 : -1; }

private:
  bool drain() {
    const char* p = pbase();
    std::size_t left = static_cast<std::size_t>(pptr() - pbase());
    while (left > 0) {
      const ssize_t n = ::write(fd_, p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (error_ == 0) error_ = errno;
        return false;
      }
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    setp(data_.data(), data_.data() + data_.size());
    return true;
  }

  int fd_ = -1;
  int error_ = 0;
  std::vector<char> data_;
};

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int openRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Gives the file open at fd the owner, group and permission bits of old;
// false when the system does not allow all of them.
bool takeOwnerAndMode(int fd, const struct stat& old) {
  struct stat now;
  if (::fstat(fd, &now) != 0) return false;
  if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) && ::fchown(fd, old.st_uid, old.st_gid) != 0) {
    return false;
  }
  // After the owner, whose change clears the set-user-ID bit.
  if (::fchmod(fd, old.st_mode & 07777) != 0) return false;
  // The system may quietly drop a set-group-ID bit rather than refuse it.
  return ::fstat(fd, &now) == 0 && now.st_uid == old.st_uid && now.st_gid == old.st_gid &&
         (now.st_mode & 07777) == (old.st_mode & 07777);
}

// Errors of making a file in a folder that say only that this user may not
// add a file there; the existing file itself may still be written.
bool folderRefuses(int error) { return error == EACCES || error == EPERM || error == EROFS; }

}  // namespace

OutputFile::OutputFile(const std::string& fileName) : fileName_(fileName), target_(fileName) {
  // Allocated before the file exists, so nothing can fail between creating
  // the temporary file and owning it.
  auto buffer = std::make_unique<FdOutputBuffer>();
  struct stat info;
  if (::stat(fileName.c_str(), &info) != 0) {
    if (const int error = openTemporary(); error != 0) failOpen(error);
  } else if (S_ISREG(info.st_mode)) {
    openRegular();
  } else {
    way_ = Way::device;
    fd_ = openRetrying(fileName.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) failOpen(errno);
  }
  buffer->attach(fd_);
  buffer_ = std::move(buffer);
  stream_.rdbuf(buffer_.get());
}

int OutputFile::openTemporary() {
  // Hidden, and short enough that a long target name still leaves room
  // for the suffix within the 255 bytes a file name may have.
  const std::string stem = folderOf(target_) + "/." + baseOf(target_).substr(0, 200) + ".";
  static std::atomic<unsigned> counter{0};
  const auto salt = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  int error = EEXIST;
  for (int attempt = 0; attempt < 16 && error == EEXIST; ++attempt) {
    const std::string candidate = stem + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                                  std::to_string(salt % 1000000007u) + ".tmp";
    // Mode 0666 lets the umask decide, as for any new file.
    fd_ = openRetrying(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      temporary_ = candidate;
      way_ = Way::replace;
      return 0;
    }
    error = errno;
  }
  return error;
}

void OutputFile::openRegular() {
  // Replace the file a link points to, not the link.
  if (char* real = ::realpath(fileName_.c_str(), nullptr)) {
    target_ = real;
    std::free(real);
  }
  // Opening the file for writing asks the system itself whether this user
  // may write it, on this file system, and changes nothing. Not blocking,
  // in case a pipe has taken the file's place meanwhile.
  const int existing = openRetrying(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (existing < 0) failOpen(errno);
  const int flags = ::fcntl(existing, F_GETFL);
  if (flags >= 0) ::fcntl(existing, F_SETFL, flags & ~O_NONBLOCK);
  struct stat old;
  if (::fstat(existing, &old) != 0) {
    const int error = errno;
    ::close(existing);
    failOpen(error);
  }
  if (S_ISREG(old.st_mode) && old.st_nlink == 1) {
    const int error = openTemporary();
    if (error == 0 && takeOwnerAndMode(fd_, old)) {
      ::close(existing);
      return;
    }
    discard();
    if (error != 0 && !folderRefuses(error)) {
      ::close(existing);
      failOpen(error);
    }
  }
  fd_ = existing;
  way_ = S_ISREG(old.st_mode) ? Way::overwrite : Way::device;
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::commit() {
  stream_.flush();
  if (!stream_.good()) {
    const int error = static_cast<FdOutputBuffer*>(buffer_.get())->error();
    fail(error != 0 ? error : EIO);
  }
  if (way_ == Way::overwrite) {
    // The old content may have been longer.
    const off_t length = ::lseek(fd_, 0, SEEK_CUR);
    if (length < 0 || ::ftruncate(fd_, length) != 0) fail(errno);
  }
  if (way_ != Way::device) {
    if (::fsync(fd_) != 0) fail(errno);
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) fail(errno);
  if (!temporary_.empty()) {
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) fail(errno);
    temporary_.clear();
  }
}

void OutputFile::failOpen(int error) {
  discard();
  throw IPLException("Cannot open image file " + fileName_, error);
}

void OutputFile::fail(int error) {
  discard();
  throw IPLException("Cannot write image file " + fileName_, error);
}

void OutputFile::discard() noexcept {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
}

}  // namespace velIPL
