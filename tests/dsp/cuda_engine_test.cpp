// The GPU engine's binding and clean-up, against an in-memory loader whose "libraries" are
// functions of this file. The real loaders and the fake libraries are tested per platform.
#include "dsp/uCudaFFT.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// Every call of the stand-in entry points, in order.
std::vector<std::string> &Calls() {
  static std::vector<std::string> C;
  return C;
}
std::string FailCall; // the entry point whose call fails ("" none); "malloc2" is the second malloc
int MallocCount = 0;
int LiveBuffers = 0;
char BufIn[8 * 64], BufOut[8 * 64];

extern "C" cudaError_t StubMalloc(void **P, size_t Size) {
  ++MallocCount;
  const std::string Me = MallocCount == 1 ? "malloc1" : "malloc2";
  Calls().push_back(Me);
  if (FailCall == Me || Size > sizeof BufIn)
    return 2;
  *P = MallocCount == 1 ? BufIn : BufOut;
  ++LiveBuffers;
  return 0;
}
extern "C" cudaError_t StubFree(void *P) {
  Calls().push_back(P == BufIn ? "free(in)" : P == BufOut ? "free(out)" : "free(?)");
  --LiveBuffers;
  return 0;
}
extern "C" cudaError_t StubMemcpy(void *D, const void *S, size_t N, int32_t Kind) {
  Calls().push_back(Kind == cudaMemcpyHostToDevice ? "h2d" : "d2h");
  if (FailCall == Calls().back())
    return 1;
  std::memcpy(D, S, N);
  return 0;
}
extern "C" cufftResult StubPlan(cufftHandle *Plan, int32_t, int32_t Type, int32_t Batch) {
  Calls().push_back("plan");
  if (FailCall == "plan" || Type != CUFFT_C2C || Batch != 1)
    return 2;
  *Plan = 7;
  return 0;
}
extern "C" cufftResult StubExec(cufftHandle Plan, TcufftComplex *In, TcufftComplex *Out, int32_t Dir) {
  Calls().push_back("exec");
  if (FailCall == "exec" || Plan != 7 || Dir != CUFFT_FORWARD)
    return 6;
  // Identity is enough here: the arithmetic is checked against the fake libraries.
  std::memmove(Out, In, sizeof(TcufftComplex));
  return 0;
}
extern "C" cufftResult StubDestroy(cufftHandle) {
  Calls().push_back("destroy");
  return 0;
}
int32_t Devices = 1;         // what the runtime reports
cudaError_t DeviceError = 0; // and with what result
extern "C" cudaError_t StubDeviceCount(int32_t *Count) {
  *Count = Devices;
  return DeviceError;
}

template <typename F> void *Ptr(F Fn) {
  void *P;
  std::memcpy(&P, &Fn, sizeof P);
  return P;
}

// Libraries by name, each with the entry points it exports; records opens and closes.
struct TStubLoader : ICudaLoader {
  std::map<std::string, std::set<std::string>> Present;
  std::vector<std::string> Opened;  // every name asked for, in order
  std::vector<std::string> *Closed; // names closed, in order (outlives the loader)
  std::map<void *, std::string> Handles;
  std::vector<std::unique_ptr<int>> Cells; // distinct handle values

  explicit TStubLoader(std::vector<std::string> *ClosedLog) : Closed(ClosedLog) {}

  void *Open(const std::string &Name, std::string &LoadedPath) override {
    Opened.push_back(Name);
    if (!Present.count(Name))
      return nullptr;
    Cells.push_back(std::make_unique<int>(0));
    Handles[Cells.back().get()] = Name;
    LoadedPath = "/trusted/" + Name;
    return Cells.back().get();
  }
  void *Symbol(void *Lib, const char *Name) override {
    if (!Present[Handles.at(Lib)].count(Name))
      return nullptr;
    static const std::map<std::string, void *> All = {{"cudaMalloc", Ptr(&StubMalloc)},
                                                      {"cudaFree", Ptr(&StubFree)},
                                                      {"cudaMemcpy", Ptr(&StubMemcpy)},
                                                      {"cufftPlan1d", Ptr(&StubPlan)},
                                                      {"cufftExecC2C", Ptr(&StubExec)},
                                                      {"cufftDestroy", Ptr(&StubDestroy)},
                                                      {"cudaGetDeviceCount", Ptr(&StubDeviceCount)}};
    return All.at(Name);
  }
  void Close(void *Lib) override { Closed->push_back(Handles.at(Lib)); }
};

const std::set<std::string> RuntimeEntries = {"cudaMalloc", "cudaFree", "cudaMemcpy", "cudaGetDeviceCount"};
const std::set<std::string> CufftEntries = {"cufftPlan1d", "cufftExecC2C", "cufftDestroy"};

struct TEngineRig {
  std::vector<std::string> Closed;
  TStubLoader *Loader = nullptr;
  std::unique_ptr<TCudaFFTEngine> Engine;

  TEngineRig(const std::vector<std::string> &Runtimes, const std::vector<std::string> &Cuffts,
             const std::string &Omit = "") {
    auto L = std::make_unique<TStubLoader>(&Closed);
    for (const auto &N : Runtimes)
      L->Present[N] = RuntimeEntries;
    for (const auto &N : Cuffts)
      L->Present[N] = CufftEntries;
    for (auto &[Name, Entries] : L->Present)
      Entries.erase(Omit);
    Loader = L.get();
    Engine = std::make_unique<TCudaFFTEngine>(std::move(L), CudaDllNames());
  }
};

std::vector<std::string> Prefix(const std::vector<std::string> &List, const std::string &Last) {
  auto It = std::find(List.begin(), List.end(), Last);
  return {List.begin(), It == List.end() ? List.end() : It + 1};
}

} // namespace

TEST(CudaEngine, NameListsInTheirOrder) {
  const auto &N = CudaDllNames();
  ASSERT_EQ(N.Runtime.size(), 12u);
  ASSERT_EQ(N.Cufft.size(), 10u);
  EXPECT_EQ(N.Runtime.front(), "cudart64_120.dll");
  EXPECT_EQ(N.Runtime[4], "cudart64_12.dll");
  EXPECT_EQ(N.Runtime.back(), "cudart64_11.dll");
  EXPECT_EQ(N.Cufft.front(), "cufft64_11.dll");
  EXPECT_EQ(N.Cufft.back(), "cufft64_12.dll");
  for (const auto &Name : CudaSharedObjectNames().Runtime)
    EXPECT_EQ(Name.find('/'), std::string::npos);
}

TEST(CudaEngine, FirstNameThatLoadsWinsAndAnyRuntimePairsWithAnyCufft) {
  const auto &N = CudaDllNames();
  struct TCase {
    std::vector<std::string> Runtimes, Cuffts;
    std::string WantRuntime, WantCufft;
  } Cases[] = {
      {{"cudart64_11.dll", "cudart64_12.dll"},
       {"cufft64_12.dll", "cufft64_10.dll"},
       "cudart64_12.dll",
       "cufft64_10.dll"},
      {{"cudart64_120.dll"}, {"cufft64_12.dll"}, "cudart64_120.dll", "cufft64_12.dll"},
      {{"cudart64_11.dll"}, {"cufft64_11.dll", "cufft64_124.dll"}, "cudart64_11.dll", "cufft64_11.dll"},
      {{"cudart64_110.dll", "cudart64_115.dll"}, {"cufft64_120.dll"}, "cudart64_115.dll", "cufft64_120.dll"},
  };
  for (const auto &C : Cases) {
    TEngineRig R(C.Runtimes, C.Cuffts);
    SCOPED_TRACE(C.WantRuntime + " + " + C.WantCufft);
    EXPECT_TRUE(R.Engine->Available());
    EXPECT_EQ(R.Engine->DeviceName(), "CUDA GPU");
    EXPECT_EQ(R.Engine->RuntimePath(), "/trusted/" + C.WantRuntime);
    EXPECT_EQ(R.Engine->CufftPath(), "/trusted/" + C.WantCufft);
    std::vector<std::string> Want = Prefix(N.Runtime, C.WantRuntime);
    const auto F = Prefix(N.Cufft, C.WantCufft);
    Want.insert(Want.end(), F.begin(), F.end());
    EXPECT_EQ(R.Loader->Opened, Want);
    EXPECT_TRUE(R.Closed.empty());
    R.Engine.reset();
    EXPECT_EQ(R.Closed, (std::vector<std::string>{C.WantCufft, C.WantRuntime}));
  }
}

TEST(CudaEngine, MissingLibraryOrEntryPointLeavesItUnavailableWithItsHandlesFreed) {
  const std::string Rt = "cudart64_12.dll", Fft = "cufft64_11.dll";
  struct TCase {
    std::vector<std::string> Runtimes, Cuffts;
    std::string Omit;
    bool CufftTried;
    std::vector<std::string> Closed;
  } Cases[] = {
      {{}, {Fft}, "", false, {}},
      {{Rt}, {}, "", true, {Rt}},
      {{Rt}, {Fft}, "cudaMalloc", false, {Rt}},
      {{Rt}, {Fft}, "cudaFree", false, {Rt}},
      {{Rt}, {Fft}, "cudaMemcpy", false, {Rt}},
      {{Rt}, {Fft}, "cufftPlan1d", true, {Fft, Rt}},
      {{Rt}, {Fft}, "cufftExecC2C", true, {Fft, Rt}},
      {{Rt}, {Fft}, "cufftDestroy", true, {Fft, Rt}},
      // No device, or no answer: cuFFT is not even looked for.
      {{Rt}, {Fft}, "cudaGetDeviceCount", false, {Rt}},
      {{Rt}, {Fft}, "devices:0", false, {Rt}},
      {{Rt}, {Fft}, "error:100", false, {Rt}},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE("omit " + C.Omit + " runtimes " + std::to_string(C.Runtimes.size()));
    Devices = C.Omit == "devices:0" ? 0 : 1;
    DeviceError = C.Omit == "error:100" ? 100 : 0;
    TEngineRig R(C.Runtimes, C.Cuffts, C.Omit);
    Devices = 1;
    DeviceError = 0;
    EXPECT_FALSE(R.Engine->Available());
    EXPECT_EQ(R.Engine->DeviceName(), "");
    EXPECT_EQ(R.Engine->RuntimePath(), "");
    const bool Tried = std::find(R.Loader->Opened.begin(), R.Loader->Opened.end(), CudaDllNames().Cufft[0]) !=
                       R.Loader->Opened.end();
    EXPECT_EQ(Tried, C.CufftTried);
    EXPECT_EQ(R.Closed, C.Closed);
    TFloatArray F{1.0}, P{2.0};
    EXPECT_FALSE(R.Engine->ComputePSD_GPU(TComplexArray(64), 1000.0, 8, 1, F, P));
    EXPECT_TRUE(F.empty() && P.empty());
    R.Engine.reset();
    EXPECT_EQ(R.Closed, C.Closed) << "nothing is freed twice";
  }
}

// Without the optional entry points: one device buffer (transformed in place) and one plan, kept
// after a call that worked; a call that fails releases them, plan first.
TEST(CudaEngine, EveryFailingCallReleasesWhatTheEngineHeldInOrder) {
  struct TCase {
    std::string Fail;
    std::vector<std::string> Calls;
  } Cases[] = {
      {"malloc1", {"malloc1"}},
      {"plan", {"malloc1", "plan", "free(in)"}},
      {"h2d", {"malloc1", "plan", "h2d", "destroy", "free(in)"}},
      {"exec", {"malloc1", "plan", "h2d", "exec", "destroy", "free(in)"}},
      {"d2h", {"malloc1", "plan", "h2d", "exec", "d2h", "destroy", "free(in)"}},
      {"", {"malloc1", "plan", "h2d", "exec", "d2h"}},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE("failing: " + C.Fail);
    TEngineRig R({"cudart64_12.dll"}, {"cufft64_12.dll"});
    ASSERT_TRUE(R.Engine->Available());
    EXPECT_FALSE(R.Engine->Batched() || R.Engine->PageLocked());
    Calls().clear();
    FailCall = C.Fail;
    MallocCount = 0;
    LiveBuffers = 0;
    TFloatArray F{1.0}, P{2.0};
    const bool Ok = R.Engine->ComputePSD_GPU(TComplexArray(8, {1.0f, 0.0f}), 8000.0, 8, 1, F, P);
    EXPECT_EQ(Ok, C.Fail.empty());
    EXPECT_EQ(F.size(), Ok ? 8u : 0u);
    EXPECT_EQ(P.size(), Ok ? 8u : 0u);
    EXPECT_EQ(Calls(), C.Calls);
    EXPECT_EQ(LiveBuffers, Ok ? 1 : 0);
    EXPECT_TRUE(R.Engine->Available()) << "a failed call leaves the engine usable";
    FailCall.clear();
    Calls().clear();
    MallocCount = 0;
    ASSERT_TRUE(R.Engine->ComputePSD_GPU(TComplexArray(8, {1.0f, 0.0f}), 8000.0, 8, 1, F, P));
    EXPECT_EQ(Calls().front(), Ok ? "h2d" : "malloc1") << "kept, or made afresh";
    Calls().clear();
    R.Engine.reset();
    EXPECT_EQ(Calls(), (std::vector<std::string>{"destroy", "free(in)"})) << "released with the engine";
    EXPECT_EQ(LiveBuffers, 0);
  }
}

TEST(CudaEngine, SizesTheCpuPathRefusesNeverReachTheDevice) {
  TEngineRig R({"cudart64_12.dll"}, {"cufft64_12.dll"});
  struct TCase {
    size_t Samples;
    int32_t NFFT;
  } Cases[] = {{7, 8}, {0, 8}, {64, 0}, {64, -8}, {64, 12}};
  for (const auto &C : Cases) {
    Calls().clear();
    TFloatArray F, P;
    EXPECT_FALSE(R.Engine->ComputePSD_GPU(TComplexArray(C.Samples), 1.0, C.NFFT, 1, F, P)) << C.NFFT;
    EXPECT_TRUE(Calls().empty());
  }
}

TEST(CudaEngine, EnsureCreatesTheProcessEngineOnceAndReleaseFreesIt) {
  ReleaseCudaEngine();
  ASSERT_EQ(CudaEngine, nullptr);
  EnsureCudaEngine();
  TCudaFFTEngine *First = CudaEngine;
  ASSERT_NE(First, nullptr);
  EXPECT_EQ(First->Available(), !First->DeviceName().empty());
  EnsureCudaEngine();
  EXPECT_EQ(CudaEngine, First);
  ReleaseCudaEngine();
  EXPECT_EQ(CudaEngine, nullptr);
}

// The process engine comes from the factory installed, once; a factory with nothing to give
// leaves an engine without libraries rather than none.
TEST(CudaEngine, EnsureTakesTheEngineFromTheInstalledFactory) {
  ReleaseCudaEngine();
  int Made = 0;
  TCudaFFTEngine *Given = nullptr;
  static std::vector<std::string> Closed;
  TCudaEngineFactory Before = SetCudaEngineFactory([&] {
    ++Made;
    auto L = std::make_unique<TStubLoader>(&Closed);
    L->Present["cudart64_12.dll"] = RuntimeEntries;
    L->Present["cufft64_11.dll"] = CufftEntries;
    auto E = std::make_unique<TCudaFFTEngine>(std::move(L), CudaDllNames());
    Given = E.get();
    return E;
  });
  EnsureCudaEngine();
  EnsureCudaEngine();
  EXPECT_EQ(Made, 1);
  EXPECT_EQ(CudaEngine, Given);
  EXPECT_TRUE(CudaEngine->Available());
  ReleaseCudaEngine();

  SetCudaEngineFactory([] { return std::unique_ptr<TCudaFFTEngine>(); });
  EnsureCudaEngine();
  ASSERT_NE(CudaEngine, nullptr);
  EXPECT_FALSE(CudaEngine->Available());
  EXPECT_EQ(CudaEngine->DeviceName(), "");
  ReleaseCudaEngine();
  SetCudaEngineFactory(std::move(Before));
}
