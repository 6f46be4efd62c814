#include "shell/merge_failure.h"

#include "ipl/bmp_info.h"

namespace lumifold {

bool sizeChanged(const std::string& path, int checkedWidth, int checkedRows) {
  velIPL::BmpInfo info;
  int width = 0;
  int height = 0;
  std::string message;
  if (!info.probeFile(path, width, height, message)) return false;
  const long long rows = height < 0 ? -static_cast<long long>(height) : height;
  return width != checkedWidth || rows != checkedRows;
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
