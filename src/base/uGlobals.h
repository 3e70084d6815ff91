// Shared data types, default settings and the process-detach flag.
// Portable: included by every subsystem, never pulls in <windows.h>.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

// One complex sample; full-scale integer samples map to about +-1.
struct TComplexSample {
  float Re = 0.0f;
  float Im = 0.0f;
};
using TComplexArray = std::vector<TComplexSample>;

using TFloatArray = std::vector<double>; // PSD frequencies (Hz) and levels (dB)
using TSingleArray = std::vector<float>; // one waterfall row of dB values, lowest frequency first
using TRowBuffer = std::vector<TSingleArray>;

// Default settings: the initial values of every viewer.
inline constexpr double DEF_SAMPLE_RATE = 2000000.0;
inline constexpr int32_t DEF_PSD_NFFT = 2048;
inline constexpr int32_t DEF_WF_NFFT = 256;
inline constexpr int32_t DEF_WF_HISTORY = 300;
inline constexpr double DEF_WF_OVERLAP = 0.0;
inline constexpr double DEF_MAG_MIN_DB = -10.0;
inline constexpr double DEF_MAG_MAX_DB = 45.0;
inline constexpr double DEF_PREVIEW_SEC = 10.0;
inline constexpr double DEF_PLAY_CHUNK_SEC = 0.033;
inline constexpr int32_t DEF_AVG_SEGMENTS = 1;

// Sample rates a recording may claim. Anything else (zero, negative, not finite, or so far out
// that frequencies or durations overflow) is treated as no rate at all.
inline constexpr double MIN_SAMPLE_RATE_HZ = 1.0;
inline constexpr double MAX_SAMPLE_RATE_HZ = 1e12;
inline bool IsUsableSampleRate(double Hz) {
  return std::isfinite(Hz) && Hz >= MIN_SAMPLE_RATE_HZ && Hz <= MAX_SAMPLE_RATE_HZ;
}

// Set when the library's static state is torn down at unload; later closes only log.
extern bool GProcessDetach;
