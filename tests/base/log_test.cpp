#include "base/uLog.h"

#include <gtest/gtest.h>

TEST(Log, CallsHaveNoEffect) {
  LogInit("x");
  Log("line");
  LogFmt("a %d %s", 1, std::string("b"));
  SUCCEED();
}
