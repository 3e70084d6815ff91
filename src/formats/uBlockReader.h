// A window of a file that moves forward as a walk over it does, shared by the VITA-49 and WAV
// segment readers. Internal to the formats folder.
#pragma once

#include "base/uFileStream.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

inline constexpr size_t BLOCK_BYTES = 1 << 20; // larger than any VITA-49 packet (256 KiB)

// A window of the file that moves forward as the walk does. Reads a block at a time, so a
// walk over small packets costs one read per block, not one per packet.
class TBlockReader {
public:
  TBlockReader(TFCloseFile &F, int64_t Size) : FFile(F), FSize(Size) {}

  // Bytes [Off, Off + Len) of the file, or nullptr when they are not all there (the file
  // has shrunk since its size was taken). Len is at most BLOCK_BYTES.
  const uint8_t *At(int64_t Off, size_t Len) {
    if (Off < 0 || Off + static_cast<int64_t>(Len) > FSize)
      return nullptr;
    if (Off < FBufOff || Off + static_cast<int64_t>(Len) > FBufOff + static_cast<int64_t>(FBuf.size())) {
      const size_t Want =
          static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(BLOCK_BYTES), FSize - Off));
      FBuf.resize(std::max(Want, Len));
      FFile.Seek(Off);
      FBuf.resize(FFile.ReadSome(FBuf.data(), FBuf.size()));
      FBufOff = Off;
      if (FBuf.size() < Len)
        return nullptr;
    }
    return FBuf.data() + (Off - FBufOff);
  }

  int64_t Size() const { return FSize; }

private:
  TFCloseFile &FFile;
  int64_t FSize;
  TByteArray FBuf;
  int64_t FBufOff = 0;
};

inline uint32_t U32At(const uint8_t *P, bool Big) {
  if (Big)
    return uint32_t(P[0]) << 24 | uint32_t(P[1]) << 16 | uint32_t(P[2]) << 8 | uint32_t(P[3]);
  return uint32_t(P[3]) << 24 | uint32_t(P[2]) << 16 | uint32_t(P[1]) << 8 | uint32_t(P[0]);
}
