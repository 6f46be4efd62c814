#include "pipeline/safe_file.h"

#include <sys/stat.h>

#include <cstring>

#include "pipeline/path_error.h"
#include "ipl/ipl_exception.h"
#include "ipl/output_file.h"

namespace lumifold {

void writeFileSafely(const std::string& path, const std::string& contents) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) throw PathError(path, "Is a folder");
  try {
    velIPL::OutputFile file(path);
    file.stream().write(contents.data(), static_cast<std::streamsize>(contents.size()));
    file.commit();
  } catch (const velIPL::IPLException& e) {
    // The library's words speak of image files; the system's reason fits
    // any file.
    throw PathError(path, e.systemError() != 0 ? std::strerror(e.systemError()) : e.what());
  }
}

}  // namespace lumifold
