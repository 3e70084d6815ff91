// Segment reads of VITA-49 and WAV recordings straight from the file: a packet index built in
// one pass for VITA-49, the data chunk's position for WAV. Memory stays bounded by the index
// and one block, so recordings far larger than the address space can be shown.
#include "formats/uIQFormats.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

constexpr size_t BLOCK_BYTES = 1 << 20;        // larger than any VITA-49 packet (256 KiB)
constexpr int64_t V49_CONTEXT_PREFIX = 256;    // header words, CIF words and every field up to bit 15
constexpr double I16_SCALE = 3.0517578125e-05; // 2^-15
constexpr double I8_SCALE = 0.0078125;         // 2^-7

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

uint32_t U32At(const uint8_t *P, bool Big) {
  if (Big)
    return uint32_t(P[0]) << 24 | uint32_t(P[1]) << 16 | uint32_t(P[2]) << 8 | uint32_t(P[3]);
  return uint32_t(P[3]) << 24 | uint32_t(P[2]) << 16 | uint32_t(P[1]) << 8 | uint32_t(P[0]);
}

struct TV49Packet {
  uint32_t Type = 0;
  bool Spectral = false;    // a data packet of spectrum data (header bit 24)
  int64_t Bytes = 0;        // whole packet
  int64_t PayloadOff = 0;   // from the packet start
  int64_t PayloadWords = 0; // <= 0: no payload
};

// The packet at Off, or false when the chain ends there (as the whole-file decoder ends it).
bool ReadPacket(TBlockReader &R, int64_t Off, bool Big, TV49Packet &P) {
  const uint8_t *W = R.At(Off, 4);
  if (!W)
    return false;
  const uint32_t W0 = U32At(W, Big);
  P.Type = W0 >> 28;
  const int64_t Size = W0 & 0xFFFF;
  uint32_t Next = 0;
  const uint8_t *NW = P.Type > 5 && Size > 0 ? R.At(Off + Size * 4, 4) : nullptr;
  if (NW)
    Next = U32At(NW, Big);
  if (!V49PacketInChain(W0, Off, R.Size(), NW ? &Next : nullptr))
    return false;
  P.Bytes = Size * 4;
  P.Spectral = P.Type <= 3 && ((W0 >> 24) & 1) != 0;
  const int64_t WIdx = V49HeaderWords(W0);
  const int64_t Trailer = (((W0 >> 26) & 1) != 0 && P.Type <= 3) ? 1 : 0;
  P.PayloadOff = WIdx * 4;
  P.PayloadWords = Size - WIdx - Trailer;
  return true;
}

// One byte order's walk over the packet chain.
struct TV49Walk {
  TV49Index Index;
  bool Done = false;
  bool FormatSeen = false;
  int64_t LastCheckpoint = -V49_CHECKPOINT_BYTES;

  void Step(TBlockReader &R) {
    const int64_t Off = Index.EndOff;
    TV49Packet P;
    if (!ReadPacket(R, Off, Index.Big, P)) {
      Done = true;
      return;
    }
    if (P.Type == 4 || P.Type == 5) {
      const size_t Len = static_cast<size_t>(std::min<int64_t>(P.Bytes, V49_CONTEXT_PREFIX));
      const uint8_t *B = R.At(Off, Len);
      if (!B) {
        Done = true;
        return;
      }
      const TByteArray Packet(B, B + Len);
      double SR = 0;
      if (V49ContextSampleRate(Packet, P.PayloadOff, static_cast<int64_t>(Len), Index.Big, SR)) {
        Index.SampleRate = SR;
        Index.HasSampleRate = true;
      }
      double Freq = 0;
      if (!Index.HasCenterFreq &&
          V49ContextRfFreq(Packet, P.PayloadOff, static_cast<int64_t>(Len), Index.Big, Freq)) {
        Index.CenterFreq = Freq;
        Index.HasCenterFreq = true;
      }
      // The first payload format field decides the items of the whole stream.
      TV49PayloadFormat Fmt;
      if (!FormatSeen &&
          V49ContextPayloadFormat(Packet, P.PayloadOff, static_cast<int64_t>(Len), Index.Big, Fmt)) {
        FormatSeen = true;
        Index.ItemBits = Fmt.ItemBits;
        Index.Refusal = Fmt.Why;
      }
    } else if (P.Type >= 6) {
      ++Index.CommandPackets;
    } else if ((P.Type == 0 || P.Type == 1) && P.Spectral) {
      ++Index.SpectralPackets;
    } else if ((P.Type == 0 || P.Type == 1) && P.PayloadWords > 0) {
      if (Off - LastCheckpoint >= V49_CHECKPOINT_BYTES) {
        Index.Checkpoints.push_back({Off, Index.TotalSamples});
        LastCheckpoint = Off;
      }
      Index.TotalSamples += P.PayloadWords; // counted in words until the item size is known
    }
    Index.EndOff = Off + P.Bytes;
  }
};

} // namespace

TV49Index BuildVita49Index(const std::string &Path) {
  TFCloseFile F(Path);
  const int64_t N = F.Size();
  TBlockReader R(F, N);
  // Both byte orders are walked side by side in one pass; the one whose chain covers more of
  // the file wins, as in V49StreamIsBigEndian. The walk behind always goes first, so both
  // stay within one packet of each other and inside the reader's block.
  TV49Walk Walks[2];
  Walks[0].Index.Big = true;
  Walks[1].Index.Big = false;
  while (!Walks[0].Done || !Walks[1].Done) {
    TV49Walk &W = Walks[1].Done || (!Walks[0].Done && Walks[0].Index.EndOff <= Walks[1].Index.EndOff)
                      ? Walks[0]
                      : Walks[1];
    W.Step(R);
  }
  bool Big;
  if (Walks[0].Index.EndOff != Walks[1].Index.EndOff) {
    Big = Walks[0].Index.EndOff > Walks[1].Index.EndOff;
  } else {
    const size_t HeadLen = static_cast<size_t>(std::min<int64_t>(N, 4096));
    const uint8_t *H = HeadLen ? R.At(0, HeadLen) : nullptr;
    const TByteArray Head = H ? TByteArray(H, H + HeadLen) : TByteArray();
    Big = V49DetectByteOrder(Head, static_cast<int64_t>(Head.size()));
  }
  TV49Index Index = std::move(Walks[Big ? 0 : 1].Index);
  // Words to samples: one 16-bit pair or two 8-bit pairs per word; none for items the
  // readers cannot decode.
  if (Index.ItemBits == 0) {
    Index.TotalSamples = 0;
    Index.Checkpoints.clear();
  } else if (Index.ItemBits == 8) {
    Index.TotalSamples *= 2;
    for (TV49Checkpoint &C : Index.Checkpoints)
      C.FirstSample *= 2;
  }
  return Index;
}

TComplexArray ReadVita49Segment(const std::string &Path, const TV49Index &Index, int64_t Start,
                                int64_t Count) {
  TComplexArray Out;
  if (Start < 0)
    Start = 0;
  if (Start >= Index.TotalSamples || Count <= 0 || Index.Checkpoints.empty())
    return Out;
  if (!FileExists(Path)) // removed since it was opened: nothing, as for raw recordings
    return Out;
  Count = std::min(Count, Index.TotalSamples - Start);
  if (static_cast<uint64_t>(Count) > SIZE_MAX / sizeof(TComplexSample))
    throw std::length_error("ReadVita49Segment: request of " + std::to_string(Count) +
                            " samples is too large");
  // The last checkpoint at or before Start; the walk from there is at most about
  // V49_CHECKPOINT_BYTES plus one packet long before the first wanted sample.
  auto It = std::upper_bound(Index.Checkpoints.begin(), Index.Checkpoints.end(), Start,
                             [](int64_t S, const TV49Checkpoint &C) { return S < C.FirstSample; });
  --It;
  TFCloseFile F(Path);
  TBlockReader R(F, std::min(F.Size(), Index.EndOff));
  Out.reserve(static_cast<size_t>(Count));
  int64_t Off = It->FileOff, Sample = It->FirstSample;
  const int64_t End = Start + Count;
  const bool Items8 = Index.ItemBits == 8;
  const int64_t SampleBytes = Items8 ? 2 : 4;
  while (Sample < End) {
    TV49Packet P;
    if (!ReadPacket(R, Off, Index.Big, P))
      break; // the file changed since it was indexed
    if ((P.Type == 0 || P.Type == 1) && !P.Spectral && P.PayloadWords > 0) {
      const int64_t InPacket = P.PayloadWords * 4 / SampleBytes;
      if (Sample + InPacket > Start) {
        const int64_t From = std::max<int64_t>(Start - Sample, 0);
        const int64_t To = std::min<int64_t>(End - Sample, InPacket);
        const uint8_t *B =
            R.At(Off + P.PayloadOff + From * SampleBytes, static_cast<size_t>((To - From) * SampleBytes));
        if (!B)
          break;
        for (int64_t K = 0; K < To - From; ++K, B += SampleBytes) {
          if (Items8) {
            // Bytes in stream order, whatever the word order: I, Q, I, Q.
            Out.push_back({static_cast<float>(static_cast<int8_t>(B[0]) * I8_SCALE),
                           static_cast<float>(static_cast<int8_t>(B[1]) * I8_SCALE)});
            continue;
          }
          const int16_t I = static_cast<int16_t>(Index.Big ? (B[0] << 8 | B[1]) : (B[1] << 8 | B[0]));
          const int16_t Q = static_cast<int16_t>(Index.Big ? (B[2] << 8 | B[3]) : (B[3] << 8 | B[2]));
          Out.push_back({static_cast<float>(I * I16_SCALE), static_cast<float>(Q * I16_SCALE)});
        }
      }
      Sample += InPacket;
    }
    Off += P.Bytes;
  }
  return Out;
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
