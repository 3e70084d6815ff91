// Recording formats: detection and TIQSource, the one object through which the viewer and the
// thumbnail painter read samples. The formats' own readers are in uVita49, uWav and uIQData.
#pragma once

#include "base/uFileStream.h"
#include "base/uGlobals.h"
#include "formats/uIQData.h"
#include "formats/uVita49.h"
#include "formats/uWav.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Kind of recording.
enum TIQKind : uint8_t {
  iqkInt8 = 0,    // raw signed 8-bit, read on demand
  iqkInt16 = 1,   // raw signed 16-bit LE, read on demand
  iqkFloat32 = 2, // raw float32 LE, read on demand
  iqkSdrIq = 3,   // 28-byte header, then int16 LE, read on demand
  iqkVita49 = 4,  // VITA-49 packet stream, read through an index of its packets
  iqkWav = 5,     // RIFF/WAVE with at least two channels, read from its data chunk
  iqkRaw = 6,     // raw interleaved I/Q of the encoding in RawFmt, read on demand
};

// Kinds whose samples are read straight from the file in the encoding RawFmt.
inline bool IsRawKind(TIQKind Kind) {
  return Kind <= iqkSdrIq || Kind == iqkRaw;
}

struct TIQFormatInfo {
  TIQKind Kind = iqkInt8;
  std::string Name;              // display name for the status line
  int64_t HeaderBytes = 0;       // bytes before the first raw sample (28 for .sdriq)
  double DetectedSampleRate = 0; // Hz, from the file itself; 0 when none
  bool HasDetectedSampleRate = false;
  double DetectedCenterFreqHz = 0; // Hz, from the file itself; 0 when none
  bool HasDetectedCenterFreq = false;
  TIQFormat RawFmt = iqfInt8; // encoding of the raw kinds (KindToFmt of the others)
};

// Display names.
inline constexpr const char *IQ_NAME_FLOAT32 = "HackRF/raw (float32 interleaved, .cf32)";
inline constexpr const char *IQ_NAME_INT16 = "HackRF/raw (int16 interleaved, .cs16)";
inline constexpr const char *IQ_NAME_INT8 = "HackRF/raw (int8 interleaved)";
inline constexpr const char *IQ_NAME_SDRIQ = "SDRAngel (.sdriq, int16 LE, 28-byte header)";
inline constexpr const char *IQ_NAME_SDRIQ_16 = "SDRAngel (.sdriq, int16 LE, 32-byte header)";
inline constexpr const char *IQ_NAME_SDRIQ_24 = "SDRAngel (.sdriq, 24-bit in int32 LE, 32-byte header)";
inline constexpr const char *IQ_NAME_GQRX = "gqrx (float32 interleaved, .raw)";
inline constexpr const char *IQ_NAME_VITA_BE = "VITA-49/VRT (int16 BE)";
inline constexpr const char *IQ_NAME_VITA_LE = "VITA-49/VRT (int16 LE)";
inline constexpr const char *IQ_NAME_WAV = "RIFF/WAVE (2-channel I/Q)";

// Enumeration name of a kind ("iqkInt16"), for tools and diagnostics.
const char *IQKindName(TIQKind Kind);

// Raw encoding of a kind: int16 for iqkInt16/iqkSdrIq, float for iqkFloat32, else int8.
TIQFormat KindToFmt(TIQKind Kind);

// Decides the format from the sidecar's format hint (read by the caller, empty when none),
// the RIFF signature, the .sdriq extension, the VITA-49 packet heuristic and the extension.
// Reads the head of the recording and, where the packet chain decides, its first MiB. A missing file is not
// an error; one that exists but cannot be read throws.
TIQFormatInfo DetectIQFormat(const std::string &FileName, const std::string &FormatHint);
// Whether the extension is one VITA-49 recordings are usually given (.vrt, .vita49, .vita,
// .vrt49): such a file is read as VITA-49 whenever its packet chain holds.
bool IsVitaFileName(const std::string &FileName);
TIQFormatInfo ExtFallback(const std::string &FileName);
// The .sdriq result. When bytes 28-31 hold the CRC-32 of bytes 0-27, the header is 32 bytes
// (rate, centre frequency, start time, sample size, filler, CRC) and the sample size decides
// the encoding; otherwise the header is 28 bytes of which only the rate is read.
TIQFormatInfo SdrIqInfo(const std::string &FileName);
// Raw interleaved samples of a SigMF datatype ("cf32_le", "ci16", "cu8", ...), optionally
// followed by ",header_bytes=N" (where the samples start) and ",channels=N"; real-valued and
// unknown types and more than one channel give iqfNone with a name that says why.
TIQFormatInfo SigMFInfo(const std::string &Hint);
// CRC-32 as zlib computes it (reflected, polynomial 0xEDB88320).
uint32_t Crc32(const uint8_t *P, size_t N);
TIQFormatInfo VitaInfo(const TByteArray &Head, int32_t HeadLen);
// The same for a known byte order.
TIQFormatInfo VitaInfoFor(const TByteArray &Head, int32_t HeadLen, bool Big);

// One opened recording. Raw kinds and WAV are read from the file on every request, VITA-49
// through its packet index; memory stays bounded by the index and one segment. Holds no file
// handle between calls.
class TIQSource {
public:
  // Detects the format and indexes VITA-49/WAV. Throws EFileStreamError when a file that
  // exists cannot be opened or read.
  // AFormatHint is the sidecar's format hint (empty when none).
  TIQSource(const std::string &AFileName, const std::string &AFormatHint);

  const std::string &GetFileName() const { return FFileName; }
  const TIQFormatInfo &GetFormatInfo() const { return FInfo; }
  const std::string &GetFormatName() const { return FInfo.Name; }
  double GetDetectedSampleRate() const { return FInfo.DetectedSampleRate; }
  bool GetHasDetectedSampleRate() const { return FInfo.HasDetectedSampleRate; }
  int64_t TotalSamples() const { return FTotalSamples; }

  // Up to MaxSamples samples from StartSample; fewer at the end, empty when nothing lies
  // there. For VITA-49 and WAV a negative MaxSamples reaches to the end.
  TComplexArray LoadSegment(int64_t StartSample, int32_t MaxSamples) const;
  // The same into Out, up to Out.size() samples; returns how many were written. Raw kinds
  // convert straight into Out, so a long stretch read through one buffer costs no allocation.
  size_t ReadSegment(int64_t StartSample, std::span<TComplexSample> Out) const;

private:
  std::string FFileName;
  TIQFormatInfo FInfo;
  TV49Index FVita;
  TWavLayout FWav;
  int64_t FTotalSamples = 0;
};

// A pass over a whole recording, stretch after stretch: raw kinds through one file kept open
// (see TIQRawReader), the others through the source as any reader. Opens nothing until the
// first read.
class TIQStretchReader {
public:
  explicit TIQStretchReader(const TIQSource &Src) : FSrc(Src) {}
  // As TIQSource::ReadSegment.
  size_t Read(int64_t StartSample, std::span<TComplexSample> Out);
  // What ReadInt16's values are multiplied by to give Read's samples; 0 where it serves none
  // (all but raw 16- and 8-bit recordings).
  float Int16Scale() const;
  // Up to Out.size() / 2 samples as 16-bit I, Q values, without converting them to floats.
  size_t ReadInt16(int64_t StartSample, std::span<int16_t> Out);
  // Samples worth reading at once: short for raw kinds, kept open; longer for the others, whose
  // every read opens the file again.
  int64_t StretchSamples() const;

private:
  bool IsRaw() const;
  TIQRawReader &Raw();

  const TIQSource &FSrc;
  std::optional<TIQRawReader> FRaw;
};
