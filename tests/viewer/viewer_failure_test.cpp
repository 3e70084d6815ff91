// A recording that changes under an open viewer: the failure is contained and reported, the
// viewer stays usable. Also the memory a long recording costs while playing.
#include "viewer_fixtures.h"

#if defined(__linux__)
#include <unistd.h>
#endif

#include <fstream>

namespace {

TEST(ViewerFailure, TruncatedWhilePlayingStopsAndShowsWhatIsLeft) {
  TTempDir D;
  const std::string F = D.File("a.cs16");
  WriteInt16Recording(F, Sec(20), 0, Sec(3));
  TViewerRig R;
  R.Open(F);
  R.P.UserMovesSlider(4000); // 8 s
  R.C.HandleSliderChange(scThumbPosition);
  R.C.StartPlay();
  R.P.Advance(R.C, 33);
  ASSERT_TRUE(R.C.FPlaying);
  std::filesystem::resize_file(F, static_cast<uintmax_t>(Sec(3)) * 4);
  R.P.Advance(R.C, 33);
  EXPECT_FALSE(R.C.FPlaying);
  EXPECT_FALSE(R.P.TimerActive(TIMER_PLAY_ID));
  EXPECT_EQ(R.P.PlayButtonText, "\xE2\x96\xB6 Play");
  // The new samples after the window's right edge (13.03 s) were the first that were missing.
  EXPECT_EQ(
      R.P.StatusText,
      "Read error at 13.03 s (play): the recording ends early, now at 3.00 s (file truncated or replaced)");
  EXPECT_EQ(R.C.LastFailure(), R.P.StatusText);

  // The recording now ends where the file ends.
  EXPECT_EQ(R.C.FTotalSamples, Sec(3));
  EXPECT_DOUBLE_EQ(R.C.FDurationSec, 3.0);
  // Still usable: a reset reads the window up to the new end without another failure.
  R.C.ResetPlay();
  EXPECT_EQ(R.C.FPlayPosition, 0);
  EXPECT_NEAR(R.C.FWFRowCount, 611 * 3 / 10, 2);
  EXPECT_EQ(R.C.FPSDDb.size(), 2048u);
  EXPECT_EQ(R.P.StatusText, "Reset to 0.00 s");
  // Settings and steps keep working within what is left.
  TViewerSettings S = R.C.GetSettings();
  S.WFWindowSec = 2;
  R.C.ApplySettings(S);
  EXPECT_EQ(R.P.StatusText.rfind("Pos: 0.00/3.00s", 0), 0u) << R.P.StatusText;
  R.C.StepOnce();
  EXPECT_GT(R.C.FPlayPosition, 0);
  R.C.CloseFile();
  EXPECT_EQ(R.C.FIQSource, nullptr);
  R.C.ResetPlay(); // without a recording: nothing to read, nothing thrown
  EXPECT_EQ(R.P.StatusText, "Reset to 0.00 s");
}

TEST(ViewerFailure, DeletedBetweenTicksEverywhere) {
  TTempDir D;
  const std::string F = D.File("b.cs16");
  WriteInt16Recording(F, Sec(12));
  TViewerRig R;
  R.Open(F);
  R.C.StartPlay();
  R.P.Advance(R.C, 33);
  std::filesystem::remove(F);
  R.P.Advance(R.C, 33);
  EXPECT_FALSE(R.C.FPlaying);
  EXPECT_EQ(R.P.StatusText, "Read error at 0.07 s (play): the recording file is gone");

  // Every entry point that reads reports instead of throwing.
  struct TCase {
    const char *What;
    std::function<void()> Act;
  };
  const TCase Cases[] = {
      {"step", [&] { R.C.StepOnce(); }},
      {"reset", [&] { R.C.ResetPlay(); }},
      {"settings", [&] { R.C.ApplySettings(R.C.GetSettings()); }},
      {"seek",
       [&] {
         R.P.UserMovesSlider(5000);
         R.C.HandleSliderChange(scThumbTrack);
       }},
      {"seek", [&] { R.C.HandleSeekTimer(); }},
  };
  for (const TCase &K : Cases) {
    R.P.StatusText.clear();
    K.Act();
    EXPECT_NE(R.P.StatusText.find(std::string("(") + K.What + "): the recording file is gone"),
              std::string::npos)
        << K.What << ": " << R.P.StatusText;
    EXPECT_FALSE(R.P.TimerActive(TIMER_SEEK_ID));
  }
}

#if defined(__linux__)
extern "C" void __sanitizer_purge_allocator() __attribute__((weak));

int64_t ResidentBytes() {
  std::ifstream In("/proc/self/statm");
  int64_t Size = 0, Resident = 0;
  In >> Size >> Resident;
  return Resident * sysconf(_SC_PAGESIZE);
}
#endif

// 5 GiB of int16 at 2 MS/s (671 s), played for 100 ticks from the middle: the resident memory
// beyond the ring stays small. The sanitizer's quarantine of freed blocks is drained before
// each reading, so what is measured is memory the viewer still holds.
TEST(ViewerFailure, FiveGiBRecordingPlaysInBoundedMemory) {
#if defined(__linux__)
  TTempDir D;
  const std::string F = D.File("big.cs16");
  WriteInt16Recording(F, (int64_t{5} << 30) / 4);
  auto Purge = [] {
    if (__sanitizer_purge_allocator)
      __sanitizer_purge_allocator();
  };
  Purge();
  const int64_t Before = ResidentBytes();
  TViewerRig R;
  R.Open(F);
  R.P.UserMovesSlider(5000);
  R.C.HandleSliderChange(scThumbPosition);
  R.C.StartPlay();
  int64_t Peak = 0;
  for (int I = 0; I < 100; ++I) {
    R.P.Advance(R.C, 33);
    Purge();
    Peak = std::max(Peak, ResidentBytes() - Before);
  }
  ASSERT_TRUE(R.C.FPlaying) << R.P.StatusText;
  const int64_t Ring = int64_t{R.C.FWFHistory} * R.C.FWF_NFFT * 4;
  const int64_t Beyond = Peak - Ring;
  std::printf("[ memory ] ring %.1f MiB, resident growth beyond it %.1f MiB over 100 ticks\n",
              Ring / 1048576.0, Beyond / 1048576.0);
  EXPECT_LT(Beyond, int64_t{64} << 20);
#else
  GTEST_SKIP() << "sparse files and /proc are Linux-only";
#endif
}

} // namespace
