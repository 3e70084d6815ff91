// Raw interleaved I/Q encodings: sample counts and segment reads straight from the file.
// Raw recordings are never held in memory; each read opens, seeks, reads and closes.
#pragma once

#include "base/uFileStream.h"
#include "base/uGlobals.h"

#include <cstdint>
#include <span>
#include <string>

// Raw sample encodings.
enum TIQFormat : uint8_t {
  iqfInt8 = 0,       // I, Q as signed bytes
  iqfInt16 = 1,      // I, Q as signed 16-bit little-endian
  iqfFloat32 = 2,    // I, Q as 32-bit IEEE float little-endian
  iqfUInt8 = 3,      // I, Q as unsigned bytes, zero at 127.5
  iqfInt16BE = 4,    // signed 16-bit big-endian
  iqfUInt16 = 5,     // unsigned 16-bit little-endian, zero at 32767.5
  iqfUInt16BE = 6,   // unsigned 16-bit big-endian, zero at 32767.5
  iqfInt32 = 7,      // signed 32-bit little-endian
  iqfInt32BE = 8,    // signed 32-bit big-endian
  iqfFloat32BE = 9,  // 32-bit IEEE float big-endian
  iqfInt24In32 = 10, // signed 32-bit little-endian words holding 24-bit values (full scale 2^23)
  iqfNone = 11,      // nothing decodable: no samples
};

// Scaling: signed integers of B bits are divided by 2^(B-1), as the int8 and int16 readers
// always did. Unsigned integers have no code for zero; their midpoint (127.5, 32767.5) is
// taken as zero, so that full-scale codes map symmetrically to +-(1 - 2^-B), and they are
// divided by the same 2^(B-1).

// Lower-cased extension of the file name, dot included; empty when it has none.
std::string LowerFileExt(const std::string &FileName);

// A file-name extension that names a raw sample type, with the encoding it stands for and
// the display name of recordings so named.
struct TRawExt {
  const char *Ext; // lower case, with the dot
  TIQFormat Fmt;
  const char *Name;
};

// The entry for the file name's extension (case-insensitive), or nullptr when the extension
// names no raw type (.iq, .raw, none: these say nothing about the encoding).
const TRawExt *FindRawExt(const std::string &FileName);

// Encoding from the file name's extension alone: .cf32 -> float, .cs16 -> int16, the other
// extensions of the raw-type table as listed there, else int8.
TIQFormat DetectFormat(const std::string &FileName);

// What TIQRawReader::ReadInt16's values are multiplied by to give the samples Read gives: 2^-15
// for 16-bit little-endian values on a machine of that order (the values as stored), 2^-7 for
// signed bytes (as stored), 2^-8 for unsigned bytes (as 2x - 255, their zero being 127.5); 0
// for the encodings it does not serve.
float Int16Scale(TIQFormat Fmt);

// Bytes per complex sample: 2, 4 or 8; 0 for iqfNone (2 for anything unknown).
int32_t BytesPerSample(TIQFormat Fmt);

// Whole complex samples after HeaderBytes; 0 when the file does not exist.
// Throws EFileStreamError when the file exists but cannot be opened.
int64_t GetTotalSamples(const std::string &FileName, TIQFormat Fmt, int64_t HeaderBytes);

// Up to MaxSamples samples from sample index StartSample, scaled to about +-1; shorter at
// the end of the file, empty when nothing lies there or the file is missing. A negative
// start is treated as 0. Throws EFileStreamError when opening, seeking or reading fails.
TComplexArray LoadIQSegment(const std::string &FileName, TIQFormat Fmt, int64_t StartSample,
                            int32_t MaxSamples, int64_t HeaderBytes);
// The same into Out, up to Out.size() samples, for callers that read a long stretch through one
// buffer; returns how many were written.
size_t ReadIQSegment(const std::string &FileName, TIQFormat Fmt, int64_t StartSample,
                     std::span<TComplexSample> Out, int64_t HeaderBytes);

// Stretch after stretch of one raw recording through one open file, for a pass over all of it:
// opening the file again for every read costs more than reading a short stretch, and short
// stretches stay in the processor's cache between the read and their use.
class TIQRawReader {
public:
  // Opens the file; throws EFileStreamError when it cannot.
  TIQRawReader(const std::string &FileName, TIQFormat Fmt, int64_t HeaderBytes);
  // As ReadIQSegment.
  size_t Read(int64_t StartSample, std::span<TComplexSample> Out);
  // Up to Out.size() / 2 samples from StartSample as 16-bit I, Q values (see Int16Scale);
  // returns how many samples were read, none where Int16Scale is 0.
  size_t ReadInt16(int64_t StartSample, std::span<int16_t> Out);

private:
  TFCloseFile FFile;
  TIQFormat FFmt;
  int64_t FHeaderBytes;
  std::vector<uint8_t> FBuf;
};
