#include <gtest/gtest.h>

#include <string>

#include "merge/registration_methods.h"

using lumifold::kRegistrationMethods;
using lumifold::Merger;

// Keys, captions and operations in item order: the Settings page stores the
// item index, so an entry's place is part of the saved settings.
TEST(RegistrationMethods, TableInItemOrder) {
  ASSERT_EQ(kRegistrationMethods.size(), 2u);
  EXPECT_EQ(std::string(kRegistrationMethods[0].key), "correlation");
  EXPECT_EQ(std::string(kRegistrationMethods[0].name), "Correlation");
  EXPECT_EQ(kRegistrationMethods[0].merge, &Merger::mergeByCorrelation);
  EXPECT_EQ(std::string(kRegistrationMethods[1].key), "anterior-edge");
  EXPECT_EQ(std::string(kRegistrationMethods[1].name), "Anterior Edge");
  EXPECT_EQ(kRegistrationMethods[1].merge, &Merger::mergeByAnteriorEdge);

  for (const lumifold::RegistrationMethod& method : kRegistrationMethods) {
    EXPECT_EQ(lumifold::findRegistrationMethod(method.key), &method);
  }
  EXPECT_EQ(lumifold::findRegistrationMethod("Correlation"), nullptr);
  EXPECT_EQ(lumifold::findRegistrationMethod(""), nullptr);
}

TEST(RegistrationMethods, ItemsOutsideTheTableMergeByAnteriorEdge) {
  EXPECT_EQ(&lumifold::registrationMethodForItem(0), &kRegistrationMethods[0]);
  EXPECT_EQ(&lumifold::registrationMethodForItem(1), &kRegistrationMethods[1]);
  for (int index : {-1, 2, 100, -2147483647 - 1}) {
    EXPECT_EQ(std::string(lumifold::registrationMethodForItem(index).key), "anterior-edge") << index;
  }
}
