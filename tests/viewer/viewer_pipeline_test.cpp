// The waterfall pipeline: parameters, window bounds, the ring, pooling, PSD and frame inputs.
#include "viewer_fixtures.h"

#include "dsp/uFFT.h"
#include "render/uGLRenderer.h"

namespace {

struct TWFCase {
  double Rate, Window, Overlap;
  int32_t NFFT, Decim, History;
};

TEST(ViewerPipeline, CalcWFParamsCases) {
  const TWFCase Cases[] = {
      {2e6, 10, 0.0, 4096, 8, 611},         // 4883 needed rows
      {2e6, 10, 0.5, 4096, 16, 611},        // hop 2048, 9766 needed rows
      {48000, 10, 0.0, 1024, 1, 469},       //
      {1000, 10, 0.0, 256, 1, 40},          // raised from 32
      {1000, 0.5, 0.0, 256, 1, 10},         // history raised to 10
      {1e300, 10, 0.0, 4096, 3579139, 601}, // absurd rates saturate instead of overflowing
  };
  for (const TWFCase &K : Cases) {
    THeadlessPlatform P;
    TViewerCore C(P);
    C.FSampleRate = K.Rate;
    C.FWFWindowSec = K.Window;
    C.FWFOverlap = K.Overlap;
    C.CalcWFParams();
    EXPECT_EQ(C.FWF_NFFT, K.NFFT) << K.Rate << " " << K.Window;
    EXPECT_EQ(C.FWFDecimation, K.Decim) << K.Rate << " " << K.Window;
    EXPECT_EQ(C.FWFHistory, K.History) << K.Rate << " " << K.Window;
  }
}

TEST(ViewerPipeline, CalcWFParamsIgnoresNonPositiveRateOrWindow) {
  THeadlessPlatform P;
  TViewerCore C(P);
  for (const auto &[Rate, Win] : {std::pair{0.0, 10.0}, {-5.0, 10.0}, {2e6, 0.0}}) {
    C.FSampleRate = Rate;
    C.FWFWindowSec = Win;
    C.CalcWFParams();
    EXPECT_EQ(C.FWF_NFFT, DEF_WF_NFFT);
    EXPECT_EQ(C.FWFHistory, DEF_WF_HISTORY);
  }
}

TEST(ViewerPipeline, WindowBounds) {
  struct TCase {
    double Duration, PosSec, Lo, Hi;
  };
  const TCase Cases[] = {{100, 2, 0, 10},    {100, 50, 45, 55}, {100, 98, 90, 100}, {100, 5, 0, 10},
                         {100, 95, 90, 100}, {6, 0, 0, 6},      {6, 5.9, 0, 6}};
  for (const TCase &K : Cases) {
    THeadlessPlatform P;
    TViewerCore C(P);
    C.FDurationSec = K.Duration;
    C.FTotalSamples = Sec(K.Duration);
    C.FPlayPosition = Sec(K.PosSec);
    double Lo = -1, Hi = -1;
    C.GetWindowBounds(Lo, Hi);
    EXPECT_NEAR(Lo, K.Lo, 1e-9) << K.Duration << " @" << K.PosSec;
    EXPECT_NEAR(Hi, K.Hi, 1e-9) << K.Duration << " @" << K.PosSec;
  }
}

TRowBuffer NumberedRows(int32_t Count, int32_t NFFT, float First = 1) {
  TRowBuffer R;
  for (int32_t I = 0; I < Count; ++I)
    R.push_back(TSingleArray(static_cast<size_t>(NFFT), First + static_cast<float>(I)));
  return R;
}

TEST(ViewerPipeline, RingKeepsNewestAndListsThemNewestFirst) {
  THeadlessPlatform P;
  TViewerCore C(P);
  C.FWFHistory = 3;
  C.FWF_NFFT = 4;
  C.InitWaterfallBuffer();
  EXPECT_EQ(C.BuildDisplayRows(), 0);
  C.PushWaterfallRows(NumberedRows(5, 4), 5);
  EXPECT_EQ(C.FWFRowCount, 3);
  EXPECT_EQ(C.FWFWriteIdx, 2);
  ASSERT_EQ(C.BuildDisplayRows(), 3);
  ASSERT_EQ(C.DisplayRows().size(), 3u);
  EXPECT_EQ(C.DisplayRows()[0][0], 5);
  EXPECT_EQ(C.DisplayRows()[1][0], 4);
  EXPECT_EQ(C.DisplayRows()[2][0], 3);
  EXPECT_EQ(C.NewRowsSinceFrame(), 0);

  // Rows of the wrong length are skipped, the others still go in.
  TRowBuffer Mixed = NumberedRows(2, 4, 10);
  Mixed.insert(Mixed.begin() + 1, TSingleArray(3, 99.0f));
  Mixed.push_back(TSingleArray(5, 98.0f));
  C.PushWaterfallRows(Mixed, 4);
  EXPECT_EQ(C.FWFWriteIdx, 1);
  EXPECT_EQ(C.NewRowsSinceFrame(), 2);
  C.BuildDisplayRows();
  EXPECT_EQ(C.DisplayRows()[0][0], 11);
  EXPECT_EQ(C.DisplayRows()[1][0], 10);
  EXPECT_EQ(C.DisplayRows()[2][0], 5);

  // A count beyond the array handed over reads nothing past it.
  C.PushWaterfallRows(NumberedRows(1, 4, 20), 7);
  EXPECT_EQ(C.FWFWriteIdx, 2);
}

TEST(ViewerPipeline, PoolRowsToMapsAndTakesBinwiseMaximum) {
  THeadlessPlatform P;
  TViewerCore C(P);
  C.FWF_NFFT = 2;
  struct TCase {
    int32_t In, K;
    std::vector<float> FirstOfEach; // bin 0 of each output row
  };
  // Input row r holds r in bin 0 and -r in bin 1.
  const TCase Cases[] = {{3, 5, {0, 0, 1, 1, 2}}, {16, 2, {7, 15}}, {5, 1, {4}}, {4, 4, {0, 1, 2, 3}}};
  for (const TCase &K : Cases) {
    TRowBuffer In;
    for (int32_t R = 0; R < K.In; ++R)
      In.push_back({static_cast<float>(R), static_cast<float>(-R)});
    TRowBuffer Out;
    C.PoolRowsTo(In, K.In, K.K, Out);
    ASSERT_EQ(Out.size(), static_cast<size_t>(K.K));
    for (int32_t J = 0; J < K.K; ++J) {
      EXPECT_EQ(Out[static_cast<size_t>(J)][0], K.FirstOfEach[static_cast<size_t>(J)]) << K.In << "->" << K.K;
      // Bin 1 takes its own maximum: the first row of the group.
      const int32_t A = J * K.In / K.K;
      EXPECT_EQ(Out[static_cast<size_t>(J)][1], static_cast<float>(-A)) << K.In << "->" << K.K;
    }
  }
  TRowBuffer Out{{1, 1}};
  C.PoolRowsTo({}, 0, 0, Out);
  EXPECT_TRUE(Out.empty());
  C.PoolRowsTo({}, 0, 2, Out);
  ASSERT_EQ(Out.size(), 2u);
  EXPECT_EQ(Out[1], (TSingleArray{0, 0}));
}

TEST(ViewerPipeline, OpenFillsTheFirstWindowAndPSD) {
  TTempDir D;
  const std::string F = D.File("a.cs16");
  WriteInt16Recording(F, Sec(12), 0, Sec(1));
  TViewerRig R;
  R.Open(F);
  EXPECT_EQ(R.C.FTotalSamples, Sec(12));
  EXPECT_DOUBLE_EQ(R.C.FDurationSec, 12);
  EXPECT_EQ(R.C.FWFHistory, 611);
  EXPECT_NEAR(R.C.FWFRowCount, 611, 1);
  EXPECT_EQ(R.C.FPSDDb.size(), 2048u);
  EXPECT_EQ(R.P.StatusText.rfind("Pos: 0.00/12.00s | [CPU] IO:", 0), 0u) << R.P.StatusText;
  EXPECT_EQ(R.P.SliderMax, SLIDER_RANGE_MAX);
  // The tone at a twentieth of the rate stands far above the floor in the PSD.
  const auto Peak = std::max_element(R.C.FPSDDb.begin(), R.C.FPSDDb.end()) - R.C.FPSDDb.begin();
  EXPECT_NEAR(R.C.FPSDFreqs[static_cast<size_t>(Peak)], 0.05 * 2e6, 2e6 / 2048);
}

TEST(ViewerPipeline, SampleRateAndCentreFromSidecarThenDefault) {
  TTempDir D;
  const std::string F = D.File("b.cs16");
  WriteInt16Recording(F, 96000);
  {
    TViewerRig R;
    R.C.LoadFile(F);
    EXPECT_EQ(R.C.FSampleRate, DEF_SAMPLE_RATE);
    EXPECT_FALSE(R.C.FHasCenterFreq);
  }
  WriteText(D.File("b.txt"), "sample_rate_hz=48000\ncenter_freq_hz=100000000\n");
  TViewerRig R;
  R.C.LoadFile(F);
  EXPECT_EQ(R.C.FSampleRate, 48000);
  EXPECT_DOUBLE_EQ(R.C.FDurationSec, 2.0);
  EXPECT_TRUE(R.C.FHasCenterFreq);
  EXPECT_EQ(R.C.FCenterFreq, 1e8);
}

TEST(ViewerPipeline, PSDReadsOnlyTheAveragedBlocksWithTheSameResult) {
  TTempDir D;
  const std::string F = D.File("c.cs16");
  WriteInt16Recording(F, Sec(1), 0, Sec(1));
  TViewerRig R;
  R.Load(F);
  for (int32_t Avg : {1, 4, 1000}) {
    R.C.FAvgSegments = Avg;
    R.C.FPlayPosition = 12345;
    R.C.UpdatePSD();
    const TComplexArray Whole = R.C.FIQSource->LoadSegment(12345, 66000);
    TFloatArray Fr, Db;
    ComputePSD(Whole, 2e6, 2048, std::min<int32_t>(Avg, 66000 / 2048), Fr, Db);
    EXPECT_EQ(R.C.FPSDDb, Db) << Avg;
    EXPECT_EQ(R.C.FPSDFreqs, Fr) << Avg;
  }
}

TEST(ViewerPipeline, TooShortForAPSDKeepsItEmptyAndSpansTheRate) {
  TTempDir D;
  const std::string F = D.File("d.cs16");
  WriteInt16Recording(F, 1000);
  WriteText(D.File("d.txt"), "center_freq_hz=1000000\n");
  TViewerRig R;
  R.Open(F);
  EXPECT_EQ(R.P.StatusText, "Not enough samples");
  EXPECT_TRUE(R.C.FPSDDb.empty());
  const TFrameInputs In = R.C.BuildFrameInputs();
  EXPECT_EQ(In.FreqLo, 0.0);
  EXPECT_EQ(In.FreqHi, 2e6);
  EXPECT_TRUE(In.Signals.empty());
  EXPECT_TRUE(In.HopperGroups.empty());
  EXPECT_EQ(In.StatusText, "0.00 / 0.00 s");
}

TEST(ViewerPipeline, OnlyTheFirstViewerOfTheProcessSetsTheRootText) {
  TTempDir D;
  const std::string F = D.File("e.cs16");
  WriteInt16Recording(F, 10000);
  TViewerRig A, B;
  A.Open(F);
  B.Open(F);
  EXPECT_EQ(B.P.RootText, "");
}

} // namespace

namespace {

// The reference for a window load: one read and one call per chunk, of a 2 MS/s recording of
// Total samples.
std::vector<TSingleArray> RowsOfOneCallPerChunk(const std::string &F, int64_t Total, double TLo, double THi,
                                                int32_t NFFT, int32_t Decimation, double Overlap) {
  const TIQSource Src(F, "");
  const int64_t Chunk = int64_t{NFFT} * Decimation;
  const int64_t Start = std::llround(TLo * 2e6), End = std::min<int64_t>(std::llround(THi * 2e6), Total);
  std::vector<TSingleArray> Want;
  TRowBuffer Rows(2);
  for (int64_t Pos = Start; Pos + NFFT <= End; Pos += Chunk) {
    const TComplexArray S = Src.LoadSegment(Pos, static_cast<int32_t>(Chunk));
    if (static_cast<int64_t>(S.size()) < NFFT)
      break;
    int32_t N = 0;
    ComputeWaterfallRows(S, 2e6, NFFT, Overlap, 1, Rows, N, Decimation);
    if (N > 0)
      Want.push_back(Rows[0]);
  }
  return Want;
}

// The window is loaded many chunks at a time; its rows must be those of one call per chunk.
TEST(ViewerPipeline, BatchedWindowLoadGivesTheRowsOfOneCallPerChunk) {
  TTempDir D;
  const std::string F = D.File("batch.cs16");
  // Noise-free tone bursts at changing places, so every row differs; the file ends mid-window.
  WriteInt16Recording(F, Sec(2.3), Sec(0.2), Sec(1.9), 5000);
  struct TCase {
    double TLo, THi, Overlap;
    int32_t NFFT, Decimation;
  };
  for (const TCase &K : {TCase{0, 10, 0.0, 4096, 1}, TCase{0, 10, 0.5, 1024, 3},
                         TCase{0.3, 1.7, 0.25, 256, 7}, TCase{1.0, 2.29, 0.0, 512, 2}}) {
    SCOPED_TRACE(testing::Message() << K.TLo << ".." << K.THi << " nfft " << K.NFFT << " dec " << K.Decimation
                                    << " ov " << K.Overlap);
    TViewerRig R;
    R.Load(F);
    R.C.FWF_NFFT = K.NFFT;
    R.C.FWFDecimation = K.Decimation;
    R.C.FWFOverlap = K.Overlap;
    R.C.FWFHistory = 5000;
    R.C.LoadWaterfallWindow(K.TLo, K.THi);

    const std::vector<TSingleArray> Want =
        RowsOfOneCallPerChunk(F, Sec(2.3), K.TLo, K.THi, K.NFFT, K.Decimation, K.Overlap);
    ASSERT_EQ(R.C.FWFRowCount, static_cast<int32_t>(Want.size()));
    for (size_t I = 0; I < Want.size(); ++I)
      ASSERT_EQ(R.C.FWaterfallBuf[I], Want[I]) << "row " << I;
  }
}

// The window is read and turned into rows piece by piece on worker threads, straight into the
// ring when it fits and through a buffer when it does not: every thread count must leave the ring
// as pushing one call's rows per chunk would, and slots without a row of the new window must be
// zero, also where the previous window had rows.
TEST(ViewerPipeline, WindowLoadIsTheSameOnEveryThreadCountAndLeavesNoStaleSlots) {
  TTempDir D;
  const std::string F = D.File("threads.cs16");
  WriteInt16Recording(F, Sec(2.3), Sec(0.1), Sec(2.0), 5000);
  struct TCase {
    double TLo, THi, Overlap;
    int32_t NFFT, Decimation, History;
  };
  for (const TCase &K : {TCase{0, 10, 0.0, 4096, 1, 5000}, TCase{0, 10, 0.5, 1024, 3, 40},
                         TCase{0.3, 1.7, 0.25, 256, 7, 5000}, TCase{0, 2.3, 0.0, 4096, 8, 140}}) {
    const std::vector<TSingleArray> Want =
        RowsOfOneCallPerChunk(F, Sec(2.3), K.TLo, K.THi, K.NFFT, K.Decimation, K.Overlap);
    const size_t H = static_cast<size_t>(K.History);
    ASSERT_GT(Want.size(), 2u);
    for (int32_t Threads : {1, 2, 3, 8}) {
      SCOPED_TRACE(testing::Message()
                   << "nfft " << K.NFFT << " history " << K.History << " threads " << Threads);
      SetWaterfallThreads(Threads);
      TViewerRig R;
      R.Load(F);
      R.C.FWF_NFFT = K.NFFT;
      R.C.FWFDecimation = K.Decimation;
      R.C.FWFOverlap = K.Overlap;
      R.C.FWFHistory = K.History;
      // A full ring first, so that stale rows would show.
      R.C.LoadWaterfallWindow(0, 10);
      R.C.LoadWaterfallWindow(K.TLo, K.THi);
      ASSERT_EQ(R.C.FWaterfallBuf.size(), H);
      ASSERT_EQ(static_cast<size_t>(R.C.FWFRowCount), std::min(H, Want.size()));
      ASSERT_EQ(static_cast<size_t>(R.C.FWFWriteIdx), Want.size() % H);
      for (size_t I = Want.size() > H ? Want.size() - H : 0; I < Want.size(); ++I)
        ASSERT_EQ(R.C.FWaterfallBuf[I % H], Want[I]) << "row " << I;
      // A window of a few rows at the end: the slots after them are cleared.
      R.C.LoadWaterfallWindow(2.25, 2.3);
      const size_t Few = static_cast<size_t>(R.C.FWFRowCount);
      ASSERT_LT(Few, std::min(H, Want.size()));
      for (size_t I = Few; I < H; ++I)
        ASSERT_EQ(R.C.FWaterfallBuf[I], TSingleArray(static_cast<size_t>(K.NFFT), 0.0f)) << "slot " << I;
    }
    SetWaterfallThreads(0);
  }
}

} // namespace
