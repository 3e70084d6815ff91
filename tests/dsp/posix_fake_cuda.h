// The fake CUDA runtime and cuFFT that the tests build (host memory, their own transform), each
// set in its folder under ZB_FAKE_CUDA_DIR: the failure knob and the call counters.
#pragma once

#include "dsp/posix_uCudaLoader.h"
#include "dsp/uCudaFFT.h"

#include <dlfcn.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fakecuda {

inline const std::string Root = ZB_FAKE_CUDA_DIR;
inline const std::string RuntimeFile = "libcudart.so.13";
inline const std::string CufftFile = "libcufft.so.12";

// An engine on the fakes of one variant ("full", "no_cudaMalloc", ...).
inline std::unique_ptr<TCudaFFTEngine> EngineIn(const std::string &Variant) {
  return std::make_unique<TCudaFFTEngine>(CreateCudaLoaderIn(Root + "/" + Variant), CudaSharedObjectNames());
}

// Sets the fakes' failure knob for the scope.
struct TFailKnob {
  explicit TFailKnob(const std::string &V) {
    if (V.empty())
      unsetenv("ZB_FAKE_CUDA_FAIL");
    else
      setenv("ZB_FAKE_CUDA_FAIL", V.c_str(), 1);
  }
  ~TFailKnob() { unsetenv("ZB_FAKE_CUDA_FAIL"); }
  TFailKnob(const TFailKnob &) = delete;
  TFailKnob &operator=(const TFailKnob &) = delete;
};

// The counters of one variant's fakes, read through a handle of our own (which keeps them
// loaded; an engine on the same variant shares them).
struct TFakeCounters {
  void *Rt, *Fft;
  long (*RtCounter)(const char *);
  long (*FftCounter)(const char *);
  explicit TFakeCounters(const std::string &Variant = "full") {
    Rt = dlopen((Root + "/" + Variant + "/" + RuntimeFile).c_str(), RTLD_NOW);
    Fft = dlopen((Root + "/" + Variant + "/" + CufftFile).c_str(), RTLD_NOW);
    RtCounter = reinterpret_cast<long (*)(const char *)>(dlsym(Rt, "zbfake_cudart_counter"));
    FftCounter = reinterpret_cast<long (*)(const char *)>(dlsym(Fft, "zbfake_cufft_counter"));
    Reset();
  }
  ~TFakeCounters() {
    dlclose(Fft);
    dlclose(Rt);
  }
  TFakeCounters(const TFakeCounters &) = delete;
  TFakeCounters &operator=(const TFakeCounters &) = delete;
  void Reset() {
    reinterpret_cast<void (*)()>(dlsym(Rt, "zbfake_cudart_reset"))();
    reinterpret_cast<void (*)()>(dlsym(Fft, "zbfake_cufft_reset"))();
  }
  // Nothing held on the device or page-locked, no plan alive, no misuse seen.
  bool AllFree() const {
    return RtCounter("live") == 0 && RtCounter("livehost") == 0 && FftCounter("live") == 0 &&
           RtCounter("bad") == 0 && FftCounter("bad") == 0;
  }
};

// A clock for the engine's measurements that reads out Times (seconds) one by one.
inline std::function<double()> ScriptedClock(std::vector<double> Times) {
  auto Left = std::make_shared<std::vector<double>>(std::move(Times));
  auto At = std::make_shared<size_t>(0);
  return [Left, At] { return *At < Left->size() ? (*Left)[(*At)++] : 1e9; };
}

} // namespace fakecuda
