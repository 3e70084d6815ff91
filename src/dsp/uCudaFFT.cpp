#include "dsp/uCudaFFT.h"

#include "base/uLog.h"
#include "dsp/uFFT.h"
#include "dsp/uFFTMath.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <thread>
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
  if (FAvailable)
    ReleaseDeviceResources();
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
  FCufftPlanMany = nullptr;
}

void TCudaFFTEngine::FreeRuntime() {
  if (FCudaLib)
    FLoader->Close(FCudaLib);
  FCudaLib = nullptr;
  FCudaPath.clear();
  FCudaMalloc = nullptr;
  FCudaFree = nullptr;
  FCudaMemcpy = nullptr;
  FCudaGetDeviceCount = nullptr;
  FDeviceCount = 0;
  FCudaMallocHost = nullptr;
  FCudaFreeHost = nullptr;
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
  // A runtime is installed on machines without any device (build machines, remote desktops):
  // there every call would fail and fall back, and the title would promise a GPU that is not
  // there. cuFFT is not even loaded then.
  if (!HasDevice()) {
    FreeRuntime();
    return;
  }
  FCudaMallocHost = As<TCudaMallocHost>(FLoader->Symbol(FCudaLib, "cudaMallocHost"));
  FCudaFreeHost = As<TCudaFreeHost>(FLoader->Symbol(FCudaLib, "cudaFreeHost"));
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
  FCufftPlanMany = As<TCufftPlanMany>(FLoader->Symbol(FCufftLib, "cufftPlanMany"));
  FAvailable = true;
  FDeviceName = "CUDA GPU";
  Log("CUDA: ready");
  LogFmt("CUDA: %d device(s); batched transforms: %s; page-locked buffers: %s", FDeviceCount,
         Batched() ? "yes" : "no", PageLocked() ? "yes" : "no");
}

bool TCudaFFTEngine::HasDevice() {
  FCudaGetDeviceCount = As<TCudaGetDeviceCount>(FLoader->Symbol(FCudaLib, "cudaGetDeviceCount"));
  if (!FCudaGetDeviceCount) {
    Log("CUDA: cudaGetDeviceCount not found");
    return false;
  }
  int32_t Count = 0;
  const cudaError_t Err = FCudaGetDeviceCount(&Count);
  if (Err != 0 || Count < 1) {
    LogFmt("CUDA: no device (cudaGetDeviceCount: error %d, count %d)", Err, Count);
    return false;
  }
  FDeviceCount = Count;
  return true;
}

void TCudaFFTEngine::ReleaseDeviceResources() {
  for (const TPlan &P : FPlans)
    FCufftDestroy(P.Handle);
  FPlans.clear();
  if (FDevBuf)
    FCudaFree(FDevBuf);
  FDevBuf = nullptr;
  FDevBytes = 0;
  if (FHostBuf && FHostVec.empty())
    FCudaFreeHost(FHostBuf);
  FHostBuf = nullptr;
  FHostBytes = 0;
  FHostVec = {};
}

void TCudaFFTEngine::AbandonDeviceResources() {
  FPlans.clear();
  FDevBuf = nullptr;
  FDevBytes = 0;
  if (FHostVec.empty())
    FHostBuf = nullptr; // page-locked: the driver's
  FHostBytes = 0;
}

bool TCudaFFTEngine::PlanFor(int32_t NFFT, int32_t Batch, cufftHandle &Plan) {
  ++FUseCount;
  for (TPlan &P : FPlans)
    if (P.NFFT == NFFT && P.Batch == Batch) {
      P.LastUse = FUseCount;
      Plan = P.Handle;
      return true;
    }
  // Each plan holds device work space of its own: only a few stay.
  if (FPlans.size() >= MAX_PLANS) {
    auto Oldest = std::min_element(FPlans.begin(), FPlans.end(),
                                   [](const TPlan &A, const TPlan &B) { return A.LastUse < B.LastUse; });
    FCufftDestroy(Oldest->Handle);
    FPlans.erase(Oldest);
  }
  cufftHandle H = 0;
  int32_t Size[1] = {NFFT};
  const cufftResult R =
      FCufftPlanMany ? FCufftPlanMany(&H, 1, Size, nullptr, 1, NFFT, nullptr, 1, NFFT, CUFFT_C2C, Batch)
                     : FCufftPlan1d(&H, NFFT, CUFFT_C2C, 1);
  if (R != 0)
    return false;
  FPlans.push_back({NFFT, Batch, H, FUseCount});
  Plan = H;
  return true;
}

void *TCudaFFTEngine::DeviceBuffer(size_t Bytes) {
  if (FDevBytes >= Bytes)
    return FDevBuf;
  if (FDevBuf)
    FCudaFree(FDevBuf);
  FDevBuf = nullptr;
  FDevBytes = 0;
  void *P = nullptr;
  if (FCudaMalloc(&P, Bytes) != 0)
    return nullptr;
  FDevBuf = P;
  FDevBytes = Bytes;
  return P;
}

void *TCudaFFTEngine::HostBuffer(size_t Bytes) {
  if (FHostBytes >= Bytes)
    return FHostBuf;
  if (!PageLocked()) {
    FHostVec.resize(Bytes / sizeof(TcufftComplex));
    FHostBuf = FHostVec.data();
    FHostBytes = Bytes;
    return FHostBuf;
  }
  if (FHostBuf)
    FCudaFreeHost(FHostBuf);
  FHostBuf = nullptr;
  FHostBytes = 0;
  void *P = nullptr;
  if (FCudaMallocHost(&P, Bytes) != 0)
    return nullptr;
  FHostBuf = P;
  FHostBytes = Bytes;
  return P;
}

const std::vector<double> &TCudaFFTEngine::WindowFor(size_t N) {
  if (FWindow.size() != N)
    FWindow = HannWindow(N);
  return FWindow;
}

namespace {
// Runs Body(Begin, End) over [0, Count) in pieces of Grain, on as many threads as Points points
// of work are worth: one below about 2^18 points, where starting a thread costs more than it saves.
template <class F> void ForPieces(size_t Count, size_t Grain, size_t Points, F Body) {
  const size_t Cores = std::max(1u, std::thread::hardware_concurrency());
  const size_t Threads =
      std::min({Cores, Points / (size_t{1} << 18) + 1, (Count + Grain - 1) / Grain, size_t{16}});
  if (Threads <= 1) {
    Body(size_t{0}, Count);
    return;
  }
  std::atomic<size_t> Next{0};
  RunOnThreads(static_cast<int32_t>(Threads), [&] {
    for (;;) {
      const size_t B = Next.fetch_add(Grain);
      if (B >= Count)
        return;
      Body(B, std::min(Count, B + Grain));
    }
  });
}
} // namespace

// The blocks' powers summed into Acc (shifted so that index N/2 is 0 Hz), Batch blocks per
// transform: all of them with a batched plan, else one.
bool TCudaFFTEngine::Transform(const TComplexArray &Samples, size_t N, int64_t Segments, TFloatArray &Acc) {
  const int64_t Batch = Batched() ? Segments : 1;
  const size_t Points = N * static_cast<size_t>(Batch);
  const size_t Bytes = Points * sizeof(TcufftComplex);
  auto *Host = static_cast<TcufftComplex *>(HostBuffer(Bytes));
  void *Dev = Host ? DeviceBuffer(Bytes) : nullptr;
  cufftHandle Plan = 0;
  if (!Dev || !PlanFor(static_cast<int32_t>(N), static_cast<int32_t>(Batch), Plan))
    return false;
  // Once per size, not once per block: at 64 blocks the cosines cost more than the transforms.
  const std::vector<double> &Window = WindowFor(N);
  const size_t Half = N / 2;
  Acc.assign(N, 0.0);
  for (int64_t First = 0; First < Segments; First += Batch) {
    const TComplexSample *Src = Samples.data() + static_cast<size_t>(First) * N;
    ForPieces(static_cast<size_t>(Batch), 1, Points, [&](size_t B, size_t E) {
      for (size_t Blk = B; Blk < E; ++Blk)
        for (size_t I = 0; I < N; ++I) {
          Host[Blk * N + I].X = static_cast<float>(Src[Blk * N + I].Re * Window[I]);
          Host[Blk * N + I].Y = static_cast<float>(Src[Blk * N + I].Im * Window[I]);
        }
    });
    // In place: one device buffer. A failed copy would leave stale or undefined device memory
    // behind the numbers; refuse them rather than show them.
    if (FCudaMemcpy(Dev, Host, Bytes, cudaMemcpyHostToDevice) != 0)
      return false;
    if (FCufftExecC2C(Plan, static_cast<TcufftComplex *>(Dev), static_cast<TcufftComplex *>(Dev),
                      CUFFT_FORWARD) != 0)
      return false;
    if (FCudaMemcpy(Host, Dev, Bytes, cudaMemcpyDeviceToHost) != 0)
      return false;
    // Block by block for each bin, as the one-block path adds them: the same sums, bit for bit.
    ForPieces(N, 4096, Points, [&](size_t B, size_t E) {
      for (size_t Blk = 0; Blk < static_cast<size_t>(Batch); ++Blk) {
        const TcufftComplex *Out = Host + Blk * N;
        for (size_t I = B; I < E; ++I) {
          const TcufftComplex &V = Out[I < Half ? I + Half : I - Half];
          const double X = V.X, Y = V.Y;
          Acc[I] = Acc[I] + X * X + Y * Y;
        }
      }
    });
  }
  return true;
}

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
  TFloatArray Acc;
  if (!Transform(Samples, N, Segments, Acc)) {
    // Whatever went wrong may have spoiled what the engine keeps; the next call starts afresh.
    ReleaseDeviceResources();
    return false;
  }
  PSD_dB.resize(N);
  Freqs.resize(N);
  for (size_t I = 0; I < N; ++I) {
    PSD_dB[I] = PowerToDb(Acc[I] / static_cast<double>(Segments));
    Freqs[I] = BinFrequency(I, NFFT, SampleRate);
  }
  return true;
}

void TCudaFFTEngine::SetClock(std::function<double()> Seconds) {
  FClock = std::move(Seconds);
}

std::optional<TPsdVerdict> TCudaFFTEngine::Verdict(int32_t NFFT, int64_t Segments) const {
  const auto It = FVerdicts.find({NFFT, Segments});
  if (It == FVerdicts.end())
    return std::nullopt;
  return It->second;
}

bool TCudaFFTEngine::ComputePSD_Best(const TComplexArray &Samples, double SampleRate, int32_t NFFT,
                                     int32_t AvgSegments, TFloatArray &Freqs, TFloatArray &PSD_dB) {
  auto Gpu = [&](TFloatArray &F, TFloatArray &P) {
    return ComputePSD_GPU(Samples, SampleRate, NFFT, AvgSegments, F, P);
  };
  auto Cpu = [&](TFloatArray &F, TFloatArray &P) {
    ComputePSD(Samples, SampleRate, NFFT, AvgSegments, F, P);
  };
  if (!FAvailable || !ValidFFTSize(NFFT) || Samples.size() < static_cast<size_t>(NFFT)) {
    Cpu(Freqs, PSD_dB);
    return false;
  }
  const std::pair<int32_t, int64_t> Key{NFFT, PSDSegmentCount(Samples.size(), NFFT, AvgSegments)};
  const auto It = FVerdicts.find(Key);
  if (FChoice == TPsdChoice::GpuFirst || It != FVerdicts.end()) {
    if ((FChoice == TPsdChoice::GpuFirst || It->second.Gpu) && Gpu(Freqs, PSD_dB))
      return true;
    Cpu(Freqs, PSD_dB);
    return false;
  }
  // The first run builds the plan and the buffers, which later calls do not pay for.
  if (!Gpu(Freqs, PSD_dB)) {
    Cpu(Freqs, PSD_dB);
    return false;
  }
  const std::function<double()> Clock = FClock ? FClock : [] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  };
  // The best of up to three runs, fewer when one is long enough to be its own measure (and the
  // viewer should not stall).
  auto BestMs = [&](auto Run) {
    double Best = std::numeric_limits<double>::infinity(), Spent = 0.0;
    for (int I = 0; I < 3 && Spent < 0.02; ++I) {
      const double T0 = Clock();
      Run();
      const double D = Clock() - T0;
      Best = std::min(Best, D);
      Spent += D;
    }
    return Best * 1000.0;
  };
  TFloatArray GF, GP, CF, CP;
  bool GpuOk = true;
  TPsdVerdict V;
  V.GpuMs = BestMs([&] {
    if (GpuOk)
      GpuOk = Gpu(GF, GP);
  });
  if (!GpuOk) {
    Cpu(Freqs, PSD_dB);
    return false;
  }
  V.CpuMs = BestMs([&] { Cpu(CF, CP); });
  // Near a tie the CPU keeps it: a GPU that is not clearly faster is not worth the device.
  V.Gpu = V.GpuMs * 1.1 < V.CpuMs;
  FVerdicts[Key] = V;
  LogFmt("CUDA: NFFT %d, %d block(s): GPU %.3f ms, CPU %.3f ms", NFFT, static_cast<int32_t>(Key.second),
         V.GpuMs, V.CpuMs);
  Freqs = std::move(V.Gpu ? GF : CF);
  PSD_dB = std::move(V.Gpu ? GP : CP);
  return V.Gpu;
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
  ~TCudaEngineRelease() {
    // At unload the host holds the loader lock, and the runtime may be half torn down: its device
    // memory goes with the process (or its context), not through calls from here.
    if (CudaEngine && GProcessDetach)
      CudaEngine->AbandonDeviceResources();
    ReleaseCudaEngine();
  }
} CudaEngineRelease;
} // namespace
