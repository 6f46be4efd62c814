// The frame quality report (--report): every registered frame's measures
// and verdict, the reference, the sideways slips and the image-quality
// figures. docs/quality.md documents every field.
#pragma once

#include <string>

#include "pipeline/series_merge.h"

namespace lumifold {

// The report as JSON text, ending in a newline.
std::string qualityReportJson(const MergePlan& plan, const MergeOutcome& outcome, const MergeOptions& options);

// A figure as the report writes it: six significant digits, null when it
// is not a finite number.
std::string jsonNumber(double v);

}  // namespace lumifold
