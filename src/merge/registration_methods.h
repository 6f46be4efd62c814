// The registration methods a merge can use: one table that the desktop
// program's Algorithm group, lumifold-cli's --algorithm, the fuzz targets
// and the benchmarks all read. A new method is one Merger operation and one
// entry here; its item index on the Settings page is its place in the table,
// which is also what the settings store, so entries are only ever appended.
#pragma once

#include <array>
#include <string_view>

#include "ipl/images.h"
#include "merge/merger.h"

namespace lumifold {

struct RegistrationMethod {
  const char* key;                      // --algorithm value: "anterior-edge"
  const char* name;                     // item caption: "Anterior Edge"
  velIPL::GImage (Merger::*merge)();    // runs the merge; throws as Merger says

  velIPL::GImage run(Merger& merger) const { return (merger.*merge)(); }
};

inline constexpr std::array<RegistrationMethod, 2> kRegistrationMethods = {{
    {"correlation", "Correlation", &Merger::mergeByCorrelation},
    {"anterior-edge", "Anterior Edge", &Merger::mergeByAnteriorEdge},
}};

// The method whose key is key, or nullptr.
const RegistrationMethod* findRegistrationMethod(std::string_view key);

// The method of Algorithm item itemIndex. An index outside the table, -1 for
// "nothing selected" included, gives Anterior Edge, which is what such an
// index has always merged by.
const RegistrationMethod& registrationMethodForItem(int itemIndex);

}  // namespace lumifold
