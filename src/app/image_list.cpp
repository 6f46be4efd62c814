#include "app/image_list.h"

#include <cstdlib>
#include <string>

#include "app/file_names.h"
#include "ipl/image_decoder.h"

namespace lumifold {

std::optional<QString> ImageList::admit(const QString& path) {
  // Stays when the file exists but cannot be opened: the probe then leaves
  // the reason as it found it.
  std::string reason = "Unknown error";
  velIPL::ImageFileInfo info;
  const bool ok = velIPL::probeImageFile(localPath(path), info, reason);
  const int width = info.width;
  // Negative for a top-down file, as the BMP header gives it.
  const int height = info.topDown ? -info.height : info.height;
  if (entries_.isEmpty()) {
    if (!ok) return QStringLiteral("Not a valid image file");
    refWidth_ = width;
    refHeight_ = height;
  } else {
    if (!ok) return QString::fromStdString(reason);
    // A top-down file reports its height negative; it is still the same
    // size as a bottom-up one of that height.
    if (width != refWidth_ || std::abs(height) != std::abs(refHeight_)) {
      return QStringLiteral("Image has not same dimensions as reference image");
    }
  }
  for (int frame = 0; frame < info.frames; ++frame) {
    entries_.push_back(info.frames == 1 ? path
                                        : QStringLiteral("%1 [frame %2 of %3]").arg(path).arg(frame + 1).arg(info.frames));
    paths_.push_back(path);
    frames_.push_back(frame);
  }
  return std::nullopt;
}

bool ImageList::removeRows(int top, int bottom) {
  const int count = fileCount();
  if (top < 0 || top > bottom || bottom >= count) return false;
  if (top == 0 && bottom != 0) return false;
  entries_.remove(top, bottom - top + 1);
  paths_.remove(top, bottom - top + 1);
  frames_.remove(top, bottom - top + 1);
  return true;
}

bool ImageList::moveToFront(int row) {
  if (row <= 0 || row >= fileCount()) return false;
  entries_.move(row, 0);
  paths_.move(row, 0);
  frames_.move(row, 0);
  return true;
}

}  // namespace lumifold
