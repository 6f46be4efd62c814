#include "pipeline/quality_report.h"

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "shell/utf8_text.h"

namespace lumifold {

namespace {

std::string number(double v) {
  if (!std::isfinite(v)) return "null";
  char text[40];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

// A JSON string; bytes of a path that are not UTF-8 become U+FFFD.
std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (const char c : validUtf8(s)) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", u);
      out += esc;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string frameJson(const MergePlan& plan, const FrameQuality& q) {
  std::ostringstream o;
  o << "{\"frame\": " << frameNumberOf(plan, q.frame) << ", \"name\": " << quoted(frameNameOf(plan, q.frame))
    << ", \"kept\": " << (q.dropped ? "false" : "true")
    << ", \"reason\": " << (q.dropped ? quoted(q.reason) : std::string("null"))
    << ", \"correlation\": " << number(q.correlation) << ", \"profileCorrelation\": " << number(q.profileCorrelation)
    << ", \"relativeIntensity\": " << number(q.relativeIntensity) << ", \"weakestBand\": " << number(q.weakestBand)
    << ", \"keptShare\": " << number(q.keptShare)
    << ", \"peakRatio\": " << number(q.peakRatio) << ", \"edgeShare\": " << number(q.edgeShare)
    << ", \"replacedShare\": " << number(q.replacedShare) << ", \"lateralShift\": " << q.lateralShift
    << ", \"lateralConfidence\": " << number(q.lateralConfidence) << ", \"lateralEstimate\": " << q.lateralEstimate
    << ", \"structureCorrelation\": " << number(q.structureCorrelation)
    << ", \"weakestBandCorrelation\": " << number(q.weakestBandCorrelation) << "}";
  return o.str();
}

std::string figuresJson(const QualityFigures& f) {
  std::ostringstream o;
  o << "{\"snrDb\": " << number(f.snrDb) << ", \"cnr\": " << number(f.cnr) << ", \"enl\": " << number(f.enl)
    << ", \"tissueMean\": " << number(f.tissueMean) << ", \"tissueDeviation\": " << number(f.tissueDeviation)
    << ", \"backgroundMean\": " << number(f.backgroundMean)
    << ", \"backgroundDeviation\": " << number(f.backgroundDeviation) << "}";
  return o.str();
}

const char* referenceChoice(const MergeOptions& o) {
  if (o.reference.empty()) return "first";
  return o.reference == "auto" ? "auto" : "given";
}

}  // namespace

std::string jsonNumber(double v) { return number(v); }

std::string qualityReportJson(const MergePlan& plan, const MergeOutcome& outcome, const MergeOptions& o) {
  std::ostringstream j;
  int dropped = 0;
  for (const FrameQuality& q : outcome.qualities) dropped += q.dropped ? 1 : 0;
  const int frames = static_cast<int>(plan.frames.size());
  j << "{\n  \"version\": 1,\n  \"algorithm\": " << quoted(o.algorithm) << ",\n  \"frames\": " << frames
    << ",\n  \"kept\": " << frames - dropped << ",\n  \"reject\": " << quoted(o.reject)
    << ",\n  \"lateral\": " << (o.lateral ? "true" : "false") << ",\n  \"reference\": {\"frame\": "
    << frameNumberOf(plan, outcome.reference) << ", \"name\": " << quoted(frameNameOf(plan, outcome.reference))
    << ", \"choice\": " << quoted(referenceChoice(o)) << "},\n  \"dropped\": [";
  bool first = true;
  for (const FrameQuality& q : outcome.qualities) {
    if (!q.dropped) continue;
    j << (first ? "\n    " : ",\n    ") << frameJson(plan, q);
    first = false;
  }
  j << (first ? "]" : "\n  ]") << ",\n  \"frameQuality\": [";
  first = true;
  for (const FrameQuality& q : outcome.qualities) {
    j << (first ? "\n    " : ",\n    ") << frameJson(plan, q);
    first = false;
  }
  const ImageQuality& iq = outcome.imageQuality;
  const QualityRegions& r = iq.regions;
  int withEdge = 0;
  for (const int e : r.edges) withEdge += e >= 0 ? 1 : 0;
  j << (first ? "]" : "\n  ]") << ",\n  \"imageQuality\": {\n    \"regions\": {\"edgeThreshold\": "
    << number(r.edgeThreshold) << ", \"columnsWithEdge\": " << withEdge << ", \"backgroundGapRows\": "
    << r.backgroundGap << ", \"backgroundPixels\": " << r.backgroundPixels << ", \"tissueBandRows\": " << r.bandRows
    << ", \"tissuePixels\": " << r.tissuePixels << ", \"homogeneousPixels\": " << r.homogeneousPixels
    << "},\n    \"average\": " << figuresJson(iq.average) << ",\n    \"reference\": " << figuresJson(iq.reference)
    << ",\n    \"snrGainDb\": " << number(iq.snrGainDb) << "\n  }";
  if (outcome.filtered) {
    const Merger::FilterFigures& f = outcome.filterFigures;
    j << ",\n  \"speckleFilter\": {\"filter\": " << quoted(outcome.filterKey)
      << ", \"strength\": " << number(outcome.filterStrength) << ", \"frameNoise\": " << number(f.frameNoise)
      << ",\n    \"before\": " << figuresJson(f.before) << ",\n    \"after\": " << figuresJson(f.after) << "}";
  }
  j << "\n}\n";
  return j.str();
}

}  // namespace lumifold
