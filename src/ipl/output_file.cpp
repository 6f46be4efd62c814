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

}  // namespace

OutputFile::OutputFile(const std::string& fileName) : fileName_(fileName), target_(fileName) {
  // Allocated before the file exists, so nothing can fail between creating
  // the temporary file and owning it.
  auto buffer = std::make_unique<FdOutputBuffer>();
  struct stat info;
  const bool exists = ::stat(fileName.c_str(), &info) == 0;
  int openError = 0;
  if (exists && !S_ISREG(info.st_mode)) {
    fd_ = openRetrying(fileName.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) openError = errno;
  } else {
    if (exists) {
      // Replace the file a link points to, not the link.
      if (char* real = ::realpath(fileName.c_str(), nullptr)) {
        target_ = real;
        std::free(real);
      }
    }
    // Hidden, and short enough that a long target name still leaves room
    // for the suffix within the 255 bytes a file name may have.
    const std::string stem = folderOf(target_) + "/." + baseOf(target_).substr(0, 200) + ".";
    static std::atomic<unsigned> counter{0};
    const auto salt = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 16 && fd_ < 0; ++attempt) {
      const std::string candidate = stem + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                                    std::to_string(salt % 1000000007u) + ".tmp";
      // Mode 0666 lets the umask decide, as for any new file.
      fd_ = openRetrying(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
      if (fd_ >= 0) {
        temporary_ = candidate;
        break;
      }
      openError = errno;
      if (openError != EEXIST) break;
    }
    if (fd_ >= 0 && exists) ::fchmod(fd_, info.st_mode & 07777);
  }
  if (fd_ < 0) throw IPLException("Cannot open image file " + fileName_, openError);
  buffer->attach(fd_);
  buffer_ = std::move(buffer);
  stream_.rdbuf(buffer_.get());
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::commit() {
  stream_.flush();
  if (!stream_.good()) {
    const int error = static_cast<FdOutputBuffer*>(buffer_.get())->error();
    fail(error != 0 ? error : EIO);
  }
  if (!temporary_.empty()) {
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
