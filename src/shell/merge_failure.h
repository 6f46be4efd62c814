// Which file a failed merge is about, and why, in the words a user needs.
//
// Both programs check every file's header before they merge: the first
// file fixes the size, every other must have it. A file replaced after that
// check shows up wherever the engine first trips over it, which is not
// always the file itself: a reference of a new size makes every later frame
// look wrong, and the anterior-edge merge meets a frame of a new width as
// vectors of unequal length ("Incompatible vector size"). The functions here
// look at the headers again to name the file that changed. They read
// headers only, throw nothing but std::bad_alloc, and change nothing.
#pragma once

#include <string>
#include <vector>

namespace lumifold {

// The reason given for a file whose size is no longer the one checked.
inline constexpr const char* kChangedSizeReason = "Image has changed size since it was checked";

struct MergeFailure {
  int file = 0;        // index into the merged list
  std::string reason;  // the engine's message, or one of the size reasons
};

// True when the header of path now gives another width or another number
// of rows (a top-down file counts its rows) than checked; false when it
// matches, and when it no longer passes the probe, since the reader's own
// message then says more.
bool sizeChanged(const std::string& path, int checkedWidth, int checkedRows);

// Explains a merge of paths, checked to be checkedWidth x checkedRows, that
// threw message with Merger::currentImage() at failedImage (-1 when the
// merge got to no file). A reference that changed size is named first, with
// kChangedSizeReason; then a later file that changed size, with "Image has
// not same dimensions as reference image"; otherwise the failed file with
// the message as it is.
MergeFailure explainMergeFailure(const std::vector<std::string>& paths, int failedImage, const std::string& message,
                                 int checkedWidth, int checkedRows);

}  // namespace lumifold
