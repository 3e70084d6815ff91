// The viewer's PSD on the GPU engine, with the fake CUDA runtime and cuFFT standing in for the
// device: which engine the titles name, the fallback of a failed call, and that no device
// resource outlives a call.
#include "dsp/posix_fake_cuda.h"
#include "dsp/uFFT.h"
#include "viewer_fixtures.h"

#include <algorithm>
#include <cmath>

namespace {

using namespace fakecuda;

// The next viewer gets a fresh process engine on the fakes of Variant; the factory that was
// there before (the viewer tests' CPU-only one) comes back afterwards.
class ViewerGpu : public ::testing::Test {
protected:
  void UseFakes(const std::string &Variant) {
    ReleaseCudaEngine();
    TCudaEngineFactory Old = SetCudaEngineFactory([Variant] { return EngineIn(Variant); });
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
  EXPECT_EQ(Fake.RtCounter("live"), 0);
  EXPECT_EQ(Fake.FftCounter("live"), 0);
  EXPECT_EQ(Fake.RtCounter("bad") + Fake.FftCounter("bad"), 0);
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
  // The knob's call numbers count from the reset; four blocks make four copies each way.
  for (const char *Knob :
       {"cudaMalloc:1", "cudaMalloc:2", "cufftPlan1d:1", "cufftExecC2C:3", "cudaMemcpy:1", "cudaMemcpy:8"}) {
    SCOPED_TRACE(Knob);
    Fake.Reset();
    {
      TFailKnob K(Knob);
      R.C.UpdatePSD();
    }
    EXPECT_TRUE(StartsWith(R.P.StatusText, "Pos: 0.00/1.00s | [CPU] IO:")) << R.P.StatusText;
    EXPECT_EQ(R.C.FPSDDb, Db) << "the CPU's own result, not a mix";
    EXPECT_EQ(R.C.FPSDFreqs, Fr);
    EXPECT_EQ(Fake.RtCounter("live"), 0);
    EXPECT_EQ(Fake.FftCounter("live"), 0);
    // The engine stays in use: the next call is on the GPU again.
    R.C.UpdatePSD();
    EXPECT_TRUE(StartsWith(R.P.StatusText, "Pos: 0.00/1.00s | [GPU:CUDA GPU] IO:")) << R.P.StatusText;
    ExpectCloseToCpu(R.C.FPSDDb, Db);
  }
  EXPECT_EQ(R.P.RootText, "Zembrola [GPU: CUDA GPU]");
}

TEST_F(ViewerGpu, IncompleteLibrariesLeaveTheViewerOnTheCpu) {
  const std::string F = D.File("c.cs16");
  WriteInt16Recording(F, Sec(1), 0, Sec(1));
  for (const char *Variant : {"no_cudaMemcpy", "no_cufftExecC2C", "missing"}) {
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
