#include "pipeline/file_support.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "pipeline/path_error.h"
#include "pipeline/output_name.h"
#include "ipl/ipl_exception.h"

namespace lumifold {

double seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string formatSeconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", s);
  return text;
}

std::string reasonFor(const std::string& message, const std::string& path) {
  const std::string suffix = " " + path;
  if (message.size() > suffix.size() && message.compare(message.size() - suffix.size(), suffix.size(), suffix) == 0) {
    return message.substr(0, message.size() - suffix.size());
  }
  return message;
}

std::string pictureName(const std::string& name) {
  std::error_code ec;
  const auto status = std::filesystem::status(name, ec);
  if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
      !std::filesystem::is_directory(status)) {
    return name;
  }
  return bmpTargetName(name);
}

void writePicture(const velIPL::RGBImage& picture, const std::string& path) {
  try {
    picture.save(path);
  } catch (const velIPL::IPLException& e) {
    std::string reason = reasonFor(e.what(), path);
    if (e.systemError() != 0) reason += std::string(": ") + std::strerror(e.systemError());
    throw PathError(path, reason);
  }
}

velIPL::GImage readGrey(const std::string& path) {
  try {
    return velIPL::GImage(path);
  } catch (const velIPL::IPLException& e) {
    throw PathError(path, reasonFor(e.what(), path));
  }
}

}  // namespace lumifold
