#include "merge/merge_frame.h"

#include <utility>

namespace lumifold {

MergeFrame::MergeFrame(std::string fileName, int frameIndex)
    : fileName_(std::move(fileName)), frameIndex_(frameIndex) {}

MergeFrame::MergeFrame(velIPL::GImage image) : image8_(std::make_shared<const velIPL::GImage>(std::move(image))) {}

MergeFrame::MergeFrame(velIPL::G16Image image)
    : image16_(std::make_shared<const velIPL::G16Image>(std::move(image))) {}

MergeFrame::MergeFrame(const Borrowed& borrowed) : borrowed_(borrowed) {}

}  // namespace lumifold
