// Judging from pixels whether a buffer swap reached the screen.
#include "render/uSwapProbe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr uint32_t White = 0xFFFFFF, Grey = 0x202020;

// A frame like the viewer's: a dark background with a bright trace through some places.
std::vector<uint32_t> Frame(size_t N) {
  std::vector<uint32_t> F(N, Grey);
  for (size_t I = 0; I < N; I += 7)
    F[I] = 0x30C060;
  return F;
}

TEST(SwapProbe, VerdictFromTheScreenBeforeAndAfter) {
  const size_t N = 32 * 32;
  const std::vector<uint32_t> Blank(N, White), Drawn = Frame(N);
  std::vector<uint32_t> HalfShown = Blank, Rounded = Drawn, OtherWindow(N, 0x0000FF), AlphaOnly = Drawn,
                        FewTell = Blank, MostlyLost = Blank;
  for (size_t I = 0; I < N / 2; ++I)
    HalfShown[I] = Drawn[I];
  for (uint32_t &P : Rounded)
    P += 0x010101;
  for (uint32_t &P : AlphaOnly)
    P |= 0xFF000000u;
  FewTell[5] = FewTell[600] = 0x123456;
  const std::vector<uint32_t> Short(N - 1, White), None;
  for (size_t I = 0; I < N / 20; ++I)
    MostlyLost[I] = Drawn[I];
  struct TCase {
    const char *What;
    const std::vector<uint32_t> &Before, &Drawn, &After;
    TSwapVerdict Want;
  } Cases[] = {
      {"frame on screen", Blank, Drawn, Drawn, TSwapVerdict::Shown},
      {"off by rounding", Blank, Drawn, Rounded, TSwapVerdict::Shown},
      {"top byte differs", Blank, Drawn, AlphaOnly, TSwapVerdict::Shown},
      {"half shown (rest covered)", Blank, Drawn, HalfShown, TSwapVerdict::Shown},
      {"screen unchanged", Blank, Drawn, Blank, TSwapVerdict::Lost},
      {"a few places changed", Blank, Drawn, MostlyLost, TSwapVerdict::Lost},
      {"another window over it", Blank, Drawn, OtherWindow, TSwapVerdict::Unknown},
      {"frame looks like the old screen", Drawn, Drawn, Blank, TSwapVerdict::Unknown},
      {"too few places tell", Blank, FewTell, Blank, TSwapVerdict::Unknown},
      {"sizes differ", Blank, Drawn, Short, TSwapVerdict::Unknown},
      {"nothing sampled", None, None, None, TSwapVerdict::Unknown},
  };
  for (const TCase &C : Cases)
    EXPECT_EQ(JudgeSwap(C.Before, C.Drawn, C.After), C.Want) << C.What;
}

TEST(SwapProbe, SamplesTheMiddlesOfAnEvenGrid) {
  // 4 x 2 pixels numbered row by row; a 2 x 1 grid takes (1,1) and (3,1).
  const uint32_t Px[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  EXPECT_EQ(SamplePixels(Px, 4, 2, 2, 1), (std::vector<uint32_t>{5, 7}));
  EXPECT_EQ(SamplePixels(Px, 4, 2, 4, 2), (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_TRUE(SamplePixels(Px, 0, 2, 2, 1).empty());
  EXPECT_TRUE(SamplePixels(nullptr, 4, 2, 2, 1).empty());
}

} // namespace
