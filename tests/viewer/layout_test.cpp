#include "viewer/uViewerLayout.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct TLayoutCase {
  int32_t W, H;
  double Scale;
  TLayoutRect GL, Slider, Status, Freq, Play, Legend;
};

TEST(ViewerLayout, ChildrenFollowTheClientSizeAndScale) {
  const TLayoutCase Cases[] = {
      // The creation geometry at 96 dpi.
      {640,
       480,
       1.0,
       {0, 32, 640, 400},
       {0, 432, 640, 26},
       {4, 458, 482, 22},
       {486, 458, 150, 22},
       {4, 4, 80, 24},
       {464, 4, 90, 24}},
      {1280,
       900,
       1.0,
       {0, 32, 1280, 820},
       {0, 852, 1280, 26},
       {4, 878, 1122, 22},
       {1126, 878, 150, 22},
       {4, 4, 80, 24},
       {464, 4, 90, 24}},
      {300,
       200,
       1.0,
       {0, 32, 300, 120},
       {0, 152, 300, 26},
       {4, 178, 142, 22},
       {146, 178, 150, 22},
       {4, 4, 80, 24},
       {464, 4, 90, 24}},
      // Too low for the strips: the drawing window's height stops at 0.
      {200,
       60,
       1.0,
       {0, 32, 200, 0},
       {0, 12, 200, 26},
       {4, 38, 42, 22},
       {46, 38, 150, 22},
       {4, 4, 80, 24},
       {464, 4, 90, 24}},
      // 120 dpi: 32 * 1.25 = 40, 26 -> 32.5 -> 32 (halves to even), 22 -> 27.5 -> 28, 150 -> 187.5 -> 188.
      {1000,
       700,
       1.25,
       {0, 40, 1000, 600},
       {0, 640, 1000, 32},
       {5, 672, 802, 28},
       {807, 672, 188, 28},
       {5, 5, 100, 30},
       {580, 5, 112, 30}},
      // A scale that is not a number is taken as 1.
      {640,
       480,
       std::nan(""),
       {0, 32, 640, 400},
       {0, 432, 640, 26},
       {4, 458, 482, 22},
       {486, 458, 150, 22},
       {4, 4, 80, 24},
       {464, 4, 90, 24}},
  };
  for (const TLayoutCase &C : Cases) {
    SCOPED_TRACE(testing::Message() << C.W << "x" << C.H << " scale " << C.Scale);
    const TViewerLayout L = ComputeViewerLayout(C.W, C.H, C.Scale);
    EXPECT_EQ(L.GL, C.GL);
    EXPECT_EQ(L.Slider, C.Slider);
    EXPECT_EQ(L.Status, C.Status);
    EXPECT_EQ(L.Freq, C.Freq);
    EXPECT_EQ(L.Buttons[0], C.Play);
    EXPECT_EQ(L.Buttons[5], C.Legend);
    EXPECT_EQ(L.ToolbarH, C.GL.Y);
  }
}

} // namespace
