// The frame quality report of "lumifold-cli merge" (--report, and the
// summary lines when frame quality is measured): every registered frame's
// measures and verdict, the reference, the sideways slips and the
// image-quality figures. docs/quality.md documents every field.
#pragma once

#include <ostream>
#include <string>

#include "cli/merge_command.h"

namespace lumifold {

// The report as JSON text, ending in a newline.
std::string qualityReportJson(const MergePlan& plan, const MergeOutcome& outcome, const MergeOptions& options);

// The summary's lines: the reference when it was chosen, every dropped
// frame with its reason, the sideways slips found, and the figures.
void printQualitySummary(const MergePlan& plan, const MergeOutcome& outcome, const MergeOptions& options,
                         std::ostream& out);

}  // namespace lumifold
