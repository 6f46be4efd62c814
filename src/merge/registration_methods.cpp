#include "merge/registration_methods.h"

namespace lumifold {

const RegistrationMethod* findRegistrationMethod(std::string_view key) {
  for (const RegistrationMethod& method : kRegistrationMethods) {
    if (key == method.key) return &method;
  }
  return nullptr;
}

const RegistrationMethod& registrationMethodForItem(int itemIndex) {
  if (itemIndex >= 0 && itemIndex < static_cast<int>(kRegistrationMethods.size())) {
    return kRegistrationMethods[static_cast<std::size_t>(itemIndex)];
  }
  return *findRegistrationMethod("anterior-edge");
}

}  // namespace lumifold
