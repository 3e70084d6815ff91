// Playback, steps, reset and seeking with the slider, on the headless platform's virtual clock.
#include "viewer_fixtures.h"

namespace {

// Bin 0 of a row: -120 dB for silence, far above for the tone.
bool Loud(const TSingleArray &Row) {
  return *std::max_element(Row.begin(), Row.end()) > -60;
}

TEST(ViewerPlayback, TickAdvancesOneChunkAndStopPlayReportsThePosition) {
  TTempDir D;
  const std::string F = D.File("a.cs16");
  WriteInt16Recording(F, Sec(12));
  TViewerRig R;
  R.Open(F);
  R.C.StartPlay();
  EXPECT_TRUE(R.C.FPlaying);
  EXPECT_TRUE(R.P.TimerActive(TIMER_PLAY_ID));
  EXPECT_EQ(R.P.PlayButtonText, STOP_TEXT);
  R.P.Advance(R.C, 33);
  EXPECT_EQ(R.C.FPlayPosition, 66000);
  R.P.Advance(R.C, 66);
  EXPECT_EQ(R.C.FPlayPosition, 3 * 66000);
  EXPECT_EQ(R.P.SliderPos, 82); // 0.099 s of 12 s: 82.5, halves to even
  R.C.TogglePlay();
  EXPECT_FALSE(R.C.FPlaying);
  EXPECT_FALSE(R.P.TimerActive(TIMER_PLAY_ID));
  EXPECT_EQ(R.P.PlayButtonText, "\xE2\x96\xB6 Play");
  EXPECT_EQ(R.P.StatusText, "Stopped at 0.10 s");
  R.P.Advance(R.C, 100);
  EXPECT_EQ(R.C.FPlayPosition, 3 * 66000);
}

// 100 s at 2 MS/s: a tick from 50 s moves the window by 0.033 s, worth 2 of 611 rows, made
// from the 66 000 samples after the old window's end (16 raw rows pooled 8 by 8).
TEST(ViewerPlayback, ForwardAppendReadsOnlyTheNewSamplesAndPoolsThem) {
  TTempDir D;
  const std::string F = D.File("b.cs16");
  const int64_t NewStart = 110000000; // the old window's right edge, 55 s
  // The tone covers raw rows 8..15 of the new samples only.
  WriteInt16Recording(F, Sec(100), NewStart + 8 * 4096, NewStart + 16 * 4096);
  TViewerRig R;
  R.Load(F);
  ASSERT_EQ(R.C.FWFHistory, 611);
  R.C.SeekForwardAppend(Sec(50), Sec(50.033));
  EXPECT_EQ(R.C.FPlayPosition, Sec(50.033));
  ASSERT_EQ(R.C.FWFRowCount, 2);
  EXPECT_FALSE(Loud(R.C.FWaterfallBuf[0])); // raw rows 0-7: silence
  EXPECT_TRUE(Loud(R.C.FWaterfallBuf[1]));  // raw rows 8-15: the tone

  // Within the first half window the window does not move: nothing is appended.
  TViewerRig S;
  S.Load(F);
  for (int64_t Pos = 0; Pos + 66000 <= Sec(5); Pos += 66000)
    S.C.SeekForwardAppend(Pos, Pos + 66000);
  EXPECT_EQ(S.C.FWFRowCount, 0);
  EXPECT_EQ(S.C.FWFWriteIdx, 0);
}

TEST(ViewerPlayback, ForwardJumpOfAWholeWindowRebuildsTheRing) {
  TTempDir D;
  const std::string F = D.File("c.cs16");
  WriteInt16Recording(F, Sec(40));
  TViewerRig R;
  R.Open(F);
  R.C.SeekForwardAppend(Sec(6), Sec(20));
  EXPECT_EQ(R.C.NewRowsSinceFrame(), -1);
  EXPECT_NEAR(R.C.FWFRowCount, 611, 1);
}

TEST(ViewerPlayback, StepAdvancesOneRowAndStopsPlayback) {
  TTempDir D;
  const std::string F = D.File("d.cs16");
  WriteInt16Recording(F, Sec(12));
  TViewerRig R;
  R.Open(F);
  R.C.StartPlay();
  R.C.StepOnce();
  EXPECT_FALSE(R.C.FPlaying);
  EXPECT_EQ(R.C.FPlayPosition, 32733);
  // At the last sample a step does nothing.
  R.C.FPlayPosition = R.C.FTotalSamples - 1;
  R.C.StepOnce();
  EXPECT_EQ(R.C.FPlayPosition, R.C.FTotalSamples - 1);
}

TEST(ViewerPlayback, PlaysToTheEndThenFinishes) {
  TTempDir D;
  const std::string F = D.File("e.cs16");
  WriteInt16Recording(F, 201000);
  TViewerRig R;
  R.Open(F);
  R.C.StartPlay();
  R.P.Advance(R.C, 3 * 33);
  EXPECT_EQ(R.C.FPlayPosition, 198000);
  EXPECT_EQ(R.P.StatusText.rfind("Pos: 0.10/0.10s", 0), 0u) << R.P.StatusText; // 3000 samples left
  R.P.Advance(R.C, 33);
  EXPECT_EQ(R.C.FPlayPosition, 201000); // clamped to the end
  EXPECT_EQ(R.P.StatusText, "Not enough samples");
  EXPECT_TRUE(R.C.FPlaying);
  R.P.Advance(R.C, 33);
  EXPECT_FALSE(R.C.FPlaying);
  EXPECT_EQ(R.P.StatusText, "Playback finished");
  ASSERT_GE(R.P.StatusHistory.size(), 2u);
  EXPECT_EQ(R.P.StatusHistory[R.P.StatusHistory.size() - 2], "Stopped at 0.10 s");
  EXPECT_TRUE(R.C.LastFailure().empty()) << R.C.LastFailure();
}

TEST(ViewerPlayback, ResetGoesBackToTheStart) {
  TTempDir D;
  const std::string F = D.File("f.cs16");
  WriteInt16Recording(F, Sec(30));
  TViewerRig R;
  R.Open(F);
  R.P.UserMovesSlider(5000);
  R.C.HandleSliderChange(scThumbTrack);
  ASSERT_TRUE(R.P.TimerActive(TIMER_SEEK_ID));
  R.C.StartPlay();
  R.C.ResetPlay();
  EXPECT_FALSE(R.C.FPlaying);
  EXPECT_FALSE(R.P.TimerActive(TIMER_SEEK_ID));
  EXPECT_EQ(R.C.FPlayPosition, 0);
  EXPECT_EQ(R.P.SliderPos, 0);
  EXPECT_EQ(R.P.StatusText, "Reset to 0.00 s");
  EXPECT_NEAR(R.C.FWFRowCount, 611, 1);
}

// A drag (thumb-track every 50 ms) costs only PSDs; the full window follows 110 ms after
// the last movement. Another notification seeks fully at once.
TEST(ViewerPlayback, DragIsDebouncedAndOtherNotificationsSeekAtOnce) {
  TTempDir D;
  const std::string F = D.File("g.cs16");
  WriteInt16Recording(F, Sec(100));
  TViewerRig R;
  R.Open(F);
  R.C.FWaterfallBuf[0][0] = 999.0f; // gone once the ring is rebuilt
  for (int32_t Pos : {1000, 2000, 3000}) {
    R.P.UserMovesSlider(Pos);
    R.C.HandleSliderChange(scThumbTrack);
    EXPECT_EQ(R.C.FPlayPosition, Sec(Pos / 100.0));
    EXPECT_EQ(R.P.StatusText.rfind("Pos: " + std::to_string(Pos / 100) + ".00/100.00s", 0), 0u);
    R.P.Advance(R.C, 50);
    EXPECT_EQ(R.C.FWaterfallBuf[0][0], 999.0f);
  }
  R.P.Advance(R.C, 59); // 109 ms after the last movement
  EXPECT_EQ(R.C.FWaterfallBuf[0][0], 999.0f);
  EXPECT_TRUE(R.P.TimerActive(TIMER_SEEK_ID));
  R.P.Advance(R.C, 1);
  EXPECT_NE(R.C.FWaterfallBuf[0][0], 999.0f);
  EXPECT_FALSE(R.P.TimerActive(TIMER_SEEK_ID));

  // A page step: heavy seek now, the pending debounce dropped.
  R.P.UserMovesSlider(4000);
  R.C.HandleSliderChange(scThumbTrack);
  R.C.FWaterfallBuf[0][0] = 999.0f;
  R.P.UserMovesSlider(6000);
  R.C.HandleSliderChange(scPageDown);
  EXPECT_FALSE(R.P.TimerActive(TIMER_SEEK_ID));
  EXPECT_NE(R.C.FWaterfallBuf[0][0], 999.0f);
  double Lo = 0, Hi = 0;
  R.C.GetWindowBounds(Lo, Hi);
  EXPECT_DOUBLE_EQ(Lo, 55);

  // Slider positions past the end clamp to the last sample.
  R.P.UserMovesSlider(SLIDER_RANGE_MAX);
  R.C.HandleSliderChange(scEndTrack);
  EXPECT_EQ(R.C.FPlayPosition, R.C.FTotalSamples - 1);
}

// No timer left in the window system: playback does not pretend to run, and a drag settles
// at once instead of waiting for a timer that never fires.
TEST(ViewerPlayback, WithoutTimersPlayRefusesAndDragSeeksAtOnce) {
  TTempDir D;
  const std::string F = D.File("t.cs16");
  WriteInt16Recording(F, Sec(100));
  TViewerRig R;
  R.Open(F);
  R.P.RefuseTimers = true;
  R.C.StartPlay();
  EXPECT_FALSE(R.C.FPlaying);
  EXPECT_EQ(R.P.PlayButtonText, PLAY_TEXT);
  EXPECT_EQ(R.P.StatusText, "Playback not started: no timer available");
  R.C.FWaterfallBuf[0][0] = 999.0f;
  R.P.UserMovesSlider(3000);
  R.C.HandleSliderChange(scThumbTrack);
  EXPECT_NE(R.C.FWaterfallBuf[0][0], 999.0f);
  EXPECT_EQ(R.C.FPlayPosition, Sec(30));
  R.P.RefuseTimers = false; // timers back: playback works again
  R.C.StartPlay();
  EXPECT_TRUE(R.C.FPlaying);
  EXPECT_TRUE(R.P.TimerActive(TIMER_PLAY_ID));
}

TEST(ViewerPlayback, SliderWhilePlayingMovesOnlyThePosition) {
  TTempDir D;
  const std::string F = D.File("h.cs16");
  WriteInt16Recording(F, Sec(100));
  TViewerRig R;
  R.Open(F);
  R.C.StartPlay();
  const int32_t Idx = R.C.FWFWriteIdx;
  R.P.UserMovesSlider(5000);
  R.C.HandleSliderChange(scThumbTrack);
  EXPECT_EQ(R.C.FPlayPosition, Sec(50));
  EXPECT_EQ(R.C.FWFWriteIdx, Idx);
  EXPECT_FALSE(R.P.TimerActive(TIMER_SEEK_ID));
  // The next tick continues from there, appending the rows that scroll in.
  R.P.Advance(R.C, 33);
  EXPECT_EQ(R.C.FPlayPosition, Sec(50.033));
  EXPECT_EQ(R.C.FWFWriteIdx, (Idx + 2) % R.C.FWFHistory);
}

} // namespace
