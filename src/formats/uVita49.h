// VITA-49 (VRT) packet streams: word readers, the packet walk, the one walker of the CIF0
// context fields, the chain evidence detection asks for, and the packet index through which
// segments are read straight from the file.
#pragma once

#include "base/uFileStream.h"
#include "base/uGlobals.h"

#include <cstdint>
#include <string>
#include <vector>

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

// Whether the first word of Head is a packet header that fits a file of NTotal bytes in either
// byte order: the cheap test before the chain is followed through the file.
bool V49FirstPacketFits(const TByteArray &Head, int32_t HeadLen, int64_t NTotal);
// What the chain of well-formed packets from the start of a file shows in its better byte
// order (the first MiB is read).
struct TV49ChainFacts {
  bool Tiles = false;   // it ends exactly at the end of the file, or runs past its first MiB
  bool CutLast = false; // it ends in a packet that the end of the file cuts short
  bool Counted = false; // its packets carry the evidence of a real stream (advancing counts)
};
TV49ChainFacts V49ChainFacts(const std::string &FileName, int64_t NTotal);

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
// Samples [Start, Start + Count) through the index, read straight from the file.
TComplexArray ReadVita49Segment(const std::string &Path, const TV49Index &Index, int64_t Start,
                                int64_t Count);
