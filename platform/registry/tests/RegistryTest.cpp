#include <gtest/gtest.h>

#include "platform/registry/Registry.h"
#include "tests/support/TestSupport.h"

TEST(Registry, Placeholder) {
  halvard::testing::ScopedRegistry store;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Test", &key), ERROR_SUCCESS);
  RegCloseKey(key);
}
