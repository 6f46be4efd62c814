// Silences GDCM for the whole process, once: its debug, warning and error
// traces go nowhere. The DICOM reader and writer call it before any other
// GDCM call; failures reach them as results or exceptions instead.
#pragma once

namespace velIPL {

void quietGdcm();

}  // namespace velIPL
