// VITA-49 packet streams: the walk, the CIF0 field walker, the chain evidence, and the packet
// index through which segments are read straight from the file. Memory stays bounded by the
// index and one block, so recordings far larger than the address space can be shown.
#include "formats/uVita49.h"

#include "formats/uBlockReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

constexpr int32_t HEAD_SIZE = 4096;
constexpr double V49_RATE_SCALE = 9.5367431640625e-07; // 2^-20
constexpr int64_t V49_CONTEXT_PREFIX = 256;            // header words, CIF words and every field up to bit 15
constexpr double I16_SCALE = 3.0517578125e-05;         // 2^-15
constexpr double I8_SCALE = 0.0078125;                 // 2^-7

struct TV49Header {
  uint32_t Type, Size;
  bool C, T;
  uint32_t TSI, TSF;
};

TV49Header SplitHeader(uint32_t W0) {
  return {W0 >> 28,       W0 & 0xFFFF,   ((W0 >> 27) & 1) != 0, ((W0 >> 26) & 1) != 0,
          (W0 >> 22) & 3, (W0 >> 20) & 3};
}

bool V49HeaderFits(uint32_t W0, int64_t Off, int64_t N, uint32_t MaxType) {
  const TV49Header H = SplitHeader(W0);
  return H.Type <= MaxType && H.Size > 0 && Off + static_cast<int64_t>(H.Size) * 4 <= N;
}

// The word after the packet at Off, for V49PacketInChain.
const uint32_t *V49NextWord(const TByteArray &Buf, int64_t Off, int64_t N, bool Big, uint32_t &Word) {
  const int64_t End = Off + static_cast<int64_t>(V49U32(Buf, Off, Big) & 0xFFFF) * 4;
  if (End + 4 > std::min<int64_t>(N, static_cast<int64_t>(Buf.size())))
    return nullptr;
  Word = V49U32(Buf, End, Big);
  return &Word;
}

bool V49BufPacketInChain(const TByteArray &Buf, int64_t Off, int64_t N, bool Big) {
  uint32_t Next = 0;
  const uint32_t W0 = V49U32(Buf, Off, Big);
  return V49PacketInChain(W0, Off, N, (W0 >> 28) > 5 ? V49NextWord(Buf, Off, N, Big, Next) : nullptr);
}

struct TV49Packet {
  uint32_t Type = 0;
  bool Spectral = false;    // a data packet of spectrum data (header bit 24)
  int64_t Bytes = 0;        // whole packet
  int64_t PayloadOff = 0;   // from the packet start
  int64_t PayloadWords = 0; // <= 0: no payload
};

// The packet at Off, or false when the chain ends there.
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

uint32_t V49U32(const TByteArray &Buf, int64_t Off, bool Big) {
  const uint8_t *P = Buf.data() + Off;
  if (Big)
    return uint32_t(P[0]) << 24 | uint32_t(P[1]) << 16 | uint32_t(P[2]) << 8 | uint32_t(P[3]);
  return uint32_t(P[3]) << 24 | uint32_t(P[2]) << 16 | uint32_t(P[1]) << 8 | uint32_t(P[0]);
}

int64_t V49I64(const TByteArray &Buf, int64_t Off, bool Big) {
  uint64_t V = 0;
  for (int I = 0; I < 8; ++I) {
    const uint8_t B = Buf[static_cast<size_t>(Off + (Big ? I : 7 - I))];
    V = (V << 8) | B;
  }
  return static_cast<int64_t>(V);
}

int16_t V49I16(const TByteArray &Buf, int64_t Off, bool Big) {
  const uint8_t *P = Buf.data() + Off;
  const uint16_t V = Big ? static_cast<uint16_t>(P[0] << 8 | P[1]) : static_cast<uint16_t>(P[1] << 8 | P[0]);
  return static_cast<int16_t>(V);
}

bool V49DetectByteOrder(const TByteArray &Buf, int64_t Len) {
  if (Len < 4 || Buf.size() < 4)
    return true;
  for (bool Big : {true, false}) {
    const uint32_t W = V49U32(Buf, 0, Big);
    const uint32_t Type = W >> 28, Size = W & 0xFFFF;
    if (Type <= 5 && Size >= 1 && static_cast<int64_t>(Size) * 4 <= Len + 4)
      return Big;
  }
  return true;
}

bool V49StreamIsBigEndian(const TByteArray &Buf, int64_t Len) {
  Len = std::min<int64_t>(Len, static_cast<int64_t>(Buf.size()));
  // Bytes covered by the chain of complete, well-formed packets from the start under one
  // reading. The right reading chains to the end; the wrong one soon meets a header that
  // is invalid or does not fit.
  auto Covered = [&](bool Big) {
    int64_t Off = 0;
    while (Off + 4 <= Len) {
      if (!V49BufPacketInChain(Buf, Off, Len, Big))
        break;
      const TV49Header H = SplitHeader(V49U32(Buf, Off, Big));
      Off += static_cast<int64_t>(H.Size) * 4;
    }
    return Off;
  };
  const int64_t CBig = Covered(true), CLittle = Covered(false);
  if (CBig != CLittle)
    return CBig > CLittle;
  return V49DetectByteOrder(Buf, std::min<int64_t>(Len, HEAD_SIZE));
}

bool V49ContextSampleRate(const TByteArray &Buf, int64_t FieldOff, int64_t N, bool Big, double &SampleRate) {
  SampleRate = 0;
  int64_t P = 0;
  if (!V49ContextFieldOff(Buf, FieldOff, N, Big, 21, P))
    return false;
  const double SR = static_cast<double>(V49I64(Buf, P, Big)) * V49_RATE_SCALE;
  // Zero, negative and absurd rates would end up as divisors and frequency scales.
  if (!IsUsableSampleRate(SR))
    return false;
  SampleRate = SR;
  return true;
}

bool V49LooksLikeVRT(const TByteArray &Head, int32_t HeadLen, int64_t NTotal) {
  HeadLen = static_cast<int32_t>(std::min<int64_t>(HeadLen, static_cast<int64_t>(Head.size())));
  if (HeadLen < 8 || NTotal < 8)
    return false;
  for (bool Big : {true, false}) {
    int64_t Off = 0;
    int Packets = 0;
    bool Seen = false;
    while (Off + 4 <= HeadLen && Packets < 4) {
      if (!V49BufPacketInChain(Head, Off, NTotal, Big))
        break;
      const TV49Header H = SplitHeader(V49U32(Head, Off, Big));
      if (H.Type == 0 || H.Type == 1 || H.Type == 4 || H.Type == 5)
        Seen = true;
      Off += static_cast<int64_t>(H.Size) * 4;
      ++Packets;
      if (Off > HeadLen)
        break;
    }
    if (Packets >= 2 && Seen)
      return true;
  }
  return false;
}

int32_t V49ContextFieldBytes(int Bit) {
  // CIF0 bits 30 down to 10; the fields of bits 9 and 8 carry their own lengths.
  static constexpr int32_t SIZES[21] = {4, 8, 8, 8, 8, 8, 4, 4, 4, 8, 8, 4, 4, 8, 4, 8, 44, 44, 52, 52, 4};
  return Bit >= 10 && Bit <= 30 ? SIZES[30 - Bit] : 0;
}

bool V49ContextFieldOff(const TByteArray &Buf, int64_t FieldOff, int64_t N, bool Big, int Bit, int64_t &Off) {
  N = std::min<int64_t>(N, static_cast<int64_t>(Buf.size()));
  if (V49ContextFieldBytes(Bit) == 0 || FieldOff < 0 || FieldOff + 4 > N)
    return false;
  const uint32_t CIF0 = V49U32(Buf, FieldOff, Big);
  if (!(CIF0 & (uint32_t(1) << Bit)))
    return false;
  int64_t P = FieldOff + 4;
  for (int Enable : {1, 2, 3, 7}) // CIF1, CIF2, CIF3 and CIF7 words come before the fields
    if (CIF0 & (uint32_t(1) << Enable))
      P += 4;
  for (int B = 30; B > Bit; --B)
    if (CIF0 & (uint32_t(1) << B))
      P += V49ContextFieldBytes(B);
  if (P + V49ContextFieldBytes(Bit) > N)
    return false;
  Off = P;
  return true;
}

bool V49ContextRfFreq(const TByteArray &Buf, int64_t FieldOff, int64_t N, bool Big, double &FreqHz) {
  int64_t P = 0;
  if (!V49ContextFieldOff(Buf, FieldOff, N, Big, 27, P))
    return false;
  const double F = static_cast<double>(V49I64(Buf, P, Big)) * V49_RATE_SCALE;
  if (!std::isfinite(F) || F <= 0)
    return false;
  FreqHz = F;
  return true;
}

bool V49ContextPayloadFormat(const TByteArray &Buf, int64_t FieldOff, int64_t N, bool Big,
                             TV49PayloadFormat &F) {
  int64_t P = 0;
  if (!V49ContextFieldOff(Buf, FieldOff, N, Big, 15, P))
    return false;
  const uint32_t W = V49U32(Buf, P, Big);
  const bool LinkEfficient = (W >> 31) != 0;
  const uint32_t RealComplex = (W >> 29) & 3, ItemFormat = (W >> 24) & 31;
  const uint32_t EventTag = (W >> 20) & 7, ChannelTag = (W >> 16) & 15;
  const uint32_t FieldBits = ((W >> 6) & 63) + 1, ItemBits = (W & 63) + 1;
  F = {};
  if (RealComplex == 0)
    F.Why = "real-valued items, no I/Q";
  else if (RealComplex != 1)
    F.Why = "polar complex items";
  else if (ItemFormat == 0x0E)
    F.Why = "32-bit float items";
  else if (ItemFormat == 0x0F)
    F.Why = "64-bit float items";
  else if (ItemFormat >= 0x10)
    F.Why = "unsigned fixed-point items";
  else if (ItemFormat != 0)
    F.Why = "floating-point items of format " + std::to_string(ItemFormat);
  else if (EventTag != 0 || ChannelTag != 0)
    F.Why = "items with event or channel tags";
  else if (FieldBits != ItemBits || (ItemBits != 8 && ItemBits != 16))
    F.Why = std::to_string(ItemBits) + "-bit items in " + std::to_string(FieldBits) + "-bit fields, " +
            (LinkEfficient ? "link" : "processing") + "-efficient packing";
  else
    F.ItemBits = static_cast<int32_t>(ItemBits);
  return true;
}

int32_t V49HeaderWords(uint32_t W0) {
  const TV49Header H = SplitHeader(W0);
  int32_t W = 1;
  if (H.Type == 1 || H.Type == 3 || H.Type >= 4)
    W += 1;
  if (H.C)
    W += 2;
  if (H.TSI != 0)
    W += 1;
  if (H.TSF != 0)
    W += 2;
  return W;
}

bool V49PacketInChain(uint32_t W0, int64_t Off, int64_t N, const uint32_t *Next) {
  const TV49Header H = SplitHeader(W0);
  if (H.Type <= 5)
    return V49HeaderFits(W0, Off, N, 5);
  if (H.Type > 7 || !V49HeaderFits(W0, Off, N, 7))
    return false;
  if (static_cast<int64_t>(H.Size) < V49HeaderWords(W0) + 2)
    return false;
  return !Next || V49HeaderFits(*Next, Off + static_cast<int64_t>(H.Size) * 4, N, 7);
}

// Whether the first word is a packet header that fits the file in either byte order: the
// cheap test before the chain is followed through the file.
bool V49FirstPacketFits(const TByteArray &Head, int32_t HeadLen, int64_t NTotal) {
  if (HeadLen < 4 || static_cast<int64_t>(Head.size()) < 4)
    return false;
  for (bool Big : {true, false}) {
    if (V49BufPacketInChain(Head, 0, NTotal, Big))
      return true;
  }
  return false;
}

// Walks the chain over the first MiB of the file in both byte orders; the better reading wins.
//
// Counted: a stream numbers the packets of each of its streams (stream identifier and packet
// class) with a 4-bit count that advances by one from packet to packet. Most successors must
// follow on, so a lost packet does not spoil a stream. A raw recording that repeats a plausible
// header (a constant value, or a tone whose period brings the same word back at the distance
// it names) repeats the count with it. A chain of one packet per stream has no successors; its
// size alone must then match the file, which noise seldom does.
TV49ChainFacts V49ChainFacts(const std::string &FileName, int64_t NTotal) {
  constexpr int64_t LIMIT = int64_t{1} << 20;
  const int64_t Want = std::min(NTotal, LIMIT);
  TByteArray Buf(static_cast<size_t>(Want));
  {
    TFCloseFile F(FileName);
    if (static_cast<int64_t>(F.ReadSome(Buf.data(), Buf.size())) < Want)
      return {};
  }
  TV49ChainFacts Best;
  for (bool Big : {true, false}) {
    struct TStream {
      uint64_t Key;
      int Count;
    };
    std::vector<TStream> Streams;
    int64_t Off = 0, Successors = 0, Advances = 0;
    while (Off + 4 <= Want) {
      const uint32_t W0 = V49U32(Buf, Off, Big);
      const TV49Header H = SplitHeader(W0);
      if (!V49BufPacketInChain(Buf, Off, NTotal, Big))
        break;
      const bool HasSid = H.Type == 1 || H.Type == 3 || H.Type >= 4;
      const uint64_t Class = H.Type >= 6 ? 2 : H.Type >= 4 ? 1 : 0;
      const uint64_t Sid = HasSid && Off + 8 <= Want ? V49U32(Buf, Off + 4, Big) : 0;
      const uint64_t Key = Class << 33 | uint64_t(HasSid) << 32 | Sid;
      const int Count = static_cast<int>((W0 >> 16) & 15);
      auto It = std::find_if(Streams.begin(), Streams.end(), [&](const TStream &S) { return S.Key == Key; });
      if (It == Streams.end()) {
        if (Streams.size() < 64) // more streams than that is no recording's doing
          Streams.push_back({Key, Count});
      } else {
        ++Successors;
        if (Count == ((It->Count + 1) & 15))
          ++Advances;
        It->Count = Count;
      }
      Off += static_cast<int64_t>(H.Size) * 4;
    }
    TV49ChainFacts F;
    F.Tiles = Off == NTotal || (NTotal > LIMIT && Off >= LIMIT);
    if (!F.Tiles && Off + 4 <= Want && Off > 0) {
      const TV49Header H = SplitHeader(V49U32(Buf, Off, Big));
      F.CutLast = H.Type <= 5 && H.Size > 0 && Off + static_cast<int64_t>(H.Size) * 4 > NTotal;
    }
    F.Counted = Off > 0 && (Successors == 0 || (Advances > 0 && 2 * Advances >= Successors));
    if ((F.Tiles && F.Counted) || (F.Tiles && !Best.Tiles) || (F.CutLast && !Best.Tiles && !Best.CutLast))
      Best = F;
  }
  return Best;
}

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
