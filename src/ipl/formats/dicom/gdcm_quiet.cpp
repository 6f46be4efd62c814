#include "ipl/formats/dicom/gdcm_quiet.h"

#include <gdcmTrace.h>

#include <ostream>

namespace velIPL {

void quietGdcm() {
  static const bool done = [] {
    // A stream without a buffer swallows everything written to it.
    static std::ostream nowhere(nullptr);
    gdcm::Trace::SetStream(nowhere);
    gdcm::Trace::SetDebugStream(nowhere);
    gdcm::Trace::SetWarningStream(nowhere);
    gdcm::Trace::SetErrorStream(nowhere);
    gdcm::Trace::DebugOff();
    gdcm::Trace::WarningOff();
    gdcm::Trace::ErrorOff();
    return true;
  }();
  (void)done;
}

}  // namespace velIPL
