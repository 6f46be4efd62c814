#include "shell/merge_failure.h"

#include "ipl/image_decoder.h"

namespace lumifold {

bool sizeChanged(const std::string& path, int checkedWidth, int checkedRows) {
  velIPL::ImageFileInfo info;
  std::string message;
  if (!velIPL::probeImageFile(path, info, message)) return false;
  return info.width != checkedWidth || info.height != checkedRows;
}

MergeFailure explainMergeFailure(const std::vector<std::string>& paths, int failedImage, const std::string& message,
                                 int checkedWidth, int checkedRows) {
  if (paths.empty()) return {0, message};
  if (sizeChanged(paths.front(), checkedWidth, checkedRows)) return {0, kChangedSizeReason};
  const bool known = failedImage >= 0 && failedImage < static_cast<int>(paths.size());
  const int file = known ? failedImage : 0;
  if (file > 0 && sizeChanged(paths[static_cast<std::size_t>(file)], checkedWidth, checkedRows)) {
    return {file, "Image has not same dimensions as reference image"};
  }
  return {file, message};
}

}  // namespace lumifold
