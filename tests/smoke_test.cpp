#include <gtest/gtest.h>

#include <cstring>

#include "varnel.h"

TEST(Smoke, VersionText) {
  char buffer[32];
  VarnelGetVersion(buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "VARNEL.DLL  v3.03.002");
}
