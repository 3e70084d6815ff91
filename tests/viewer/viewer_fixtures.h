// Recordings and a headless viewer for the viewer-core tests.
#pragma once

#include "dsp/uCudaFFT.h"
#include "formats/fmt_fixtures.h"
#include "viewer/uHeadlessPlatform.h"
#include "viewer/uViewerCore.h"

#include <cmath>
#include <filesystem>
#include <string>

// The viewer tests run on the CPU engine unless a test installs another: a CUDA toolkit that
// happens to be installed on the machine (with or without a GPU) must not change their results.
inline std::unique_ptr<TCudaFFTEngine> NoCudaEngine() {
  return nullptr; // EnsureCudaEngine makes this an engine without libraries
}
inline const bool GViewerTestsWithoutSystemCuda = (SetCudaEngineFactory(NoCudaEngine), true);

// Raw int16 I/Q: Samples samples of silence, with a tone of amplitude Amp from sample
// ToneFrom to ToneTo (exclusive). The silence is written sparsely where the file system allows.
inline void WriteInt16Recording(const std::string &Path, int64_t Samples, int64_t ToneFrom = 0,
                                int64_t ToneTo = 0, double Amp = 8000.0) {
  WriteBytes(Path, {});
  std::filesystem::resize_file(Path, static_cast<uintmax_t>(Samples) * 4);
  if (ToneTo <= ToneFrom)
    return;
  TBytes B;
  B.reserve(static_cast<size_t>(ToneTo - ToneFrom) * 4);
  for (int64_t I = ToneFrom; I < ToneTo; ++I) {
    const double Ph = 0.05 * 2 * 3.141592653589793 * static_cast<double>(I);
    PutU16(B, static_cast<uint16_t>(static_cast<int16_t>(Amp * std::cos(Ph))));
    PutU16(B, static_cast<uint16_t>(static_cast<int16_t>(Amp * std::sin(Ph))));
  }
  std::FILE *F = std::fopen(Path.c_str(), "r+b");
  ASSERT_NE(F, nullptr);
  ASSERT_EQ(std::fseek(F, 0, SEEK_SET), 0);
  // Seek in steps that fit a long on every platform.
  int64_t Off = ToneFrom * 4;
  while (Off > 0) {
    const long Step = static_cast<long>(std::min<int64_t>(Off, 1 << 30));
    ASSERT_EQ(std::fseek(F, Step, SEEK_CUR), 0);
    Off -= Step;
  }
  ASSERT_EQ(std::fwrite(B.data(), 1, B.size(), F), B.size());
  std::fclose(F);
}

// A viewer core on a headless platform, with the recording opened but the first window not
// yet loaded (Open() does the rest when a test needs it).
struct TViewerRig {
  THeadlessPlatform P;
  TViewerCore C{P};

  void Load(const std::string &Path) {
    C.LoadFile(Path);
    C.CalcWFParams();
    C.InitWaterfallBuffer();
    C.UpdateSliderRange();
  }
  void Open(const std::string &Path) {
    Load(Path);
    C.ShowFirstFrame();
  }
};

inline int64_t Sec(double S, double Rate = 2e6) {
  return static_cast<int64_t>(std::llround(S * Rate));
}
