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
#include <utility>
#include <vector>

namespace {

using fakecuda::CufftFile;
using fakecuda::EngineIn;
using fakecuda::RuntimeFile;
using fakecuda::ScriptedClock;
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

// A missing required entry point, or a runtime without a device (none reported, or no answer),
// leaves the engine unavailable with both libraries unloaded.
TEST(CudaFakes, MissingEntryPointOrNoDeviceUnloadsWhatWasLoaded) {
  struct TCase {
    std::string Variant, Knob;
  } Cases[] = {{"no_cudaMalloc", ""},  {"no_cudaFree", ""},           {"no_cudaMemcpy", ""},
               {"no_cufftPlan1d", ""}, {"no_cufftExecC2C", ""},       {"no_cufftDestroy", ""},
               {"zero_devices", ""},   {"no_cudaGetDeviceCount", ""}, {"full", "cudaGetDeviceCount"}};
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Variant + " " + C.Knob);
    const std::string Dir = FakeRoot + "/" + C.Variant;
    TFailKnob K(C.Knob);
    auto E = EngineIn(C.Variant);
    EXPECT_FALSE(E->Available());
    EXPECT_EQ(E->DeviceName(), "");
    EXPECT_EQ(E->DeviceCount(), 0);
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

// Every entry point failing at each of its calls in one PSD, on the batched and the block-by-block
// path, and again after the engine had its plan and buffers from an earlier call: false with
// empty arrays, everything the engine held released, and the next call works.
TEST(CudaFakes, EveryFailingCallReturnsFalseWithEverythingFreed) {
  const TComplexArray S = NoisyTones(4 * 256, 7);
  struct TCase {
    std::string Variant;
    std::vector<std::string> Knobs;
  } Cases[] = {
      {"full",
       {"cudaMallocHost:1", "cudaMalloc:1", "cufftPlanMany:1", "cudaMemcpy:1", "cudaMemcpy:2",
        "cufftExecC2C:1"}},
      // Three blocks one at a time: the n-th copy or transform fails mid-way through the averaging.
      {"legacy",
       {"cudaMalloc:1", "cufftPlan1d:1", "cudaMemcpy:1", "cudaMemcpy:4", "cudaMemcpy:6", "cufftExecC2C:1",
        "cufftExecC2C:3"}},
  };
  for (const auto &C : Cases)
    for (const bool Warm : {false, true}) {
      TFakeCounters Fake(C.Variant);
      for (const std::string &Knob : C.Knobs) {
        SCOPED_TRACE(C.Variant + " " + Knob + (Warm ? " warm" : " cold"));
        auto E = EngineIn(C.Variant);
        ASSERT_TRUE(E->Available());
        TFloatArray F{1.0}, P{1.0};
        if (Warm) { // smaller: buffers grow, a new plan
          ASSERT_TRUE(E->ComputePSD_GPU(S, 1e6, 128, 2, F, P));
        }
        Fake.Reset();
        {
          TFailKnob K(Knob);
          EXPECT_FALSE(E->ComputePSD_GPU(S, 1e6, 256, 3, F, P));
        }
        EXPECT_TRUE(F.empty() && P.empty());
        EXPECT_TRUE(Fake.AllFree());
        EXPECT_EQ(E->PlanCount(), 0u);
        EXPECT_TRUE(E->ComputePSD_GPU(S, 1e6, 256, 3, F, P));
        EXPECT_EQ(P.size(), 256u);
        E.reset();
        EXPECT_TRUE(Fake.AllFree());
      }
    }
  auto E = EngineIn("full");
  TFakeCounters Fake;
  TFloatArray F, P;
  EXPECT_FALSE(E->ComputePSD_GPU(TComplexArray(255), 1e6, 256, 1, F, P));
  EXPECT_EQ(Fake.RtCounter("malloc") + Fake.RtCounter("mallochost"), 0)
      << "too few samples: nothing allocated";
}

// What a run of PSDs costs on the device: one plan per size and block count, buffers allocated
// once and grown only, one transform per PSD when batched, page-locked memory where offered;
// everything released with the engine.
TEST(CudaFakes, PlansAndBuffersAreKeptAcrossCallsAndFreedWithTheEngine) {
  const TComplexArray S = NoisyTones(64 * 1024, 3);
  struct TCase {
    std::string Variant;
    bool Batched, PageLocked;
  } Cases[] = {{"full", true, true},
               {"legacy", false, false},
               {"no_cufftPlanMany", false, true},
               {"no_cudaMallocHost", true, false}};
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Variant);
    auto E = EngineIn(C.Variant);
    ASSERT_TRUE(E->Available());
    EXPECT_EQ(E->DeviceCount(), 1);
    EXPECT_EQ(E->Batched(), C.Batched);
    EXPECT_EQ(E->PageLocked(), C.PageLocked);
    TFakeCounters Fake(C.Variant);
    TFloatArray F, P;
    for (int I = 0; I < 3; ++I)
      ASSERT_TRUE(E->ComputePSD_GPU(S, 1e6, 1024, 8, F, P));
    EXPECT_EQ(Fake.FftCounter("exec"), C.Batched ? 3 : 24);
    EXPECT_EQ(Fake.FftCounter("planmany") + Fake.FftCounter("plan"), 1);
    EXPECT_EQ(Fake.FftCounter("planmany"), C.Batched ? 1 : 0);
    EXPECT_EQ(Fake.RtCounter("malloc"), 1);
    EXPECT_EQ(Fake.RtCounter("mallochost"), C.PageLocked ? 1 : 0);
    EXPECT_EQ(Fake.RtCounter("memcpy"), C.Batched ? 6 : 48);
    // Fewer blocks fit the buffers held; more (or a larger size) grow them.
    ASSERT_TRUE(E->ComputePSD_GPU(S, 1e6, 1024, 2, F, P));
    EXPECT_EQ(Fake.RtCounter("malloc"), 1);
    ASSERT_TRUE(E->ComputePSD_GPU(S, 1e6, 4096, 16, F, P));
    EXPECT_EQ(Fake.RtCounter("malloc"), 2);
    EXPECT_EQ(Fake.RtCounter("free"), 1);
    EXPECT_EQ(Fake.RtCounter("live"), 1);
    EXPECT_EQ(Fake.RtCounter("livehost"), C.PageLocked ? 1 : 0);
    // At most MAX_PLANS plans stay, the least recently used going first.
    for (int32_t N : {32, 64, 128, 256, 512})
      ASSERT_TRUE(E->ComputePSD_GPU(S, 1e6, N, 1, F, P));
    EXPECT_EQ(E->PlanCount(), TCudaFFTEngine::MAX_PLANS);
    EXPECT_EQ(Fake.FftCounter("live"), static_cast<long>(TCudaFFTEngine::MAX_PLANS));
    E.reset();
    EXPECT_TRUE(Fake.AllFree());
  }
}

// One batched transform gives what the blocks one at a time give, to single precision (with the
// fakes: the same bits).
TEST(CudaFakes, BatchedResultEqualsTheBlockByBlockResult) {
  auto Batched = EngineIn("full");
  auto PerBlock = EngineIn("legacy");
  ASSERT_TRUE(Batched->Batched() && !PerBlock->Batched());
  unsigned Seed = 11;
  for (const auto &[NFFT, Avg] :
       std::vector<std::pair<int32_t, int32_t>>{{8, 1}, {1024, 7}, {4096, 16}, {256, 64}}) {
    SCOPED_TRACE(NFFT);
    const TComplexArray S = NoisyTones(static_cast<size_t>(NFFT) * static_cast<size_t>(Avg) + 5, Seed++);
    TFloatArray Fb, Pb, Fs, Ps;
    ASSERT_TRUE(Batched->ComputePSD_GPU(S, 1e6, NFFT, Avg, Fb, Pb));
    ASSERT_TRUE(PerBlock->ComputePSD_GPU(S, 1e6, NFFT, Avg, Fs, Ps));
    EXPECT_EQ(Fb, Fs);
    ASSERT_EQ(Pb.size(), Ps.size());
    for (size_t I = 0; I < Pb.size(); ++I)
      ASSERT_NEAR(Pb[I], Ps[I], 1e-6) << I;
  }
}

// The faster engine, measured once per size and block count with a clock the test sets: the GPU
// must win by a tenth; the result is the chosen engine's own; later calls reuse the verdict.
TEST(CudaFakes, BestEngineIsMeasuredOnceAndItsResultReturned) {
  const TComplexArray S = NoisyTones(4 * 512, 5);
  TFloatArray Fc, Pc, Fg, Pg;
  ComputePSD(S, 1e6, 512, 4, Fc, Pc);
  struct TCase {
    double GpuMs, CpuMs;
    bool WantGpu;
  } Cases[] = {{30, 50, true}, {50, 30, false}, {30, 32, false}, {25, 30, true}};
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.GpuMs);
    auto E = EngineIn("full");
    ASSERT_TRUE(E->ComputePSD_GPU(S, 1e6, 512, 4, Fg, Pg));
    // Runs over 20 ms are their own measure: one timed run each way, GPU first.
    E->SetClock(ScriptedClock({0, C.GpuMs / 1000, 1, 1 + C.CpuMs / 1000}));
    TFakeCounters Fake;
    TFloatArray F, P;
    EXPECT_EQ(E->ComputePSD_Best(S, 1e6, 512, 4, F, P), C.WantGpu);
    EXPECT_EQ(P, C.WantGpu ? Pg : Pc);
    EXPECT_EQ(F, Fc);
    const auto V = E->Verdict(512, 4);
    ASSERT_TRUE(V.has_value());
    EXPECT_EQ(V->Gpu, C.WantGpu);
    EXPECT_NEAR(V->GpuMs, C.GpuMs, 1e-9);
    EXPECT_NEAR(V->CpuMs, C.CpuMs, 1e-9);
    EXPECT_EQ(Fake.FftCounter("exec"), 2) << "one run to build, one timed";
    Fake.Reset();
    EXPECT_EQ(E->ComputePSD_Best(S, 1e6, 512, 4, F, P), C.WantGpu);
    EXPECT_EQ(P, C.WantGpu ? Pg : Pc);
    EXPECT_EQ(Fake.FftCounter("exec"), C.WantGpu ? 1 : 0) << "no second measurement";
    EXPECT_FALSE(E->Verdict(512, 2).has_value());
  }
  // The GPU first whenever it works; a failed GPU call gives the CPU's result and no verdict.
  auto E = EngineIn("full");
  E->SetChoice(TPsdChoice::GpuFirst);
  TFloatArray F, P;
  EXPECT_TRUE(E->ComputePSD_Best(S, 1e6, 512, 4, F, P));
  EXPECT_EQ(P, Pg);
  E->SetChoice(TPsdChoice::Faster);
  for (const char *Knob : {"cufftExecC2C:1", "cufftExecC2C:2"}) {
    TFakeCounters Fake;
    TFailKnob K(Knob);
    EXPECT_FALSE(E->ComputePSD_Best(S, 1e6, 512, 4, F, P)) << Knob;
    EXPECT_EQ(P, Pc);
    EXPECT_FALSE(E->Verdict(512, 4).has_value());
    EXPECT_TRUE(Fake.AllFree());
  }
}
