// A library the memory benchmark preloads into the program it measures: as
// the program ends it appends the program's own peak resident set (VmHWM,
// in KiB) to the file named by LUMIFOLD_PEAK_FILE. Only this way is the
// figure the program's alone: the kernel's ru_maxrss of a child also counts
// the pages it shared with its parent before exec.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

__attribute__((destructor)) void reportPeak() {
  const char* target = std::getenv("LUMIFOLD_PEAK_FILE");
  if (!target) return;
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, status)) {
    if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::atol(line + 6);
  }
  std::fclose(status);
  const int fd = ::open(target, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  char text[32];
  const int n = std::snprintf(text, sizeof text, "%ld\n", kib);
  if (n > 0) (void)!::write(fd, text, static_cast<std::size_t>(n));
  ::close(fd);
}

}  // namespace
