// RIFF/WAVE and RF64/BW64 recordings: the chunk walk that finds the frames and segment reads
// straight from the data chunk.
#include "formats/uWav.h"

#include "formats/uBlockReader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

std::string WavRefusedName(const std::string &Why) {
  return "RIFF/WAVE (not decoded: " + Why + ")";
}

TWavLayout ReadWavLayout(const std::string &Path) {
  TWavLayout L;
  TFCloseFile F(Path);
  const int64_t N = F.Size();
  TBlockReader R(F, N);
  const uint8_t *Head = R.At(0, 12);
  if (Head && (std::memcmp(Head, "RF64", 4) == 0 || std::memcmp(Head, "BW64", 4) == 0))
    L.IsRf64 = true;
  if (!Head || (!L.IsRf64 && std::memcmp(Head, "RIFF", 4) != 0)) {
    L.Refusal = "not a RIFF file";
    return L;
  }
  auto U16 = [](const uint8_t *B) { return static_cast<uint32_t>(B[0] | B[1] << 8); };
  auto U32 = [](const uint8_t *B) {
    return uint32_t(B[0]) | uint32_t(B[1]) << 8 | uint32_t(B[2]) << 16 | uint32_t(B[3]) << 24;
  };
  uint32_t Tag = 0, FmtSize = 0, BlockAlign = 0;
  bool FmtFound = false, FmtShort = false, DataFound = false;
  int64_t DataSize = 0, Ds64DataSize = -1;
  for (int64_t Pos = 12; Pos + 8 <= N;) {
    const uint8_t *C = R.At(Pos, 8);
    if (!C)
      break;
    const uint32_t ChunkSize = U32(C + 4);
    if (std::memcmp(C, "fmt ", 4) == 0 && ChunkSize < 16) {
      FmtFound = FmtShort = true;
      FmtSize = ChunkSize;
      L.SampleRate = 0;
      L.HasSampleRate = false;
    } else if (std::memcmp(C, "fmt ", 4) == 0 && Pos + 24 <= N) {
      const uint8_t *B = R.At(Pos + 8, 16);
      if (!B)
        break;
      FmtFound = true;
      FmtShort = false;
      Tag = U16(B);
      L.NumChannels = U16(B + 2);
      L.SampleRate = U32(B + 4);
      BlockAlign = U16(B + 12);
      L.BitsPerSample = U16(B + 14);
      L.HasSampleRate = L.SampleRate > 0;
      // The extensible form names its real encoding in the first two bytes of the
      // sub-format GUID at body offset 24.
      // Fewer valid bits (24 in 32) stand in the top of each container, so reading the
      // whole container gives the value.
      if (Tag == 0xFFFE) {
        const uint8_t *Sub = ChunkSize >= 26 ? R.At(Pos + 8 + 24, 2) : nullptr;
        Tag = Sub ? U16(Sub) : 0;
      }
    } else if (std::memcmp(C, "data", 4) == 0) {
      L.DataOff = Pos + 8;
      DataSize = ChunkSize;
      DataFound = true;
    } else if (L.IsRf64 && std::memcmp(C, "ds64", 4) == 0 && ChunkSize >= 16) {
      // riff size, data size, sample count, table: only the data size is needed.
      if (const uint8_t *B = R.At(Pos + 8, 16))
        Ds64DataSize = static_cast<int64_t>(std::min<uint64_t>(
            uint64_t(U32(B + 8)) | uint64_t(U32(B + 12)) << 32, static_cast<uint64_t>(INT64_MAX / 2)));
    } else if (std::memcmp(C, "auxi", 4) == 0 && ChunkSize >= 36) {
      // Start and stop time (two SYSTEMTIMEs of 16 bytes), then the centre frequency in Hz.
      if (const uint8_t *B = R.At(Pos + 8 + 32, 4)) {
        L.CenterFreq = U32(B);
        L.HasCenterFreq = L.CenterFreq > 0;
      }
    }
    int64_t Size = ChunkSize;
    if (L.IsRf64 && ChunkSize == 0xFFFFFFFFu && std::memcmp(C, "data", 4) == 0 && Ds64DataSize >= 0)
      DataSize = Size = Ds64DataSize; // the 64-bit size stands in the ds64 chunk
    Pos += 8 + Size + (Size & 1);
  }

  auto Refuse = [&](std::string Why) {
    L.Refusal = std::move(Why);
    return L;
  };
  if (!FmtFound)
    return Refuse("no fmt chunk");
  if (FmtShort)
    return Refuse("fmt chunk of " + std::to_string(FmtSize) + " bytes, at least 16 needed");
  if (!DataFound)
    return Refuse("no data chunk");
  if (L.NumChannels < 2)
    return Refuse(std::to_string(L.NumChannels) + " channel" + (L.NumChannels == 1 ? "" : "s") +
                  ", I/Q needs 2");
  if (Tag != 1 && Tag != 3) {
    char Hex[8];
    std::snprintf(Hex, sizeof Hex, "0x%04X", Tag & 0xFFFF);
    const char *Known = Tag == 2      ? " ADPCM"
                        : Tag == 6    ? " A-law"
                        : Tag == 7    ? " mu-law"
                        : Tag == 0x11 ? " IMA ADPCM"
                        : Tag == 0x55 ? " MP3"
                        : Tag == 0x50 ? " MPEG"
                                      : "";
    return Refuse(std::string("format tag ") + Hex + Known + " is neither PCM nor IEEE float");
  }
  L.IsFloat = Tag == 3;
  if (L.IsFloat && L.BitsPerSample != 32)
    return Refuse(std::to_string(L.BitsPerSample) + "-bit float samples");
  if (!L.IsFloat && L.BitsPerSample != 8 && L.BitsPerSample != 16 && L.BitsPerSample != 24 &&
      L.BitsPerSample != 32)
    return Refuse(std::to_string(L.BitsPerSample) + "-bit samples");
  if (L.DataOff + DataSize > N)
    DataSize = N - L.DataOff; // a data chunk that claims more than the file holds is cut
  L.ContainerBytes = WavContainerBytes(L.BitsPerSample, L.NumChannels, BlockAlign);
  L.FrameBytes = static_cast<int64_t>(L.ContainerBytes) * L.NumChannels;
  L.NFrames = DataSize / L.FrameBytes;
  L.Decodable = true;
  return L;
}

TComplexArray ReadWavSegment(const std::string &Path, const TWavLayout &L, int64_t Start, int64_t Count) {
  TComplexArray Out;
  if (Start < 0)
    Start = 0;
  if (!L.Decodable || Start >= L.NFrames || Count <= 0)
    return Out;
  if (!FileExists(Path))
    return Out;
  Count = std::min(Count, L.NFrames - Start);
  if (static_cast<uint64_t>(Count) > SIZE_MAX / sizeof(TComplexSample))
    throw std::length_error("ReadWavSegment: request of " + std::to_string(Count) + " samples is too large");
  TFCloseFile F(Path);
  TBlockReader R(F, F.Size());
  Out.reserve(static_cast<size_t>(Count));
  const int64_t Comp = L.ContainerBytes;
  const int32_t Bits = static_cast<int32_t>(L.ContainerBytes * 8);
  // Frames are read a block at a time; a frame is at most 65535 channels of 4 bytes, less
  // than one block.
  const int64_t PerBlock = std::max<int64_t>(1, static_cast<int64_t>(BLOCK_BYTES) / L.FrameBytes);
  for (int64_t K = 0; K < Count;) {
    const int64_t N = std::min(PerBlock, Count - K);
    const uint8_t *B = R.At(L.DataOff + (Start + K) * L.FrameBytes, static_cast<size_t>(N * L.FrameBytes));
    if (!B)
      break; // the file has shrunk
    for (int64_t J = 0; J < N; ++J, B += L.FrameBytes)
      Out.push_back({static_cast<float>(WavComponent(B, Bits, L.IsFloat)),
                     static_cast<float>(WavComponent(B + Comp, Bits, L.IsFloat))});
    K += N;
  }
  return Out;
}
