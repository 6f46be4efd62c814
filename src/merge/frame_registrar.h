// FrameRegistrar: one frame's shift profiles against a fixed reference, by
// one registration and one implementation, for the merge with frame quality
// (merger_quality.cpp), which registers to a reference of its choice and
// to frames moved sideways. The literal registrars run the same steps as
// Merger's literal loops; the fast ones the fast loops' steps, so the two
// give the same profiles to the bit.
#pragma once

#include <memory>

#include "ipl/images.h"
#include "math/row_vector.h"
#include "merge/frame_quality.h"

namespace lumifold {

class FrameRegistrar {
public:
  virtual ~FrameRegistrar() = default;
  // The raw shifts of frame (of the reference's size), after the running
  // median (smoothed), and after every pass (final).
  virtual void registerFrame(const velIPL::GImage& frame, mathORN::RowVector& raw, mathORN::RowVector& smoothed,
                             mathORN::RowVector& final) = 0;
};

// The reference must outlive the registrar.
std::unique_ptr<FrameRegistrar> literalRegistrar(const velIPL::GImage& reference, RegistrationKind kind);
// In fast/; runs on its own worker pool.
std::unique_ptr<FrameRegistrar> fastRegistrar(const velIPL::GImage& reference, RegistrationKind kind);

}  // namespace lumifold
