// The fake CUDA runtime and cuFFT that the tests build (host memory, their own transform), each
// set in its folder under ZB_FAKE_CUDA_DIR: the failure knob and the call counters.
#pragma once

#include "dsp/posix_uCudaLoader.h"
#include "dsp/uCudaFFT.h"

#include <dlfcn.h>

#include <cstdlib>
#include <memory>
#include <string>

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

// The complete fakes' counters, read through a handle of our own (which keeps them loaded).
struct TFakeCounters {
  void *Rt, *Fft;
  long (*RtCounter)(const char *);
  long (*FftCounter)(const char *);
  TFakeCounters() {
    Rt = dlopen((Root + "/full/" + RuntimeFile).c_str(), RTLD_NOW);
    Fft = dlopen((Root + "/full/" + CufftFile).c_str(), RTLD_NOW);
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
};

} // namespace fakecuda
