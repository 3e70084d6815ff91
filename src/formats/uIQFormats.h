// Recording formats: detection, VITA-49 and WAV decoders, and TIQSource, the one object
// through which the viewer and the thumbnail painter read samples.
#pragma once

#include "base/uFileStream.h"
#include "base/uGlobals.h"
#include "formats/uIQData.h"

#include <cstdint>
#include <cstring>
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

// VITA-49 word readers; Big = most significant byte first. Callers check the bounds.
uint32_t V49U32(const TByteArray &Buf, int64_t Off, bool Big);
int64_t V49I64(const TByteArray &Buf, int64_t Off, bool Big);
int16_t V49I16(const TByteArray &Buf, int64_t Off, bool Big);
// Byte order of a VRT stream from its first header word; true for big-endian.
bool V49DetectByteOrder(const TByteArray &Buf, int64_t Len);
// Byte order of a stream in Buf[0, Len): the reading whose chain of complete packets covers
// more of it wins; on a tie, V49DetectByteOrder on the first 4096 bytes. The single-word
// rule alone takes many little-endian streams for big-endian ones.
bool V49StreamIsBigEndian(const TByteArray &Buf, int64_t Len);
// Sample rate (CIF0 bit 21) from a context packet whose CIF0 word stands at FieldOff; N is the
// end of the packet (never beyond Buf). Only a usable rate (IsUsableSampleRate) counts.
bool V49ContextSampleRate(const TByteArray &Buf, int64_t FieldOff, int64_t N, bool Big, double &SampleRate);
// Whether the head of a file of NTotal bytes looks like a VRT packet stream.
bool V49LooksLikeVRT(const TByteArray &Head, int32_t HeadLen, int64_t NTotal);
// Header words before a packet's payload (header, stream id, class id, timestamps).
int32_t V49HeaderWords(uint32_t W0);
// Whether a walk over a packet chain of N bytes goes on past the packet whose header word W0
// stands at Off. Next is the word after that packet, or null when fewer than four bytes
// follow it. Command packets (types 6 and 7) carry no samples; they are stepped over only
// when their size holds the stream identifier, CAM and message-ID words and another header
// (or the end) follows, since such a header word alone is as likely a damaged one.
bool V49PacketInChain(uint32_t W0, int64_t Off, int64_t N, const uint32_t *Next);
// Bytes of the context field of CIF0 bit Bit (30 down to 10); 0 for the others.
int32_t V49ContextFieldBytes(int Bit);
// The one walker of the CIF0 fields: offset of the context field of CIF0 bit Bit (30 down to
// 10) in a context packet whose CIF0 word stands at FieldOff, counting the CIF1/2/3/7 words
// that follow CIF0 when enabled; false when the bit is clear or the field does not end by N.
// Every context field reader goes through it.
bool V49ContextFieldOff(const TByteArray &Buf, int64_t FieldOff, int64_t N, bool Big, int Bit, int64_t &Off);
// RF reference frequency (CIF0 bit 27) of a context packet, in Hz.
bool V49ContextRfFreq(const TByteArray &Buf, int64_t FieldOff, int64_t N, bool Big, double &FreqHz);
// What a context packet's data payload format field (CIF0 bit 15) says about the items of
// the data packets: ItemBits 8 or 16 for signed fixed-point complex items the readers decode;
// otherwise ItemBits 0 and Why says what they are.
struct TV49PayloadFormat {
  int32_t ItemBits = 0;
  std::string Why;
};
bool V49ContextPayloadFormat(const TByteArray &Buf, int64_t FieldOff, int64_t N, bool Big,
                             TV49PayloadFormat &F);

// Whole-file decoders; throw EFileStreamError when the file cannot be opened or read.
// DecodeVita49 reads 16-bit items unless the first payload format field says 8 (or names
// items it cannot decode: then no samples), and leaves out spectrum data packets.
// StreamIsBig, when given, receives the byte order the samples were decoded in. They hold the
// whole file in memory and serve as the reference for the segment readers below.
void DecodeVita49(const std::string &Path, TComplexArray &Samples, double &SampleRate, bool &HasSampleRate,
                  bool *StreamIsBig = nullptr);
void DecodeWav(const std::string &Path, TComplexArray &Samples, double &SampleRate, bool &HasSampleRate);
// Bytes per component: the block align's share of each channel where it holds the valid bits
// (and at most 4 bytes), else the valid bits packed in whole bytes. A block align of 0 or one
// that does not divide by the channels is taken as packed.
inline uint32_t WavContainerBytes(uint32_t BitsPerSample, uint32_t NumChannels, uint32_t BlockAlign) {
  const uint32_t Packed = (BitsPerSample + 7) / 8;
  if (NumChannels == 0 || BlockAlign % NumChannels != 0)
    return Packed;
  const uint32_t Each = BlockAlign / NumChannels;
  return Each >= Packed && Each <= 4 ? Each : Packed;
}

// One component of a WAV frame at B (a little-endian PCM container of 8, 16, 24 or 32 bits,
// or 32-bit float) as a value around zero. 8-bit PCM is unsigned with 128 as zero. Shared by the whole-file
// decoder and the segment reader so both give the same bits.
inline double WavComponent(const uint8_t *B, int32_t BitsPerSample, bool IsFloat) {
  switch (BitsPerSample) {
  case 8:
    return (B[0] - 128) / 127.0;
  case 16:
    return static_cast<int16_t>(static_cast<uint16_t>(B[0] | B[1] << 8)) / 32768.0;
  case 24:
    return static_cast<int32_t>(uint32_t(B[0]) << 8 | uint32_t(B[1]) << 16 | uint32_t(B[2]) << 24) / 256 /
           8388608.0;
  default: {
    const uint32_t U = uint32_t(B[0]) | uint32_t(B[1]) << 8 | uint32_t(B[2]) << 16 | uint32_t(B[3]) << 24;
    if (IsFloat) {
      float F;
      std::memcpy(&F, &U, 4);
      return F;
    }
    return static_cast<int32_t>(U) / 2147483648.0;
  }
  }
}

// A packet start with the number of samples the data packets before it hold.
struct TV49Checkpoint {
  int64_t FileOff = 0;
  int64_t FirstSample = 0;
};

// What one pass over a VITA-49 file learns: the byte order, where the chain of well-formed
// packets ends, the sample count, the last usable context rate, and a sparse index of data
// packets (about one per V49_CHECKPOINT_BYTES of file) from which any sample is found by a
// short forward walk.
struct TV49Index {
  bool Big = true;
  int64_t EndOff = 0;
  int64_t TotalSamples = 0;
  double SampleRate = 0;
  bool HasSampleRate = false;
  double CenterFreq = 0; // RF reference frequency of the first context packet that has one
  bool HasCenterFreq = false;
  int32_t ItemBits = 16;       // 8 or 16 from the first payload format field; 0 when not decodable
  std::string Refusal;         // why ItemBits is 0
  int64_t SpectralPackets = 0; // data packets of spectrum data, not counted as samples
  int64_t CommandPackets = 0;  // command packets (types 6 and 7), never samples
  std::vector<TV49Checkpoint> Checkpoints;
};
inline constexpr int64_t V49_CHECKPOINT_BYTES = 64 * 1024;

// One sequential read of the file. Throws EFileStreamError when it cannot be opened or read.
TV49Index BuildVita49Index(const std::string &Path);
// Samples [Start, Start + Count) through the index; the same values DecodeVita49 gives.
TComplexArray ReadVita49Segment(const std::string &Path, const TV49Index &Index, int64_t Start,
                                int64_t Count);

// Where a RIFF/WAVE file keeps its frames and how to read them, or why it cannot be read.
struct TWavLayout {
  bool Decodable = false;
  std::string Refusal; // why there are no samples; empty when Decodable
  uint32_t NumChannels = 0;
  uint32_t BitsPerSample = 0;
  uint32_t ContainerBytes = 0; // bytes each component takes in a frame (block align / channels)
  bool IsFloat = false;
  bool IsRf64 = false;   // RF64/BW64: sizes from the ds64 chunk
  double CenterFreq = 0; // from an auxi chunk
  bool HasCenterFreq = false;
  int64_t DataOff = 0;
  int64_t FrameBytes = 0;
  int64_t NFrames = 0;
  double SampleRate = 0;
  bool HasSampleRate = false;
};

// Walks the chunks without reading the data. 8-bit PCM is unsigned (128 is zero). The block
// align decides the step from frame to frame and the container of each component: 24-bit PCM
// comes in three bytes or in four (block align 8 for two channels, whether the format tag is
// PCM or WAVE_FORMAT_EXTENSIBLE). Valid bits narrower than their container stand in its most
// significant bits, as the WAVE format conventions put them, so a container is read whole as
// a signed integer of its size. Throws EFileStreamError.
TWavLayout ReadWavLayout(const std::string &Path);
// Frames [Start, Start + Count) as samples; the same values DecodeWav gives.
TComplexArray ReadWavSegment(const std::string &Path, const TWavLayout &Layout, int64_t Start, int64_t Count);

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

private:
  std::string FFileName;
  TIQFormatInfo FInfo;
  TV49Index FVita;
  TWavLayout FWav;
  int64_t FTotalSamples = 0;
};

// Display name of a WAV file whose samples are refused, with the reason.
std::string WavRefusedName(const std::string &Why);
