// The frame list of `merge --frames`: comma-separated frame numbers and
// ranges ("1-40", "0,2,5-9"), numbered from 0 across the whole input list.
#pragma once

#include <string>
#include <vector>

namespace lumifold {

// The numbers of the frames list selects out of frameCount, ascending and
// each once, so the merge keeps the input order whatever the list's order;
// the first selected frame is the reference. Throws std::invalid_argument
// with a message naming the fault for a malformed list, a range that runs
// backwards, a number beyond the last frame, or a frame listed twice.
std::vector<int> selectFrames(const std::string& list, int frameCount);

}  // namespace lumifold
