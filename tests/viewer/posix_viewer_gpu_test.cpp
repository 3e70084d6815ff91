// The viewer's PSD on the GPU engine, with the fake CUDA runtime and cuFFT standing in for the
// device: which engine the titles name, the fallback of a failed call, and that no device
// resource outlives a call.
#include "dsp/posix_fake_cuda.h"
#include "dsp/uFFT.h"
#include "viewer_fixtures.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

using namespace fakecuda;

// The next viewer gets a fresh process engine on the fakes of Variant, choosing the GPU whenever
// it works (or as Setup says); the factory that was there before (the viewer tests' CPU-only one)
// comes back afterwards.
class ViewerGpu : public ::testing::Test {
protected:
  void UseFakes(
      const std::string &Variant, std::function<void(TCudaFFTEngine &)> Setup = [](TCudaFFTEngine &E) {
        E.SetChoice(TPsdChoice::GpuFirst);
      }) {
    ReleaseCudaEngine();
    TCudaEngineFactory Old = SetCudaEngineFactory([Variant, Setup] {
      auto E = EngineIn(Variant);
      Setup(*E);
      return E;
    });
    if (!FSaved)
      FBefore = std::move(Old);
    FSaved = true;
  }
  void TearDown() override {
    ReleaseCudaEngine();
    if (FSaved)
      SetCudaEngineFactory(std::move(FBefore));
  }
  TCudaEngineFactory FBefore;
  bool FSaved = false;
  static bool StartsWith(const std::string &S, const std::string &P) { return S.rfind(P, 0) == 0; }

  TTempDir D;
};

// The GPU result agrees with the CPU's to single precision; 0.002 dB over bins within 80 dB of
// the peak is the bound the engine's own tests hold it to.
void ExpectCloseToCpu(const TFloatArray &Gpu, const TFloatArray &Cpu) {
  ASSERT_EQ(Gpu.size(), Cpu.size());
  const double Peak = *std::max_element(Cpu.begin(), Cpu.end());
  for (size_t I = 0; I < Cpu.size(); ++I)
    if (Cpu[I] > Peak - 80.0) {
      EXPECT_NEAR(Gpu[I], Cpu[I], 0.002) << I;
    }
}

TEST_F(ViewerGpu, AvailableEngineComputesEveryPsdAndNamesItselfOnce) {
  const std::string F = D.File("g.cs16");
  WriteInt16Recording(F, Sec(3), 0, Sec(3));
  UseFakes("full");
  TFakeCounters Fake;
  TViewerRig A, B;
  A.Open(F);
  EXPECT_EQ(A.P.RootText, "Zembrola [GPU: CUDA GPU]");
  EXPECT_TRUE(StartsWith(A.P.StatusText, "Pos: 0.00/3.00s | [GPU:CUDA GPU] IO:")) << A.P.StatusText;
  EXPECT_GT(Fake.FftCounter("exec"), 0);
  // Only the first viewer of the process sets its title.
  B.Open(F);
  EXPECT_EQ(B.P.RootText, "");
  EXPECT_TRUE(StartsWith(B.P.StatusText, "Pos: 0.00/3.00s | [GPU:CUDA GPU]")) << B.P.StatusText;

  for (int32_t Avg : {1, 8}) {
    A.C.FAvgSegments = Avg;
    A.C.FPlayPosition = 4321;
    A.C.UpdatePSD();
    TFloatArray Fr, Db;
    ComputePSD(A.C.FIQSource->LoadSegment(4321, int64_t{Avg} * 2048), 2e6, 2048, Avg, Fr, Db);
    EXPECT_EQ(A.C.FPSDFreqs, Fr);
    ExpectCloseToCpu(A.C.FPSDDb, Db);
  }
  // The engine keeps its plans (one per block count) and buffers for the viewers' next PSDs, and
  // gives everything back when it goes.
  EXPECT_EQ(Fake.FftCounter("live"), 2);
  EXPECT_EQ(Fake.RtCounter("live"), 1);
  ReleaseCudaEngine();
  EXPECT_TRUE(Fake.AllFree());
}

TEST_F(ViewerGpu, FailedCallFallsBackToTheCpuForThatCallOnly) {
  const std::string F = D.File("f.cs16");
  WriteInt16Recording(F, Sec(1), 0, Sec(1));
  WriteText(D.File("f.txt"), "center_freq_hz=433920000\n");
  UseFakes("full");
  TFakeCounters Fake;
  TViewerRig R;
  R.Open(F);
  R.C.FAvgSegments = 4;
  R.C.FPlayPosition = 777;
  TFloatArray Fr, Db;
  ComputePSD(R.C.FIQSource->LoadSegment(777, 4 * 2048), 2e6, 2048, 4, Fr, Db);
  for (double &X : Fr)
    X += 433920000.0;
  // The knob's call numbers count from the reset. A warm engine keeps its plan and buffers from
  // the call before; a fresh one (the process engine made again) allocates and plans first.
  struct TCase {
    const char *Knob;
    bool Fresh;
  } Cases[] = {{"cudaMemcpy:1", false}, {"cufftExecC2C:1", false},  {"cudaMemcpy:2", false},
               {"cudaMalloc:1", true},  {"cudaMallocHost:1", true}, {"cufftPlanMany:1", true}};
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Knob);
    if (C.Fresh)
      ReleaseCudaEngine();
    Fake.Reset();
    {
      TFailKnob K(C.Knob);
      R.C.UpdatePSD();
    }
    EXPECT_TRUE(StartsWith(R.P.StatusText, "Pos: 0.00/1.00s | [CPU] IO:")) << R.P.StatusText;
    EXPECT_EQ(R.C.FPSDDb, Db) << "the CPU's own result, not a mix";
    EXPECT_EQ(R.C.FPSDFreqs, Fr);
    EXPECT_TRUE(Fake.AllFree());
    // The engine stays in use: the next call is on the GPU again.
    R.C.UpdatePSD();
    EXPECT_TRUE(StartsWith(R.P.StatusText, "Pos: 0.00/1.00s | [GPU:CUDA GPU] IO:")) << R.P.StatusText;
    ExpectCloseToCpu(R.C.FPSDDb, Db);
  }
  EXPECT_EQ(R.P.RootText, "Zembrola [GPU: CUDA GPU]");
}

// With the engine's own choice the viewer shows whichever engine its measurement found faster,
// and the title still names the GPU it has.
TEST_F(ViewerGpu, ViewerTakesTheEngineMeasuredFaster) {
  const std::string F = D.File("m.cs16");
  WriteInt16Recording(F, Sec(1), 0, Sec(1));
  for (const bool GpuWins : {true, false}) {
    SCOPED_TRACE(GpuWins);
    UseFakes("full", [GpuWins](TCudaFFTEngine &E) {
      E.SetClock(ScriptedClock({0, GpuWins ? 0.03 : 0.05, 1, GpuWins ? 1.05 : 1.03}));
    });
    TFakeCounters Fake;
    TViewerRig R;
    R.Open(F);
    EXPECT_EQ(R.P.RootText, "Zembrola [GPU: CUDA GPU]");
    EXPECT_TRUE(StartsWith(R.P.StatusText,
                           GpuWins ? "Pos: 0.00/1.00s | [GPU:CUDA GPU] IO:" : "Pos: 0.00/1.00s | [CPU] IO:"))
        << R.P.StatusText;
    ASSERT_TRUE(CudaEngine->Verdict(2048, 1).has_value());
    const long Execs = Fake.FftCounter("exec");
    R.C.UpdatePSD();
    EXPECT_EQ(Fake.FftCounter("exec"), Execs + (GpuWins ? 1 : 0)) << "measured once";
  }
}

TEST_F(ViewerGpu, IncompleteLibrariesLeaveTheViewerOnTheCpu) {
  const std::string F = D.File("c.cs16");
  WriteInt16Recording(F, Sec(1), 0, Sec(1));
  for (const char *Variant : {"no_cudaMemcpy", "no_cufftExecC2C", "zero_devices", "missing"}) {
    SCOPED_TRACE(Variant);
    UseFakes(Variant);
    TViewerRig R;
    R.Open(F);
    EXPECT_EQ(R.P.RootText, "Zembrola [CPU only - no CUDA]");
    EXPECT_TRUE(StartsWith(R.P.StatusText, "Pos: 0.00/1.00s | [CPU] IO:")) << R.P.StatusText;
    EXPECT_EQ(R.C.FPSDDb.size(), 2048u);
  }
}

} // namespace
