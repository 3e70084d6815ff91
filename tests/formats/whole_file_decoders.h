// The whole-file decoders of VITA-49 and WAV recordings: they hold the whole file in memory and
// serve the tests and the fuzz targets as the reference for the segment readers, which read
// straight from the file. Throw EFileStreamError when the file cannot be opened or read.
// DecodeVita49 reads 16-bit items unless the first payload format field says 8 (or names items
// it cannot decode: then no samples), and leaves out spectrum data packets. StreamIsBig, when
// given, receives the byte order the samples were decoded in.
#pragma once

#include "base/uFileStream.h"
#include "formats/uIQFormats.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

inline void DecodeVita49(const std::string &Path, TComplexArray &Samples, double &SampleRate,
                         bool &HasSampleRate, bool *StreamIsBig = nullptr) {
  Samples.clear();
  SampleRate = 0;
  HasSampleRate = false;
  TByteArray Payload;
  bool Big = true, FormatSeen = false;
  int32_t ItemBits = 16; // until a payload format field says otherwise
  {
    const TByteArray Buf = ReadWholeFile(Path);
    const int64_t N = static_cast<int64_t>(Buf.size());
    // The whole packet chain decides the byte order; the first word alone, judged against
    // the whole file size, takes many little-endian streams for big-endian ones.
    Big = V49StreamIsBigEndian(Buf, N);
    if (StreamIsBig)
      *StreamIsBig = Big;
    int64_t Off = 0;
    while (Off + 4 <= N) {
      const uint32_t W0 = V49U32(Buf, Off, Big);
      const struct {
        uint32_t Type, Size;
        bool T;
      } H{W0 >> 28, W0 & 0xFFFF, ((W0 >> 26) & 1) != 0};
      uint32_t NextWord = 0;
      const bool HasNext = H.Type > 5 && Off + static_cast<int64_t>(H.Size) * 4 + 4 <= N;
      if (HasNext)
        NextWord = V49U32(Buf, Off + static_cast<int64_t>(H.Size) * 4, Big);
      if (!V49PacketInChain(W0, Off, N, HasNext ? &NextWord : nullptr))
        break;
      const int64_t WIdx = V49HeaderWords(W0);
      const int64_t Trailer = (H.T && H.Type <= 3) ? 1 : 0;
      const int64_t PayloadWords = static_cast<int64_t>(H.Size) - WIdx - Trailer;
      const bool Spectral = H.Type <= 3 && ((W0 >> 24) & 1) != 0;
      if (H.Type == 4 || H.Type == 5) {
        double SR = 0;
        if (V49ContextSampleRate(Buf, Off + WIdx * 4, Off + static_cast<int64_t>(H.Size) * 4, Big, SR)) {
          SampleRate = SR;
          HasSampleRate = true;
        }
        TV49PayloadFormat Fmt;
        if (!FormatSeen &&
            V49ContextPayloadFormat(Buf, Off + WIdx * 4, Off + static_cast<int64_t>(H.Size) * 4, Big, Fmt)) {
          FormatSeen = true;
          ItemBits = Fmt.ItemBits;
        }
      } else if ((H.Type == 0 || H.Type == 1) && !Spectral && PayloadWords > 0) {
        const auto From = Buf.begin() + static_cast<std::ptrdiff_t>(Off + WIdx * 4);
        Payload.insert(Payload.end(), From, From + static_cast<std::ptrdiff_t>(PayloadWords * 4));
      }
      Off += static_cast<int64_t>(H.Size) * 4;
    }
  }
  if (ItemBits == 0)
    return;
  if (ItemBits == 8) {
    Samples.resize(Payload.size() / 2);
    for (size_t K = 0; K < Samples.size(); ++K) {
      Samples[K].Re = static_cast<float>(static_cast<int8_t>(Payload[2 * K]) * 0.0078125);
      Samples[K].Im = static_cast<float>(static_cast<int8_t>(Payload[2 * K + 1]) * 0.0078125);
    }
    return;
  }
  const size_t PairCount = Payload.size() / 4;
  Samples.resize(PairCount);
  for (size_t K = 0; K < PairCount; ++K) {
    Samples[K].Re = static_cast<float>(V49I16(Payload, static_cast<int64_t>(K * 4), Big) * 3.0517578125e-05);
    Samples[K].Im =
        static_cast<float>(V49I16(Payload, static_cast<int64_t>(K * 4 + 2), Big) * 3.0517578125e-05);
  }
}

inline constexpr uint32_t WAV_MIN_FMT_BYTES = 16;
inline constexpr uint32_t WAV_TAG_PCM = 1;
inline constexpr uint32_t WAV_TAG_FLOAT = 3;

inline void DecodeWav(const std::string &Path, TComplexArray &Samples, double &SampleRate,
                      bool &HasSampleRate) {
  Samples.clear();
  SampleRate = 0;
  HasSampleRate = false;
  uint32_t NumChannels = 0, BitsPerSample = 0, FormatTag = 0, BlockAlign = 0;
  bool FmtFound = false, FmtShort = false, DataFound = false;
  int64_t DataOff = 0, DataSize = 0;

  const TByteArray Buf = ReadWholeFile(Path);
  const int64_t N = static_cast<int64_t>(Buf.size());
  if (N < 12)
    return;
  const bool Rf64 = std::memcmp(Buf.data(), "RF64", 4) == 0 || std::memcmp(Buf.data(), "BW64", 4) == 0;
  if (!Rf64 && std::memcmp(Buf.data(), "RIFF", 4) != 0)
    return;
  int64_t Ds64DataSize = -1;
  auto RdU32 = [&](int64_t P) {
    const uint8_t *B = Buf.data() + P;
    return uint32_t(B[0]) | uint32_t(B[1]) << 8 | uint32_t(B[2]) << 16 | uint32_t(B[3]) << 24;
  };
  auto RdU16 = [&](int64_t P) {
    const uint8_t *B = Buf.data() + P;
    return static_cast<uint32_t>(B[0] | B[1] << 8);
  };

  int64_t Pos = 12;
  while (Pos + 8 <= N) {
    const uint8_t *Id = Buf.data() + Pos;
    const uint32_t ChunkSize = RdU32(Pos + 4);
    if (std::memcmp(Id, "fmt ", 4) == 0 && ChunkSize < WAV_MIN_FMT_BYTES) {
      // Its fields would be read from whatever follows it.
      FmtFound = FmtShort = true;
      SampleRate = 0;
      HasSampleRate = false;
    } else if (std::memcmp(Id, "fmt ", 4) == 0 && Pos + 24 <= N) {
      FmtShort = false;
      FormatTag = RdU16(Pos + 8);
      NumChannels = RdU16(Pos + 10);
      SampleRate = RdU32(Pos + 12);
      BlockAlign = RdU16(Pos + 20);
      BitsPerSample = RdU16(Pos + 22);
      HasSampleRate = SampleRate > 0;
      // The extensible form names its real encoding in the sub-format GUID, whose first
      // two bytes (at body offset 24) hold the plain format tag.
      if (FormatTag == 0xFFFE) {
        if (ChunkSize >= 26 && Pos + 8 + 26 <= N)
          FormatTag = RdU16(Pos + 8 + 24);
        else
          FormatTag = 0;
      }
      FmtFound = true;
    } else if (std::memcmp(Id, "data", 4) == 0) {
      DataOff = Pos + 8;
      DataSize = ChunkSize;
      DataFound = true;
    } else if (Rf64 && std::memcmp(Id, "ds64", 4) == 0 && ChunkSize >= 16 && Pos + 24 <= N) {
      Ds64DataSize = static_cast<int64_t>(
          std::min<uint64_t>(uint64_t(RdU32(Pos + 16)) | uint64_t(RdU32(Pos + 20)) << 32, INT64_MAX / 2));
    }
    int64_t Size = ChunkSize;
    // In RF64 a size of 0xFFFFFFFF stands for the 64-bit one in the ds64 chunk.
    if (Rf64 && ChunkSize == 0xFFFFFFFFu && std::memcmp(Id, "data", 4) == 0 && Ds64DataSize >= 0)
      DataSize = Size = Ds64DataSize;
    Pos += 8 + Size + (Size & 1);
  }
  if (!FmtFound || FmtShort || !DataFound || NumChannels < 2)
    return;
  // Only PCM and IEEE float: compressed or companded data decoded as PCM is noise.
  if (FormatTag != WAV_TAG_PCM && FormatTag != WAV_TAG_FLOAT)
    return;
  if (FormatTag == WAV_TAG_FLOAT && BitsPerSample != 32)
    return;
  // 32-bit IEEE float data is taken as it stands; integer data is scaled.
  const bool IsFloat = FormatTag == WAV_TAG_FLOAT;
  if (BitsPerSample != 8 && BitsPerSample != 16 && BitsPerSample != 24 && BitsPerSample != 32)
    return;
  const int64_t Comp = WavContainerBytes(BitsPerSample, NumChannels, BlockAlign);
  if (DataOff + DataSize > N)
    DataSize = N - DataOff;
  const int64_t FrameBytes = Comp * NumChannels;
  const int64_t NFrames = DataSize / FrameBytes;
  Samples.resize(static_cast<size_t>(NFrames));
  auto Component = [&](int64_t P) {
    return WavComponent(Buf.data() + P, static_cast<int32_t>(Comp * 8), IsFloat);
  };
  for (int64_t K = 0; K < NFrames; ++K) {
    const int64_t P = DataOff + K * FrameBytes;
    Samples[static_cast<size_t>(K)].Re = static_cast<float>(Component(P));
    Samples[static_cast<size_t>(K)].Im = static_cast<float>(Component(P + Comp));
  }
}
