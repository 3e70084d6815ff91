// PSD on the GPU through the CUDA runtime and cuFFT, bound at run time. Neither library is
// linked: a machine without them keeps the CPU path of uFFT. The engine reaches the libraries
// through ICudaLoader, so that the platform decides where a library may come from and the tests
// can stand in their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
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

  // Same frequencies and dB values as ComputePSD, with the transforms done by cuFFT in single
  // precision. True when both arrays were filled; false leaves both empty and every device
  // resource of the call released.
  bool ComputePSD_GPU(const TComplexArray &Samples, double SampleRate, int32_t NFFT, int32_t AvgSegments,
                      TFloatArray &Freqs, TFloatArray &PSD_dB);

private:
  void TryLoadLibraries(const TCudaLibraryNames &Names);
  void *LoadFirst(const std::vector<std::string> &Names, std::string &Path);
  void FreeCufft();
  void FreeRuntime();

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
