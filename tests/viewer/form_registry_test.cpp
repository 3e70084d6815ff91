#include "viewer/uFormRegistry.h"

#include <gtest/gtest.h>

namespace {
TViewerForm *FakeForm(int i) {
  return reinterpret_cast<TViewerForm *>(static_cast<uintptr_t>(0x1000 + i * 16));
}

class FormRegistry : public ::testing::Test {
protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    while (GFormCount > 0)
      UnregisterForm(GFormMap[0].Wnd);
  }
};
} // namespace

TEST_F(FormRegistry, FillsToCapacityAndIgnoresTheThirtyThird) {
  for (int i = 1; i <= 33; ++i)
    RegisterForm(static_cast<TWindowHandle>(i), FakeForm(i));
  EXPECT_EQ(GFormCount, 32);
  EXPECT_EQ(FindForm(32), FakeForm(32));
  EXPECT_EQ(FindForm(33), nullptr);
}

TEST_F(FormRegistry, UnregisterMovesLastEntryIntoTheGap) {
  for (int i = 1; i <= 32; ++i)
    RegisterForm(static_cast<TWindowHandle>(i), FakeForm(i));
  UnregisterForm(1);
  EXPECT_EQ(GFormCount, 31);
  EXPECT_EQ(GFormMap[0].Wnd, 32u);
  EXPECT_EQ(FindForm(1), nullptr);
  for (int i = 2; i <= 32; ++i)
    EXPECT_EQ(FindForm(static_cast<TWindowHandle>(i)), FakeForm(i)) << i;
  // Room again for one more.
  RegisterForm(99, FakeForm(99));
  EXPECT_EQ(FindForm(99), FakeForm(99));
}

TEST_F(FormRegistry, AbsentWindowChangesNothingAndFirstMatchWins) {
  RegisterForm(7, FakeForm(1));
  RegisterForm(7, FakeForm(2));
  UnregisterForm(12345);
  EXPECT_EQ(GFormCount, 2);
  EXPECT_EQ(FindForm(7), FakeForm(1));
  UnregisterForm(7);
  EXPECT_EQ(FindForm(7), FakeForm(2));
}
