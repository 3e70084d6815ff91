// Two-channel RIFF/WAVE (and RF64/BW64) recordings: the chunk walk, the frame layout and
// segment reads straight from the data chunk.
#pragma once

#include "base/uFileStream.h"
#include "base/uGlobals.h"

#include <cstdint>
#include <cstring>
#include <string>

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
// Frames [Start, Start + Count) as samples, read straight from the file.
TComplexArray ReadWavSegment(const std::string &Path, const TWavLayout &Layout, int64_t Start, int64_t Count);

// Display name of a WAV file whose samples are refused, with the reason.
std::string WavRefusedName(const std::string &Why);
