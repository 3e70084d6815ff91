// Showing the next file in an open viewer: the result must be that of a fresh viewer of that file
// with the same settings, and a file that cannot be opened must leave everything as it was.
#include "viewer_fixtures.h"

namespace {

struct TFlipFiles {
  TTempDir D;
  std::string A = D.File("a.cs16"), B = D.File("b.cs16"), C = D.File("c.cs16"), Tiny = D.File("t.cs16");
  TFlipFiles() {
    // A: 3 s at 1 MS/s with a centre and one signal; B: 1.5 s, a tone, and a sidecar that names
    // only another rate; C: no sidecar at all.
    WriteInt16Recording(A, 3000000);
    WriteText(D.File("a.txt"), "sample_rate_hz=1000000\ncenter_freq_hz=433920000\n"
                               "signals=\n[0] name=Beacon modulation=CW offset_hz=32500 amplitude=0.3 "
                               "loop_mode=true repeat=1 pause=0s "
                               "delay=0s duration=0s comment=steady  params=\n");
    WriteInt16Recording(B, 375000, 1000, 300000);
    WriteText(D.File("b.txt"), "sample_rate_hz=250000\n");
    WriteInt16Recording(C, 4000000, 0, 50000);
    WriteInt16Recording(Tiny, 1000, 0, 1000); // too short for a PSD
  }
};

// The settings a user changed before flipping; they stay with the viewer.
TViewerSettings Changed(TViewerSettings S) {
  S.MagMinDb = -30;
  S.MagMaxDb = 60;
  S.WFWindowSec = 2;
  return S;
}

void ExpectSameFileState(const TViewerRig &Got, const TViewerRig &Want) {
  EXPECT_EQ(Got.C.FFileName, Want.C.FFileName);
  EXPECT_EQ(Got.C.FTotalSamples, Want.C.FTotalSamples);
  EXPECT_DOUBLE_EQ(Got.C.FSampleRate, Want.C.FSampleRate);
  EXPECT_DOUBLE_EQ(Got.C.FDurationSec, Want.C.FDurationSec);
  EXPECT_EQ(Got.C.FHasCenterFreq, Want.C.FHasCenterFreq);
  EXPECT_DOUBLE_EQ(Got.C.FCenterFreq, Want.C.FCenterFreq);
  // Where each value came from: the new file's sources, not the previous file's.
  EXPECT_EQ(Got.C.FValues.RateSource, Want.C.FValues.RateSource);
  EXPECT_EQ(Got.C.FValues.CenterSource, Want.C.FValues.CenterSource);
  EXPECT_EQ(Got.C.FSignalModel.FSignalCount, Want.C.FSignalModel.FSignalCount);
  EXPECT_EQ(Got.C.FWF_NFFT, Want.C.FWF_NFFT);
  EXPECT_EQ(Got.C.FWFDecimation, Want.C.FWFDecimation);
  EXPECT_EQ(Got.C.FWFHistory, Want.C.FWFHistory);
  EXPECT_EQ(Got.C.FWFRowCount, Want.C.FWFRowCount);
  EXPECT_EQ(Got.C.FWFWriteIdx, Want.C.FWFWriteIdx);
  EXPECT_TRUE(Got.C.FWaterfallBuf == Want.C.FWaterfallBuf) << "ring differs from a fresh open";
  EXPECT_TRUE(Got.C.FPSDDb == Want.C.FPSDDb) << "PSD differs from a fresh open";
  EXPECT_TRUE(Got.C.FPSDFreqs == Want.C.FPSDFreqs);
  EXPECT_EQ(Got.C.FPlayPosition, 0);
  EXPECT_EQ(Got.P.SliderPos, 0);
  EXPECT_EQ(Got.P.SliderMax, SLIDER_RANGE_MAX);
  // The status line up to its timings, which depend on the machine.
  auto Untimed = [](const std::string &S) { return S.substr(0, S.find(" IO:")); };
  EXPECT_EQ(Untimed(Got.P.StatusText), Untimed(Want.P.StatusText));
}

} // namespace

// Each flip, whatever the viewer was doing, gives what a fresh viewer of the file with the same
// settings shows: the new file's rate, centre and signals (none where it names none).
TEST(ViewerNextFile, FlipMatchesAFreshOpenWithTheSameSettings) {
  TFlipFiles F;
  struct TCase {
    const char *What;
    std::string From, To;
    int State; // 0 still, 1 playing, 2 a drag waiting for its settling
  };
  const TCase Cases[] = {{"still", F.A, F.B, 0},
                         {"playing", F.A, F.C, 1},
                         {"drag pending", F.B, F.A, 2},
                         {"same file", F.C, F.C, 1},
                         {"too short", F.B, F.Tiny, 0}};
  for (const TCase &K : Cases) {
    SCOPED_TRACE(K.What);
    TViewerRig R;
    R.Open(K.From);
    R.C.ApplySettings(Changed(R.C.GetSettings()));
    if (K.State == 1) {
      R.C.StartPlay();
      R.P.Advance(R.C, 99);
    } else if (K.State == 2) {
      R.P.UserMovesSlider(SLIDER_RANGE_MAX / 2);
      R.C.HandleSliderChange(scThumbTrack);
      ASSERT_TRUE(R.P.TimerActive(TIMER_SEEK_ID));
    }
    ASSERT_TRUE(R.C.OpenNext(K.To));
    EXPECT_FALSE(R.C.FPlaying);
    EXPECT_FALSE(R.P.TimerActive(TIMER_PLAY_ID));
    EXPECT_FALSE(R.P.TimerActive(TIMER_SEEK_ID));
    EXPECT_NE(R.P.PlayButtonText, STOP_TEXT);
    // Nothing left over fires later.
    R.P.Advance(R.C, 500);
    EXPECT_EQ(R.C.FPlayPosition, 0);

    TViewerRig Fresh;
    Fresh.C.LoadFile(K.To);
    Fresh.C.ApplySettings(Changed(Fresh.C.GetSettings()));
    Fresh.C.ShowFirstFrame();
    ExpectSameFileState(R, Fresh);
    EXPECT_EQ(R.C.GetSettings().MagMinDb, -30);
    EXPECT_EQ(R.C.GetSettings().WFWindowSec, 2);
  }
}

// A file that cannot be opened (for a viewer that needs samples, also one without any): false,
// and the viewer goes on as before (still playing).
TEST(ViewerNextFile, UnopenableFileLeavesThePreviousOneShown) {
  TFlipFiles F;
  const std::string Empty = F.D.File("empty.cs16");
  WriteText(Empty, "");
  TViewerRig R;
  R.C.FNeedSamples = true;
  EXPECT_ANY_THROW(R.C.Open(Empty)) << "a first file without a sample";
  R.Open(F.A);
  R.C.StartPlay();
  R.P.Advance(R.C, 66);
  const int64_t Pos = R.C.FPlayPosition;
  const TRowBuffer Ring = R.C.FWaterfallBuf;
  const int32_t Presents = R.P.Presents;
  for (const std::string &Bad :
       {F.D.File("missing.cs16"), F.D.File("no/such/dir.cs16"), std::string(), Empty}) {
    EXPECT_FALSE(R.C.OpenNext(Bad)) << Bad;
    EXPECT_EQ(R.C.FFileName, F.A);
    EXPECT_EQ(R.C.FPlayPosition, Pos);
    EXPECT_TRUE(R.C.FPlaying);
    EXPECT_DOUBLE_EQ(R.C.FSampleRate, 1e6);
    EXPECT_DOUBLE_EQ(R.C.FCenterFreq, 433920000);
    EXPECT_EQ(R.C.FSignalModel.FSignalCount, 1);
    EXPECT_TRUE(R.C.FWaterfallBuf == Ring);
    EXPECT_EQ(R.P.Presents, Presents);
  }
  R.P.Advance(R.C, 33);
  EXPECT_GT(R.C.FPlayPosition, Pos) << "playback goes on";
}
