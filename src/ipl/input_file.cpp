#include "ipl/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace velIPL {

namespace {

// A read-only, seekable stream buffer over a file descriptor it owns.
class FdInputBuffer : public std::streambuf {
public:
  FdInputBuffer() : data_(1 << 16) { setg(data_.data(), data_.data(), data_.data()); }
  ~FdInputBuffer() override {
    if (fd_ >= 0) ::close(fd_);
  }
  void attach(int fd) { fd_ = fd; }

protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    ssize_t n;
    do {
      n = ::read(fd_, data_.data(), data_.size());
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return traits_type::eof();
    end_ += n;
    setg(data_.data(), data_.data(), data_.data() + n);
    return traits_type::to_int_type(*gptr());
  }

  pos_type seekoff(off_type offset, std::ios_base::seekdir dir, std::ios_base::openmode which) override {
    if (!(which & std::ios_base::in)) return pos_type(off_type(-1));
    // The descriptor stands at end_, the end of what was buffered.
    off_type target = offset;
    if (dir == std::ios_base::cur) target = end_ - (egptr() - gptr()) + offset;
    // A position inside what is buffered (the next strip of a page, the
    // position itself asked for) costs no system call and keeps the bytes.
    const off_type first = end_ - (egptr() - eback());
    if (dir != std::ios_base::end && target >= first && target <= end_) {
      setg(eback(), eback() + (target - first), egptr());
      return pos_type(target);
    }
    const off_type result =
        dir == std::ios_base::end ? ::lseek(fd_, offset, SEEK_END) : ::lseek(fd_, target, SEEK_SET);
    if (result < 0) return pos_type(off_type(-1));
    end_ = result;
    setg(data_.data(), data_.data(), data_.data());
    return pos_type(result);
  }

  pos_type seekpos(pos_type position, std::ios_base::openmode which) override {
    return seekoff(off_type(position), std::ios_base::beg, which);
  }

private:
  int fd_ = -1;
  off_type end_ = 0;  // the file offset just past the buffered bytes
  std::vector<char> data_;
};

}  // namespace

InputFile::InputFile(const std::string& fileName) {
  // Allocated first, so the descriptor has an owner the moment it exists.
  auto buffer = std::make_unique<FdInputBuffer>();
  int fd;
  do {
    fd = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return;
  }
  // Regular files never block; clearing the flag keeps reads ordinary.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  buffer->attach(fd);
  buffer_ = std::move(buffer);
  stream_.rdbuf(buffer_.get());
}

InputFile::~InputFile() = default;

}  // namespace velIPL
