// The waterfall window filled by worker threads: the frame comes before the rows, the rows that
// land are the synchronous load's, and a new request, the next file or closing leaves nothing
// of the old one behind.
#include "viewer_fixtures.h"

#include "dsp/uFFT.h"
#include "viewer/uWindowFill.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// Holds the workers before each piece until the test opens it (or half a second has passed, so
// that joining a held worker never hangs); records the pieces in the order they were asked for.
struct TGate {
  std::atomic<bool> Open{false};
  std::atomic<int32_t> DelayMs{0};
  std::atomic<int64_t> FailAt{-1}; // this piece throws
  std::mutex M;
  std::vector<int64_t> Asked;
  std::atomic<int32_t> Calls{0};

  std::function<void(int64_t)> Hook() {
    return [this](int64_t P) {
      {
        std::lock_guard<std::mutex> L(M);
        Asked.push_back(P);
      }
      ++Calls;
      for (int I = 0; I < 500 && !Open.load(); ++I)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (DelayMs.load() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(DelayMs.load()));
      if (P == FailAt.load())
        throw std::runtime_error("disk gone");
    };
  }
};

// 20 s at 2 MS/s with a tone for the first 6.5 s, and 13 s with a weaker tone from 1 s to 2 s:
// rows of different windows differ, so a stale row shows.
struct TFillFixture : ::testing::Test {
  TTempDir D;
  std::string A = D.File("a.cs16"), B = D.File("b.cs16");
  TGate Gate;
  std::unique_ptr<TViewerRig> BgRig;
  TViewerRig &Bg = Fresh(); // fills in the background
  TViewerRig &Fresh() {
    if (BgRig)
      BgRig->C.CloseFile();
    BgRig = std::make_unique<TViewerRig>();
    BgRig->C.FBackgroundFill = true;
    BgRig->C.FFirstFrameWaitMs = 0;
    BgRig->C.FFillBeforePiece = Gate.Hook();
    return *BgRig;
  }
  void SetUp() override {
    WriteInt16Recording(A, Sec(20), 0, Sec(6.5));
    WriteInt16Recording(B, Sec(13), Sec(1), Sec(2), 3000.0);
  }
  void TearDown() override {
    Gate.Open = true;
    BgRig.reset();
  }
};

// The ring as the synchronous load leaves it, slot for slot.
void ExpectSameRing(const TViewerCore &Got, const TViewerCore &Want, const char *What) {
  EXPECT_EQ(Got.FWFRowCount, Want.FWFRowCount) << What;
  EXPECT_EQ(Got.FWFWriteIdx, Want.FWFWriteIdx) << What;
  ASSERT_EQ(Got.FWaterfallBuf.size(), Want.FWaterfallBuf.size()) << What;
  size_t Unequal = 0;
  for (size_t I = 0; I < Want.FWaterfallBuf.size(); ++I)
    Unequal += Got.FWaterfallBuf[I] != Want.FWaterfallBuf[I];
  EXPECT_EQ(Unequal, 0u) << What << ": slots that differ";
}

std::string WithoutTimes(const std::string &Status) {
  return Status.substr(0, Status.find(" IO:"));
}

TEST_F(TFillFixture, FirstFrameBeforeTheRowsThenTheSynchronousRows) {
  Bg.Open(A);
  // The frame is there with the PSD and nothing of the waterfall yet; the host was not kept.
  EXPECT_TRUE(Bg.C.WindowFilling());
  EXPECT_EQ(Bg.C.FPSDDb.size(), 2048u);
  EXPECT_EQ(Bg.P.StatusText.rfind("Filling waterfall 0% | Pos: 0.00/20.00s | [CPU]", 0), 0u)
      << Bg.P.StatusText;
  EXPECT_TRUE(Bg.P.TimerActive(TIMER_FILL_ID));
  for (const TSingleArray &Row : Bg.C.FWaterfallBuf)
    for (float V : Row)
      ASSERT_EQ(V, 0.0f);
  Gate.Open = true;
  Bg.C.FinishWindowFill();
  EXPECT_FALSE(Bg.C.WindowFilling());
  EXPECT_FALSE(Bg.P.TimerActive(TIMER_FILL_ID));
  EXPECT_EQ(Bg.P.StatusText.rfind("Pos: 0.00/20.00s", 0), 0u) << Bg.P.StatusText;

  TViewerRig Sync;
  Sync.Open(A);
  ExpectSameRing(Bg.C, Sync.C, "open");

  // Every request that rebuilds the window, on both sides, at a few thread counts.
  struct TCase {
    const char *What;
    std::function<void(TViewerRig &)> Act;
  };
  const TCase Cases[] = {
      {"heavy seek",
       [](TViewerRig &R) {
         R.P.UserMovesSlider(6100);
         R.C.HandleSliderChange(scThumbPosition);
       }},
      {"drag settled",
       [](TViewerRig &R) {
         R.P.UserMovesSlider(9900);
         R.C.HandleSliderChange(scThumbTrack);
         R.P.Advance(R.C, 110);
       }},
      {"settings",
       [](TViewerRig &R) {
         TViewerSettings S = R.C.GetSettings();
         S.WFWindowSec = 3.3;
         S.WFOverlap = 0.5;
         R.C.ApplySettings(S);
       }},
      {"reset", [](TViewerRig &R) { R.C.ResetPlay(); }},
  };
  for (int32_t Threads : {1, 3}) {
    SetWaterfallThreads(Threads);
    for (const TCase &K : Cases) {
      K.Act(Bg);
      Bg.C.FinishWindowFill();
      K.Act(Sync);
      ExpectSameRing(Bg.C, Sync.C, K.What);
    }
  }
  SetWaterfallThreads(0);

  // Half a second at 2 MS/s is read at once: no fill to wait for, nothing drawn half.
  const std::string Small = D.File("small.cs16");
  WriteInt16Recording(Small, Sec(0.5), 0, Sec(0.2));
  Fresh().Open(Small);
  EXPECT_FALSE(BgRig->C.WindowFilling());
  EXPECT_EQ(BgRig->P.StatusText.rfind("Pos: 0.00/0.50s", 0), 0u) << BgRig->P.StatusText;
  TViewerRig SmallSync;
  SmallSync.Open(Small);
  ExpectSameRing(BgRig->C, SmallSync.C, "small");
}

TEST_F(TFillFixture, PiecesNearestThePositionFirst) {
  SetWaterfallThreads(1); // one worker: the order it takes the pieces in is the order asked
  Gate.Open = true;
  Bg.Open(A);
  Bg.C.FinishWindowFill();
  Gate.Asked.clear();
  Bg.P.UserMovesSlider(5000); // 10 s: the window is 5 .. 15 s
  Bg.C.HandleSliderChange(scThumbPosition);
  Bg.C.FinishWindowFill();
  SetWaterfallThreads(0);
  // Pieces of 4 chunks of 32768 samples; the one holding 10 s first, then outwards.
  ASSERT_GE(Gate.Asked.size(), 3u);
  const double Piece = 4 * 32768 / 2e6;
  auto Dist = [&](int64_t P) { return std::abs(5.0 + (static_cast<double>(P) + 0.5) * Piece - 10.0); };
  EXPECT_LT(Dist(Gate.Asked[0]), Piece);
  for (size_t I = 1; I < Gate.Asked.size(); ++I)
    ASSERT_LE(Dist(Gate.Asked[I - 1]), Dist(Gate.Asked[I]) + 1e-9) << I;
}

// A request while the old one is still being read: whatever the old workers finish after it
// never reaches the ring.
TEST_F(TFillFixture, NewRequestsLeaveNoStaleRow) {
  struct TCase {
    const char *What;
    std::function<void(TViewerRig &, const std::string &Next)> Act;
  };
  const TCase Cases[] = {
      {"seek",
       [](TViewerRig &R, const std::string &) {
         R.P.UserMovesSlider(4000);
         R.C.HandleSliderChange(scEndTrack);
       }},
      {"settings",
       [](TViewerRig &R, const std::string &) {
         TViewerSettings S = R.C.GetSettings();
         S.WF_NFFT = 1024;
         S.WFWindowSec = 8;
         R.C.ApplySettings(S);
       }},
      {"next file", [](TViewerRig &R, const std::string &Next) { R.Open(Next); }},
      {"flip", [](TViewerRig &R, const std::string &Next) { ASSERT_TRUE(R.C.OpenNext(Next)); }},
      {"reset", [](TViewerRig &R, const std::string &) { R.C.ResetPlay(); }},
  };
  for (const TCase &K : Cases) {
    TViewerRig Sync;
    Sync.Open(A);
    Sync.P.UserMovesSlider(7000);
    Sync.C.HandleSliderChange(scThumbPosition);
    K.Act(Sync, B);

    Gate.Open = false;
    TViewerRig &Rig = Fresh(); // the old settings would stay otherwise
    Rig.Open(A);
    Rig.P.UserMovesSlider(7000); // 14 s: the old request, held at the gate
    Rig.C.HandleSliderChange(scThumbPosition);
    ASSERT_TRUE(Rig.C.WindowFilling());
    K.Act(Rig, B);
    Gate.Open = true;
    // The old workers finish their pieces; drains land the new request's rows only.
    for (int I = 0; I < 20; ++I) {
      Rig.P.Advance(Rig.C, 33);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    Rig.C.FinishWindowFill();
    ExpectSameRing(Rig.C, Sync.C, K.What);
    EXPECT_EQ(WithoutTimes(Rig.P.StatusText), WithoutTimes(Sync.P.StatusText)) << K.What;
    EXPECT_FALSE(Rig.P.TimerActive(TIMER_FILL_ID));
  }
}

// A flip draws the next file's frame without waiting for its rows (the previous file's frame was
// on screen meanwhile), then lands the synchronous rows.
TEST_F(TFillFixture, FlipDrawsAtOnceThenTheSynchronousRows) {
  Gate.Open = true;
  Bg.Open(A);
  Bg.C.FinishWindowFill();
  Gate.Open = false;
  Bg.C.FFirstFrameWaitMs = 3000;
  const auto T0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(Bg.C.OpenNext(B));
  // Far short of the wait: the workers are held at the gate all the while.
  EXPECT_LT(std::chrono::steady_clock::now() - T0, std::chrono::milliseconds(1500));
  EXPECT_TRUE(Bg.C.WindowFilling());
  EXPECT_EQ(Bg.C.FPSDDb.size(), 2048u); // the frame's PSD is the next file's
  EXPECT_EQ(Bg.P.StatusText.rfind("Filling waterfall 0% | Pos: 0.00/13.00s", 0), 0u) << Bg.P.StatusText;
  Gate.Open = true;
  Bg.C.FinishWindowFill();
  TViewerRig Sync;
  Sync.Open(B);
  ExpectSameRing(Bg.C, Sync.C, "flip");
  EXPECT_TRUE(Bg.C.FPSDDb == Sync.C.FPSDDb);
}

// Unloading the library: every viewer's fill is cancelled, and the wait for its workers to leave
// the fill's code keeps to its bound; cancelled fills wake nobody, and later fills run as ever.
TEST_F(TFillFixture, CancelAllFillsWaitsWithinItsBound) {
  TViewerRig Other;
  Other.C.FBackgroundFill = true;
  Other.C.FFirstFrameWaitMs = 0;
  Other.C.FFillBeforePiece = Gate.Hook();
  Gate.DelayMs = 300; // a worker at the gate stays in its piece at least this long
  Bg.Open(A);
  Other.Open(B);
  ASSERT_TRUE(Bg.C.WindowFilling() && Other.C.WindowFilling());
  for (int I = 0; I < 2000 && Gate.Calls.load() == 0; ++I)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_GT(Gate.Calls.load(), 0);
  EXPECT_FALSE(CancelAllWindowFills(0.02));
  EXPECT_TRUE(CancelAllWindowFills(5.0));
  const int32_t Calls = Gate.Calls.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Gate.Calls.load(), Calls) << "a worker took another piece";
  EXPECT_EQ(Bg.P.FillWakes.load() + Other.P.FillWakes.load(), 0);

  Gate.Open = true;
  Gate.DelayMs = 0;
  Bg.C.ResetPlay();
  Bg.C.FinishWindowFill();
  TViewerRig Sync;
  Sync.Open(A);
  ExpectSameRing(Bg.C, Sync.C, "after cancelling all");
}

TEST_F(TFillFixture, ClosingDuringTheFillJoinsEveryWorker) {
  Gate.Open = true;
  Gate.DelayMs = 3; // a slow disk
  for (int32_t Threads : {1, 2, 4}) {
    SetWaterfallThreads(Threads);
    Bg.Open(A);
    Bg.P.UserMovesSlider(2500);
    Bg.C.HandleSliderChange(scThumbPosition); // one request cancelled, one in flight
    ASSERT_TRUE(Bg.C.WindowFilling());
    Bg.C.CloseFile();
    const int32_t AtClose = Gate.Calls.load();
    EXPECT_FALSE(Bg.C.WindowFilling());
    EXPECT_FALSE(Bg.P.TimerActive(TIMER_FILL_ID));
    EXPECT_EQ(Bg.C.FIQSource, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Gate.Calls.load(), AtClose) << "a worker still ran after closing, threads " << Threads;
  }
  SetWaterfallThreads(0);
}

// Playback starts at once and scrolls over a window that is still filling; what it shows in the
// end is what it would show had the window been loaded first.
TEST_F(TFillFixture, PlaybackDuringTheFill) {
  TViewerRig Sync;
  Sync.Open(A);
  Bg.Open(A);
  for (TViewerRig *R : {&Sync, &Bg}) {
    R->P.UserMovesSlider(3000); // 6 s
    R->C.HandleSliderChange(scThumbPosition);
    R->C.StartPlay();
  }
  ASSERT_TRUE(Bg.C.WindowFilling());
  for (int I = 0; I < 30; ++I) {
    Sync.P.Advance(Sync.C, 33);
    Bg.P.Advance(Bg.C, 33);
    if (I == 10)
      Gate.Open = true;
  }
  Bg.C.FinishWindowFill();
  EXPECT_TRUE(Bg.C.FPlaying);
  EXPECT_EQ(Bg.C.FPlayPosition, Sync.C.FPlayPosition);
  ExpectSameRing(Bg.C, Sync.C, "play");
}

// A read that fails on a worker is reported on the viewer's thread when the fill is drained,
// with the rows read before it kept; nothing is thrown.
TEST_F(TFillFixture, WorkerFailureIsReportedOnTheViewersThread) {
  Gate.FailAt = 10; // pieces of 0.065536 s: fails at 0.66 s
  Bg.Open(A);
  Bg.C.StartPlay();
  Gate.Open = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  for (int I = 0; I < 100 && Bg.C.WindowFilling(); ++I) {
    Bg.P.Advance(Bg.C, 33);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_FALSE(Bg.C.WindowFilling());
  EXPECT_EQ(Bg.P.StatusText, "Read error at 0.66 s (open): disk gone");
  EXPECT_EQ(Bg.C.LastFailure(), Bg.P.StatusText);
  EXPECT_FALSE(Bg.C.FPlaying);
  EXPECT_EQ(Bg.C.FWFRowCount, 40);
  for (int32_t S = 0; S < Bg.C.FWFHistory; ++S) {
    const TSingleArray &Row = Bg.C.FWaterfallBuf[static_cast<size_t>(S)];
    EXPECT_EQ(S < 40, Row[0] != 0.0f) << S;
  }
  // Still usable: the next request fills again.
  Gate.FailAt = -1;
  Bg.C.ResetPlay();
  Bg.C.FinishWindowFill();
  EXPECT_EQ(Bg.C.FWFRowCount, 611);
}

} // namespace
