// PSD on the GPU through the CUDA runtime and cuFFT, bound at run time. Neither library is
// linked: a machine without them keeps the CPU path of uFFT. The engine reaches the libraries
// through ICudaLoader, so that the platform decides where a library may come from and the tests
// can stand in their own.
//
// Plans, the device buffer and the page-locked host buffer stay in the engine from call to call
// (building a plan and allocating cost more than a small transform); any failure releases them
// all, and the engine's end does too. With cufftPlanMany all averaging blocks go to the device in
// one copy and through one batched transform; a runtime without it is served block by block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/uGlobals.h"

// The vendor's types and constants, as far as the engine uses them.
using cudaError_t = int32_t;
using cufftResult = int32_t;
using cufftHandle = int32_t;

struct TcufftComplex {
  float X = 0.0f; // real
  float Y = 0.0f; // imaginary
};

extern "C" {
typedef cudaError_t (*TCudaMalloc)(void **DevPtr, size_t Size);
typedef cudaError_t (*TCudaFree)(void *DevPtr);
typedef cudaError_t (*TCudaMemcpy)(void *Dst, const void *Src, size_t Count, int32_t Kind);
typedef cufftResult (*TCufftPlan1d)(cufftHandle *Plan, int32_t NX, int32_t Type, int32_t Batch);
typedef cufftResult (*TCufftExecC2C)(cufftHandle Plan, TcufftComplex *IData, TcufftComplex *OData,
                                     int32_t Direction);
typedef cufftResult (*TCufftDestroy)(cufftHandle Plan);
// Asked once at load; optional only in the sense that without it the engine stays unavailable.
typedef cudaError_t (*TCudaGetDeviceCount)(int32_t *Count);
// Optional: page-locked host memory, and batched plans.
typedef cudaError_t (*TCudaMallocHost)(void **Ptr, size_t Size);
typedef cudaError_t (*TCudaFreeHost)(void *Ptr);
typedef cufftResult (*TCufftPlanMany)(cufftHandle *Plan, int32_t Rank, int32_t *N, int32_t *INEmbed,
                                      int32_t IStride, int32_t IDist, int32_t *ONEmbed, int32_t OStride,
                                      int32_t ODist, int32_t Type, int32_t Batch);
}

inline constexpr int32_t CUFFT_C2C = 41;
inline constexpr int32_t CUFFT_FORWARD = -1;
inline constexpr int32_t cudaMemcpyHostToDevice = 1;
inline constexpr int32_t cudaMemcpyDeviceToHost = 2;

// Opens a library by file name in the places the platform trusts, looks up symbols, closes.
class ICudaLoader {
public:
  virtual ~ICudaLoader() = default;
  // The library's handle, or null when the name is found nowhere trusted. LoadedPath receives
  // where it came from (a full path wherever the platform can tell).
  virtual void *Open(const std::string &Name, std::string &LoadedPath) = 0;
  virtual void *Symbol(void *Lib, const char *Name) = 0;
  virtual void Close(void *Lib) = 0;
};

// File names tried, in order; the first that loads wins. The two lists are independent.
struct TCudaLibraryNames {
  std::vector<std::string> Runtime;
  std::vector<std::string> Cufft;
};

// The Windows DLL names (both builds try the same ones).
const TCudaLibraryNames &CudaDllNames();
// The Linux shared-object names of the same libraries.
const TCudaLibraryNames &CudaSharedObjectNames();

// Defined by the platform's loader file: the loader and the names the platform uses.
std::unique_ptr<ICudaLoader> CreateSystemCudaLoader();
const TCudaLibraryNames &SystemCudaLibraryNames();

// How ComputePSD_Best chooses: by measuring both engines once per size and block count, or the
// GPU whenever it works.
enum class TPsdChoice { Faster, GpuFirst };

// One measurement of ComputePSD_Best: the best of a few timed runs each way.
struct TPsdVerdict {
  double GpuMs = 0.0;
  double CpuMs = 0.0;
  bool Gpu = false; // the GPU won
};

class TCudaFFTEngine {
public:
  // The platform's loader and names.
  TCudaFFTEngine();
  TCudaFFTEngine(std::unique_ptr<ICudaLoader> Loader, const TCudaLibraryNames &Names);
  virtual ~TCudaFFTEngine();
  TCudaFFTEngine(const TCudaFFTEngine &) = delete;
  TCudaFFTEngine &operator=(const TCudaFFTEngine &) = delete;

  bool Available() const { return FAvailable; }
  const std::string &DeviceName() const { return FDeviceName; }
  // Where the two libraries were loaded from; empty when not loaded.
  const std::string &RuntimePath() const { return FCudaPath; }
  const std::string &CufftPath() const { return FCufftPath; }
  // Devices the runtime reported at load; 0 when it reported none or could not answer, and
  // whenever the engine is unavailable.
  int32_t DeviceCount() const { return FDeviceCount; }
  // All blocks of a PSD in one batched transform (cufftPlanMany found), page-locked host buffers
  // (cudaMallocHost and cudaFreeHost found).
  bool Batched() const { return FCufftPlanMany != nullptr; }
  bool PageLocked() const { return FCudaMallocHost != nullptr && FCudaFreeHost != nullptr; }

  // Same frequencies and dB values as ComputePSD, with the transforms done by cuFFT in single
  // precision. True when both arrays were filled; false leaves both empty, and every device
  // resource the engine held released (the next call starts afresh).
  bool ComputePSD_GPU(const TComplexArray &Samples, double SampleRate, int32_t NFFT, int32_t AvgSegments,
                      TFloatArray &Freqs, TFloatArray &PSD_dB);

  // The PSD on whichever engine is faster for this size and block count: the first call of each
  // pair times both (a few runs each, the GPU after one untimed run that builds its plan and
  // buffers) and keeps the verdict; the GPU must win by a tenth to be chosen. Always fills the
  // arrays as ComputePSD does; true when the GPU computed them. A failed GPU call gives the CPU's
  // result for that call, and no verdict is kept from a measurement it spoiled.
  bool ComputePSD_Best(const TComplexArray &Samples, double SampleRate, int32_t NFFT, int32_t AvgSegments,
                       TFloatArray &Freqs, TFloatArray &PSD_dB);
  // The verdict for NFFT and the number of blocks a PSD averages, once measured.
  std::optional<TPsdVerdict> Verdict(int32_t NFFT, int64_t Segments) const;
  void SetChoice(TPsdChoice Choice) { FChoice = Choice; }
  // The clock the measurements read, in seconds (a steady clock unless replaced).
  void SetClock(std::function<double()> Seconds);

  // Plans, buffers and verdicts kept; plans at most MAX_PLANS, the least recently used going first.
  size_t PlanCount() const { return FPlans.size(); }
  static constexpr size_t MAX_PLANS = 4;
  // Forgets the device resources without calling the runtime: at process exit the driver
  // reclaims them, and calling into it from a library's unload can deadlock the host.
  void AbandonDeviceResources();

private:
  struct TPlan {
    int32_t NFFT = 0;
    int32_t Batch = 0;
    cufftHandle Handle = 0;
    uint64_t LastUse = 0;
  };

  void TryLoadLibraries(const TCudaLibraryNames &Names);
  void *LoadFirst(const std::vector<std::string> &Names, std::string &Path);
  void FreeCufft();
  void FreeRuntime();
  bool HasDevice();
  void ReleaseDeviceResources();
  bool Transform(const TComplexArray &Samples, size_t N, int64_t Segments, TFloatArray &Acc);
  bool PlanFor(int32_t NFFT, int32_t Batch, cufftHandle &Plan);
  void *DeviceBuffer(size_t Bytes);
  void *HostBuffer(size_t Bytes);
  const std::vector<double> &WindowFor(size_t N);

  std::unique_ptr<ICudaLoader> FLoader; // outlives both handles
  bool FAvailable = false;
  void *FCudaLib = nullptr;
  void *FCufftLib = nullptr;
  std::string FDeviceName;
  std::string FCudaPath;
  std::string FCufftPath;
  TCudaMalloc FCudaMalloc = nullptr;
  TCudaFree FCudaFree = nullptr;
  TCudaMemcpy FCudaMemcpy = nullptr;
  TCufftPlan1d FCufftPlan1d = nullptr;
  TCufftExecC2C FCufftExecC2C = nullptr;
  TCufftDestroy FCufftDestroy = nullptr;
  TCudaGetDeviceCount FCudaGetDeviceCount = nullptr;
  TCudaMallocHost FCudaMallocHost = nullptr;
  TCudaFreeHost FCudaFreeHost = nullptr;
  TCufftPlanMany FCufftPlanMany = nullptr;
  int32_t FDeviceCount = 0;

  std::vector<TPlan> FPlans;
  uint64_t FUseCount = 0;
  void *FDevBuf = nullptr;
  size_t FDevBytes = 0;
  void *FHostBuf = nullptr; // page-locked, or FHostVec's data
  size_t FHostBytes = 0;
  std::vector<TcufftComplex> FHostVec;
  std::vector<double> FWindow; // of the last size, as the CPU path has it

  TPsdChoice FChoice = TPsdChoice::Faster;
  std::function<double()> FClock;
  std::map<std::pair<int32_t, int64_t>, TPsdVerdict> FVerdicts;
};

// The process's one engine, created by the first EnsureCudaEngine, null before. It is freed when
// the library unloads (or by ReleaseCudaEngine).
extern TCudaFFTEngine *CudaEngine;

// Creates CudaEngine when it is null; otherwise does nothing. An engine that came up
// unavailable stays and is not retried.
void EnsureCudaEngine();
void ReleaseCudaEngine();

// What EnsureCudaEngine creates: by default an engine on the platform's loader and names. Tests
// and tools that must not pick up whatever toolkit the machine has installed substitute their
// own (an empty factory restores the default); it applies to the next engine created. Returns
// the factory it replaces.
using TCudaEngineFactory = std::function<std::unique_ptr<TCudaFFTEngine>()>;
TCudaEngineFactory SetCudaEngineFactory(TCudaEngineFactory Factory);
