// The GPU engine on the native loader with the fake CUDA runtime and cuFFT built by the tests
// (host memory, their own transform), each set in its folder under ZB_FAKE_CUDA_DIR.
#include "dsp/posix_fake_cuda.h"
#include "dsp/uFFT.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

namespace {

using fakecuda::CufftFile;
using fakecuda::EngineIn;
using fakecuda::RuntimeFile;
using fakecuda::TFailKnob;
using fakecuda::TFakeCounters;
const std::string &FakeRoot = fakecuda::Root;

bool IsLoaded(const std::string &Path) {
  void *H = dlopen(Path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (H)
    dlclose(H);
  return H != nullptr;
}

TComplexArray NoisyTones(size_t N, unsigned Seed) {
  std::mt19937 Rng(Seed);
  std::normal_distribution<float> G(0.0f, 0.05f);
  TComplexArray S(N);
  for (size_t I = 0; I < N; ++I) {
    const double A = 2.0 * M_PI * 0.123 * static_cast<double>(I),
                 B = -2.0 * M_PI * 0.31 * static_cast<double>(I);
    S[I].Re = static_cast<float>(0.7 * std::cos(A) + 0.01 * std::cos(B)) + G(Rng);
    S[I].Im = static_cast<float>(0.7 * std::sin(A) + 0.01 * std::sin(B)) + G(Rng);
  }
  return S;
}

} // namespace

TEST(CudaFakes, CompleteSetLoadsByFullPathAndIsUnloadedWithTheEngine) {
  auto E = EngineIn("full");
  EXPECT_TRUE(E->Available());
  EXPECT_EQ(E->DeviceName(), "CUDA GPU");
  EXPECT_EQ(E->RuntimePath(), FakeRoot + "/full/" + RuntimeFile);
  EXPECT_EQ(E->CufftPath(), FakeRoot + "/full/" + CufftFile);
  E.reset();
  EXPECT_FALSE(IsLoaded(FakeRoot + "/full/" + RuntimeFile));
  EXPECT_FALSE(IsLoaded(FakeRoot + "/full/" + CufftFile));
}

TEST(CudaFakes, MissingEntryPointUnloadsWhatWasLoaded) {
  for (const char *Entry :
       {"cudaMalloc", "cudaFree", "cudaMemcpy", "cufftPlan1d", "cufftExecC2C", "cufftDestroy"}) {
    SCOPED_TRACE(Entry);
    const std::string Dir = FakeRoot + "/no_" + Entry;
    auto E = EngineIn(std::string("no_") + Entry);
    EXPECT_FALSE(E->Available());
    EXPECT_EQ(E->DeviceName(), "");
    EXPECT_FALSE(IsLoaded(Dir + "/" + RuntimeFile));
    EXPECT_FALSE(IsLoaded(Dir + "/" + CufftFile));
  }
}

TEST(CudaFakes, LoaderOpensNothingOutsideItsAbsoluteFolder) {
  struct TCase {
    std::string Dir, Name;
  } Cases[] = {
      {"", RuntimeFile},                        // no folder given
      {"fake_cuda/full", RuntimeFile},          // relative folder
      {FakeRoot + "/full", "./" + RuntimeFile}, // a path instead of a name
      {FakeRoot, "full/" + RuntimeFile},        // the same, one floor up
      {FakeRoot + "/full", "libcudart.so.99"},  // not there
  };
  for (const auto &C : Cases) {
    auto L = CreateCudaLoaderIn(C.Dir);
    std::string Path = "stale";
    void *H = L->Open(C.Name, Path);
    EXPECT_EQ(H, nullptr) << C.Dir << " | " << C.Name;
    EXPECT_EQ(Path, "");
    if (H)
      L->Close(H);
  }
  // The system loader takes plain names only.
  std::string Path;
  EXPECT_EQ(CreateSystemCudaLoader()->Open(FakeRoot + "/full/" + RuntimeFile, Path), nullptr);
}

// The fakes transform in single precision like the device does. Over bins within 80 dB of the
// strongest (all bins of these noisy recordings), the GPU result stays within 0.002 dB of the
// 64-bit CPU path; measured differences are about ten times smaller.
TEST(CudaFakes, ResultEqualsTheCpuPsdToSinglePrecision) {
  auto E = EngineIn("full");
  ASSERT_TRUE(E->Available());
  struct TCase {
    int32_t NFFT, Avg;
    size_t Samples;
  } Cases[] = {{8, 1, 8}, {256, 1, 300}, {1024, 4, 4096}, {4096, 3, 4096 * 5 + 17}, {16384, 2, 40000}};
  unsigned Seed = 1;
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.NFFT);
    const TComplexArray S = NoisyTones(C.Samples, Seed++);
    TFloatArray Fc, Pc, Fg, Pg;
    ComputePSD(S, 1e6, C.NFFT, C.Avg, Fc, Pc);
    ASSERT_TRUE(E->ComputePSD_GPU(S, 1e6, C.NFFT, C.Avg, Fg, Pg));
    ASSERT_EQ(Pg.size(), Pc.size());
    EXPECT_EQ(Fg, Fc);
    const double Peak = *std::max_element(Pc.begin(), Pc.end());
    double Worst = 0.0;
    for (size_t I = 0; I < Pc.size(); ++I)
      if (Pc[I] > Peak - 80.0)
        Worst = std::max(Worst, std::fabs(Pg[I] - Pc[I]));
    EXPECT_LE(Worst, 0.002);
  }
}

TEST(CudaFakes, ConstantInputMatchesTheKnownSpectrum) {
  auto E = EngineIn("full");
  TFloatArray F, P;
  ASSERT_TRUE(E->ComputePSD_GPU(TComplexArray(8, {1.0f, 0.0f}), 8000.0, 8, 1, F, P));
  const double Want[8] = {-120, -120, -120, 6.0206, 12.0412, 6.0206, -120, -120};
  for (int I = 0; I < 8; ++I) {
    EXPECT_NEAR(P[I], Want[I], 1e-4) << I;
    EXPECT_DOUBLE_EQ(F[I], (I - 4) * 1000.0);
  }
}

TEST(CudaFakes, EveryFailingCallReturnsFalseWithEverythingFreed) {
  auto E = EngineIn("full");
  ASSERT_TRUE(E->Available());
  TFakeCounters Fake;
  const TComplexArray S = NoisyTones(4 * 256, 7);
  // Three blocks: the n-th copy or transform fails mid-way through the averaging.
  for (const char *Knob : {"cudaMalloc:1", "cudaMalloc:2", "cufftPlan1d:1", "cudaMemcpy:1", "cudaMemcpy:2",
                           "cudaMemcpy:5", "cufftExecC2C:1", "cufftExecC2C:3"}) {
    SCOPED_TRACE(Knob);
    Fake.Reset();
    TFloatArray F{1.0}, P{1.0};
    {
      TFailKnob K(Knob);
      EXPECT_FALSE(E->ComputePSD_GPU(S, 1e6, 256, 3, F, P));
    }
    EXPECT_TRUE(F.empty() && P.empty());
    EXPECT_EQ(Fake.RtCounter("live"), 0);
    EXPECT_EQ(Fake.FftCounter("live"), 0);
    EXPECT_EQ(Fake.RtCounter("bad"), 0);
    EXPECT_EQ(Fake.FftCounter("bad"), 0);
    EXPECT_EQ(Fake.RtCounter("free"),
              Fake.RtCounter("malloc") - (std::string(Knob).rfind("cudaMalloc", 0) == 0));
    EXPECT_EQ(Fake.FftCounter("destroy"), Fake.FftCounter("plan") - (std::string(Knob) == "cufftPlan1d:1"));
    // The engine stays available and the next call succeeds.
    EXPECT_TRUE(E->ComputePSD_GPU(S, 1e6, 256, 3, F, P));
    EXPECT_EQ(P.size(), 256u);
  }
  Fake.Reset();
  TFloatArray F, P;
  EXPECT_FALSE(E->ComputePSD_GPU(TComplexArray(255), 1e6, 256, 1, F, P));
  EXPECT_EQ(Fake.RtCounter("malloc"), 0) << "too few samples: no device memory touched";
}
