#include "dsp/uCudaFFT.h"

#include "base/uLog.h"
#include "dsp/uFFT.h"
#include "dsp/uFFTMath.h"

#include <limits>
#include <utility>

const TCudaLibraryNames &CudaDllNames() {
  static const TCudaLibraryNames N{
      {"cudart64_120.dll", "cudart64_121.dll", "cudart64_122.dll", "cudart64_124.dll", "cudart64_12.dll",
       "cudart64_115.dll", "cudart64_114.dll", "cudart64_113.dll", "cudart64_112.dll", "cudart64_111.dll",
       "cudart64_110.dll", "cudart64_11.dll"},
      {"cufft64_11.dll", "cufft64_10.dll", "cufft64_110.dll", "cufft64_111.dll", "cufft64_112.dll",
       "cufft64_115.dll", "cufft64_120.dll", "cufft64_121.dll", "cufft64_124.dll", "cufft64_12.dll"}};
  return N;
}

const TCudaLibraryNames &CudaSharedObjectNames() {
  // The sonames of the toolkits, newest first; the unversioned development link last.
  static const TCudaLibraryNames N{
      {"libcudart.so.13", "libcudart.so.12", "libcudart.so.11.0", "libcudart.so.11", "libcudart.so"},
      {"libcufft.so.12", "libcufft.so.11", "libcufft.so.10", "libcufft.so"}};
  return N;
}

TCudaFFTEngine::TCudaFFTEngine() : TCudaFFTEngine(CreateSystemCudaLoader(), SystemCudaLibraryNames()) {}

TCudaFFTEngine::TCudaFFTEngine(std::unique_ptr<ICudaLoader> Loader, const TCudaLibraryNames &Names)
    : FLoader(std::move(Loader)) {
  if (FLoader)
    TryLoadLibraries(Names);
}

TCudaFFTEngine::~TCudaFFTEngine() {
  FreeCufft();
  FreeRuntime();
}

void TCudaFFTEngine::FreeCufft() {
  if (FCufftLib)
    FLoader->Close(FCufftLib);
  FCufftLib = nullptr;
  FCufftPath.clear();
  FCufftPlan1d = nullptr;
  FCufftExecC2C = nullptr;
  FCufftDestroy = nullptr;
}

void TCudaFFTEngine::FreeRuntime() {
  if (FCudaLib)
    FLoader->Close(FCudaLib);
  FCudaLib = nullptr;
  FCudaPath.clear();
  FCudaMalloc = nullptr;
  FCudaFree = nullptr;
  FCudaMemcpy = nullptr;
}

void *TCudaFFTEngine::LoadFirst(const std::vector<std::string> &Names, std::string &Path) {
  for (const std::string &Name : Names) {
    std::string Loaded;
    if (void *Lib = FLoader->Open(Name, Loaded)) {
      Path = Loaded.empty() ? Name : Loaded;
      LogFmt("CUDA: loaded %s", Path);
      return Lib;
    }
  }
  return nullptr;
}

namespace {
// A symbol as the function type it is used as; object and function pointers share a
// representation on every platform this runs on.
template <typename F> F As(void *P) {
  static_assert(sizeof(F) == sizeof(void *));
  F Fn;
  __builtin_memcpy(&Fn, &P, sizeof Fn);
  return Fn;
}
} // namespace

void TCudaFFTEngine::TryLoadLibraries(const TCudaLibraryNames &Names) {
  FCudaLib = LoadFirst(Names.Runtime, FCudaPath);
  if (!FCudaLib) {
    Log("CUDA: no cudart DLL found");
    return;
  }
  FCudaMalloc = As<TCudaMalloc>(FLoader->Symbol(FCudaLib, "cudaMalloc"));
  FCudaFree = As<TCudaFree>(FLoader->Symbol(FCudaLib, "cudaFree"));
  FCudaMemcpy = As<TCudaMemcpy>(FLoader->Symbol(FCudaLib, "cudaMemcpy"));
  if (!FCudaMalloc || !FCudaFree || !FCudaMemcpy) {
    Log("CUDA: missing cudaMalloc/Free/Memcpy");
    FreeRuntime();
    return;
  }
  FCufftLib = LoadFirst(Names.Cufft, FCufftPath);
  if (!FCufftLib) {
    Log("CUDA: no cufft DLL found");
    FreeRuntime();
    return;
  }
  FCufftPlan1d = As<TCufftPlan1d>(FLoader->Symbol(FCufftLib, "cufftPlan1d"));
  FCufftExecC2C = As<TCufftExecC2C>(FLoader->Symbol(FCufftLib, "cufftExecC2C"));
  FCufftDestroy = As<TCufftDestroy>(FLoader->Symbol(FCufftLib, "cufftDestroy"));
  if (!FCufftPlan1d || !FCufftExecC2C || !FCufftDestroy) {
    Log("CUDA: cufft entry points not found");
    FreeCufft();
    FreeRuntime();
    return;
  }
  FAvailable = true;
  FDeviceName = "CUDA GPU";
  Log("CUDA: ready");
}

namespace {
// The device resources of one call, released on every exit: plan, then input, then output.
struct TGpuCall {
  TCudaFree Free;
  TCufftDestroy Destroy;
  void *DevIn = nullptr;
  void *DevOut = nullptr;
  cufftHandle Plan = 0;
  bool HasPlan = false;

  TGpuCall(TCudaFree F, TCufftDestroy D) : Free(F), Destroy(D) {}
  TGpuCall(const TGpuCall &) = delete;
  TGpuCall &operator=(const TGpuCall &) = delete;
  ~TGpuCall() {
    if (HasPlan)
      Destroy(Plan);
    if (DevIn)
      Free(DevIn);
    if (DevOut)
      Free(DevOut);
  }
};
} // namespace

bool TCudaFFTEngine::ComputePSD_GPU(const TComplexArray &Samples, double SampleRate, int32_t NFFT,
                                    int32_t AvgSegments, TFloatArray &Freqs, TFloatArray &PSD_dB) {
  Freqs.clear();
  PSD_dB.clear();
  if (!FAvailable)
    return false;
  // Sizes the CPU path refuses, or whose byte count the platform cannot express, never reach
  // the device.
  if (!ValidFFTSize(NFFT) || Samples.size() < static_cast<size_t>(NFFT) ||
      static_cast<uint64_t>(NFFT) > std::numeric_limits<size_t>::max() / sizeof(TcufftComplex))
    return false;
  const size_t N = static_cast<size_t>(NFFT);
  const int64_t Segments = PSDSegmentCount(Samples.size(), NFFT, AvgSegments);
  const size_t BufSize = sizeof(TcufftComplex) * N;
  std::vector<TcufftComplex> HostIn(N), HostOut(N);
  TFloatArray Acc(N, 0.0);

  TGpuCall Call(FCudaFree, FCufftDestroy);
  void *P = nullptr;
  if (FCudaMalloc(&P, BufSize) != 0)
    return false;
  Call.DevIn = P;
  P = nullptr;
  if (FCudaMalloc(&P, BufSize) != 0)
    return false;
  Call.DevOut = P;
  cufftHandle Plan = 0;
  if (FCufftPlan1d(&Plan, NFFT, CUFFT_C2C, 1) != 0)
    return false;
  Call.Plan = Plan;
  Call.HasPlan = true;

  const size_t Half = N / 2;
  // Once per call, not once per segment: at 64 segments the cosines cost more than the transforms.
  const std::vector<double> Window = HannWindow(N);
  for (int64_t Seg = 0; Seg < Segments; ++Seg) {
    const TComplexSample *Block = Samples.data() + static_cast<size_t>(Seg) * N;
    for (size_t I = 0; I < N; ++I) {
      HostIn[I].X = static_cast<float>(Block[I].Re * Window[I]);
      HostIn[I].Y = static_cast<float>(Block[I].Im * Window[I]);
    }
    // A failed copy would leave stale or undefined device memory behind the numbers; refuse
    // them rather than show them.
    if (FCudaMemcpy(Call.DevIn, HostIn.data(), BufSize, cudaMemcpyHostToDevice) != 0)
      return false;
    if (FCufftExecC2C(Call.Plan, static_cast<TcufftComplex *>(Call.DevIn),
                      static_cast<TcufftComplex *>(Call.DevOut), CUFFT_FORWARD) != 0)
      return false;
    if (FCudaMemcpy(HostOut.data(), Call.DevOut, BufSize, cudaMemcpyDeviceToHost) != 0)
      return false;
    for (size_t I = 0; I < N; ++I) {
      const TcufftComplex &B = HostOut[I < Half ? I + Half : I - Half];
      const double X = B.X, Y = B.Y;
      Acc[I] = Acc[I] + X * X + Y * Y;
    }
  }
  PSD_dB.resize(N);
  Freqs.resize(N);
  for (size_t I = 0; I < N; ++I) {
    PSD_dB[I] = PowerToDb(Acc[I] / static_cast<double>(Segments));
    Freqs[I] = BinFrequency(I, NFFT, SampleRate);
  }
  return true;
}

TCudaFFTEngine *CudaEngine = nullptr;

namespace {
TCudaEngineFactory &EngineFactory() {
  static TCudaEngineFactory F;
  return F;
}
} // namespace

TCudaEngineFactory SetCudaEngineFactory(TCudaEngineFactory Factory) {
  std::swap(EngineFactory(), Factory);
  return Factory;
}

void EnsureCudaEngine() {
  if (CudaEngine)
    return;
  Log("EnsureCudaEngine: creating TCudaFFTEngine");
  const TCudaEngineFactory &Factory = EngineFactory();
  std::unique_ptr<TCudaFFTEngine> E = Factory ? Factory() : std::make_unique<TCudaFFTEngine>();
  if (!E) // a factory that gives nothing stands for "no libraries"
    E = std::make_unique<TCudaFFTEngine>(nullptr, TCudaLibraryNames{});
  CudaEngine = E.release();
  LogFmt("EnsureCudaEngine: Available=%s DeviceName=[%s]", CudaEngine->Available() ? "True" : "False",
         CudaEngine->DeviceName());
}

void ReleaseCudaEngine() {
  delete CudaEngine;
  CudaEngine = nullptr;
}

namespace {
// The engine goes with the library's static state at unload.
struct TCudaEngineRelease {
  ~TCudaEngineRelease() { ReleaseCudaEngine(); }
} CudaEngineRelease;
} // namespace
