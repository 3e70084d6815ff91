// Raw interleaved I/Q encodings: sample counts and segment reads straight from the file.
// Raw recordings are never held in memory; each read opens, seeks, reads and closes.
#pragma once

#include "base/uGlobals.h"

#include <cstdint>
#include <string>

// Raw sample encodings.
enum TIQFormat : uint8_t {
  iqfInt8 = 0,    // I, Q as signed bytes
  iqfInt16 = 1,   // I, Q as signed 16-bit little-endian
  iqfFloat32 = 2, // I, Q as 32-bit IEEE float little-endian
};

// Lower-cased extension of the file name, dot included; empty when it has none.
std::string LowerFileExt(const std::string &FileName);

// Encoding from the file name's extension alone: .cf32 -> float, .cs16 -> int16, else int8.
TIQFormat DetectFormat(const std::string &FileName);

// Bytes per complex sample: 2, 4 or 8 (2 for anything unknown).
int32_t BytesPerSample(TIQFormat Fmt);

// Whole complex samples after HeaderBytes; 0 when the file does not exist.
// Throws EFileStreamError when the file exists but cannot be opened.
int64_t GetTotalSamples(const std::string &FileName, TIQFormat Fmt, int64_t HeaderBytes);

// Up to MaxSamples samples from sample index StartSample, scaled to about +-1; shorter at
// the end of the file, empty when nothing lies there or the file is missing. A negative
// start is treated as 0. Throws EFileStreamError when opening, seeking or reading fails.
TComplexArray LoadIQSegment(const std::string &FileName, TIQFormat Fmt, int64_t StartSample,
                            int32_t MaxSamples, int64_t HeaderBytes);
