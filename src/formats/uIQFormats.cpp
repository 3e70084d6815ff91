// Format detection, the VITA-49 and WAV decoders, and TIQSource.
#include "formats/uIQFormats.h"

#include "base/uLog.h"
#include "base/uStrUtils.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t HEAD_SIZE = 4096;
constexpr uint32_t WAV_MIN_FMT_BYTES = 16;
constexpr uint32_t WAV_TAG_PCM = 1;
constexpr uint32_t WAV_TAG_FLOAT = 3;
constexpr double V49_RATE_SCALE = 9.5367431640625e-07; // 2^-20

TIQFormatInfo MakeInfo(TIQKind Kind, const char *Name, int64_t HeaderBytes = 0) {
  TIQFormatInfo I;
  I.Kind = Kind;
  I.Name = Name;
  I.HeaderBytes = HeaderBytes;
  I.RawFmt = KindToFmt(Kind);
  return I;
}

// A raw recording of encoding Fmt; the three encodings that have kinds of their own keep them.
TIQFormatInfo RawInfo(TIQFormat Fmt, const std::string &Name, int64_t HeaderBytes = 0) {
  TIQFormatInfo I;
  I.Kind = Fmt == iqfInt8 ? iqkInt8 : Fmt == iqfInt16 ? iqkInt16 : Fmt == iqfFloat32 ? iqkFloat32 : iqkRaw;
  I.RawFmt = Fmt;
  I.Name = Name;
  I.HeaderBytes = HeaderBytes;
  return I;
}

std::string LowerTrim(const std::string &S) {
  std::string T = TrimBlank(S);
  for (char &C : T)
    if (C >= 'A' && C <= 'Z')
      C = static_cast<char>(C - 'A' + 'a');
  return T;
}

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

} // namespace

const char *IQKindName(TIQKind Kind) {
  switch (Kind) {
  case iqkInt8:
    return "iqkInt8";
  case iqkInt16:
    return "iqkInt16";
  case iqkFloat32:
    return "iqkFloat32";
  case iqkSdrIq:
    return "iqkSdrIq";
  case iqkVita49:
    return "iqkVita49";
  case iqkWav:
    return "iqkWav";
  case iqkRaw:
    return "iqkRaw";
  }
  return "iqkInt8";
}

TIQFormat KindToFmt(TIQKind Kind) {
  switch (Kind) {
  case iqkInt16:
  case iqkSdrIq:
    return iqfInt16;
  case iqkFloat32:
    return iqfFloat32;
  default:
    return iqfInt8;
  }
}

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

TIQFormatInfo ExtFallback(const std::string &FileName) {
  if (const TRawExt *E = FindRawExt(FileName))
    return RawInfo(E->Fmt, E->Name);
  return MakeInfo(iqkInt8, IQ_NAME_INT8);
}

uint32_t Crc32(const uint8_t *P, size_t N) {
  uint32_t C = 0xFFFFFFFFu;
  for (size_t I = 0; I < N; ++I) {
    C ^= P[I];
    for (int K = 0; K < 8; ++K)
      C = (C >> 1) ^ (0xEDB88320u & (0u - (C & 1u)));
  }
  return ~C;
}

TIQFormatInfo SdrIqInfo(const std::string &FileName) {
  TIQFormatInfo R = MakeInfo(iqkSdrIq, IQ_NAME_SDRIQ, 28);
  if (!FileExists(FileName))
    return R;
  TFCloseFile F(FileName);
  uint8_t B[32] = {};
  const size_t Got = F.Size() >= 4 ? F.ReadSome(B, F.Size() >= 32 ? 32 : 4) : 0;
  auto U32 = [&](int P) {
    return uint32_t(B[P]) | uint32_t(B[P + 1]) << 8 | uint32_t(B[P + 2]) << 16 | uint32_t(B[P + 3]) << 24;
  };
  if (Got >= 4 && U32(0) > 0) {
    R.DetectedSampleRate = U32(0);
    R.HasDetectedSampleRate = true;
  }
  // A header that carries its own checksum is 32 bytes long; without it, the 4 bytes after
  // byte 28 are the first sample.
  if (Got < 32 || Crc32(B, 28) != U32(28))
    return R;
  R.HeaderBytes = 32;
  const uint64_t Center = uint64_t(U32(4)) | uint64_t(U32(8)) << 32;
  if (Center > 0) {
    R.DetectedCenterFreqHz = static_cast<double>(Center);
    R.HasDetectedCenterFreq = true;
  }
  const uint32_t Bits = U32(20);
  if (Bits == 16) {
    R.Name = IQ_NAME_SDRIQ_16;
  } else if (Bits == 24) {
    R.Name = IQ_NAME_SDRIQ_24;
    R.RawFmt = iqfInt24In32;
  } else {
    R.Name = "SDRAngel (.sdriq, not decoded: " + std::to_string(Bits) + "-bit samples)";
    R.RawFmt = iqfNone;
  }
  return R;
}

TIQFormatInfo SigMFInfo(const std::string &Hint) {
  // "<datatype>[,channels=N][,header_bytes=N]"
  const std::string DataType = Hint.substr(0, Hint.find(','));
  int64_t Channels = 1, HeaderBytes = 0;
  for (size_t P = Hint.find(','); P != std::string::npos; P = Hint.find(',', P + 1)) {
    const std::string Item = Hint.substr(P + 1, Hint.find(',', P + 1) - P - 1);
    const size_t Eq = Item.find('=');
    const std::string Key = Item.substr(0, Eq);
    const int64_t V = Eq == std::string::npos ? 0 : std::strtoll(Item.c_str() + Eq + 1, nullptr, 10);
    if (Key == "channels")
      Channels = V;
    else if (Key == "header_bytes" && V > 0)
      HeaderBytes = V;
  }
  // Channels interleaved sample by sample read as one channel would be noise, not the signal.
  if (Channels > 1)
    return RawInfo(iqfNone, "SigMF (" + DataType + ": " + std::to_string(Channels) +
                                " channels interleaved, not decoded)");
  static const struct {
    const char *Type;
    TIQFormat Fmt;
  } TYPES[] = {{"cf32_le", iqfFloat32}, {"cf32", iqfFloat32},    {"cf32_be", iqfFloat32BE},
               {"ci32_le", iqfInt32},   {"ci32", iqfInt32},      {"ci32_be", iqfInt32BE},
               {"ci16_le", iqfInt16},   {"ci16", iqfInt16},      {"ci16_be", iqfInt16BE},
               {"ci8", iqfInt8},        {"cu8", iqfUInt8},       {"cu16_le", iqfUInt16},
               {"cu16", iqfUInt16},     {"cu16_be", iqfUInt16BE}};
  for (const auto &T : TYPES)
    if (DataType == T.Type)
      return RawInfo(T.Fmt, "SigMF (" + DataType + ")", HeaderBytes);
  const char *Why =
      !DataType.empty() && DataType[0] == 'r' ? "real-valued samples, no I/Q" : "unsupported type";
  return RawInfo(iqfNone, "SigMF (" + DataType + ": " + Why + ")");
}

TIQFormatInfo VitaInfo(const TByteArray &Head, int32_t HeadLen) {
  return VitaInfoFor(Head, HeadLen, V49StreamIsBigEndian(Head, HeadLen));
}

TIQFormatInfo VitaInfoFor(const TByteArray &Head, int32_t HeadLen, bool Big) {
  HeadLen = std::clamp<int32_t>(HeadLen, 0, static_cast<int32_t>(std::min<size_t>(Head.size(), INT32_MAX)));
  TIQFormatInfo R = MakeInfo(iqkVita49, Big ? IQ_NAME_VITA_BE : IQ_NAME_VITA_LE);
  if (HeadLen < 8)
    return R;
  const uint32_t W0 = V49U32(Head, 0, Big);
  const uint32_t Type = W0 >> 28;
  if (Type != 4 && Type != 5)
    return R;
  // The CIF0 word follows every header word the first header announces (stream id, class
  // id, timestamps), as the decoder counts them; a fixed byte 8 would read the class id.
  // The fields end where the packet does; bytes after it belong to the next packet.
  const int64_t PacketEnd = std::min<int64_t>(HeadLen, static_cast<int64_t>(W0 & 0xFFFF) * 4);
  double SR = 0;
  if (V49ContextSampleRate(Head, static_cast<int64_t>(V49HeaderWords(W0)) * 4, PacketEnd, Big, SR)) {
    R.DetectedSampleRate = SR;
    R.HasDetectedSampleRate = true;
  }
  double Freq = 0;
  if (V49ContextRfFreq(Head, static_cast<int64_t>(V49HeaderWords(W0)) * 4, PacketEnd, Big, Freq)) {
    R.DetectedCenterFreqHz = Freq;
    R.HasDetectedCenterFreq = true;
  }
  return R;
}

namespace {

// Extensions that name a raw sample type. Two plausible packet headers in the first 4 KiB are
// common in noise recordings, so such a file is read as VITA-49 only when the whole packet
// chain says so.
bool ExtNamesRawType(const std::string &FileName) {
  return FindRawExt(FileName) != nullptr;
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

// What the chain of well-formed packets from the start of the file shows in one byte order.
struct TV49ChainFacts {
  bool Tiles = false;   // it ends exactly at the end of the file, or runs past its first MiB
  bool CutLast = false; // it ends in a packet that the end of the file cuts short
  bool Counted = false; // its packets carry the evidence of a real stream (see below)
};

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

} // namespace

bool IsVitaFileName(const std::string &FileName) {
  const std::string Ext = LowerFileExt(FileName);
  return Ext == ".vrt" || Ext == ".vita49" || Ext == ".vita" || Ext == ".vrt49";
}

namespace {} // namespace

TIQFormatInfo DetectIQFormat(const std::string &FileName, const std::string &FormatHint) {
  const std::string Hint = LowerTrim(FormatHint);
  TByteArray Head;
  int32_t HeadLen = 0;
  int64_t NTotal = 0;
  if (FileExists(FileName)) {
    TFCloseFile F(FileName);
    NTotal = F.Size();
    Head.resize(HEAD_SIZE);
    HeadLen = static_cast<int32_t>(F.ReadSome(Head.data(), Head.size()));
    Head.resize(static_cast<size_t>(HeadLen));
  }
  // RF64 and BW64 are RIFF with 64-bit sizes in a ds64 chunk.
  const bool IsRiff = HeadLen >= 12 &&
                      (std::memcmp(Head.data(), "RIFF", 4) == 0 || std::memcmp(Head.data(), "RF64", 4) == 0 ||
                       std::memcmp(Head.data(), "BW64", 4) == 0) &&
                      std::memcmp(Head.data() + 8, "WAVE", 4) == 0;
  LogFmt("DetectIQFormat: [%s] hint=[%s] size=%lld", FileName.c_str(), Hint.c_str(), (long long)NTotal);

  if (Hint == "sda-wav")
    return VitaInfo(Head, HeadLen);
  if (Hint == "sdrangel")
    return SdrIqInfo(FileName);
  if (Hint == "hackrf")
    return ExtFallback(FileName);
  if (Hint == "gqrx")
    return RawInfo(iqfFloat32, IQ_NAME_GQRX);
  if (Hint.rfind("sigmf:", 0) == 0)
    return SigMFInfo(Hint.substr(6));
  if (IsRiff)
    return MakeInfo(iqkWav, IQ_NAME_WAV);
  if (LowerFileExt(FileName) == ".sdriq")
    return SdrIqInfo(FileName);
  // A name that says VITA-49 needs only the chain (a recording cut short in its last packet
  // included). Otherwise, without a raw-type extension, two plausible packets in the head
  // suffice. A raw-type extension, or a stream whose head holds one packet only, needs the
  // chain to tile the file (or its first 1 MiB) and to count its packets: noise seldom tiles
  // a file, and raw recordings that repeat a plausible header do not count.
  const bool Looks = V49LooksLikeVRT(Head, HeadLen, NTotal);
  const bool Fits = Looks || V49FirstPacketFits(Head, HeadLen, NTotal);
  if (!Fits)
    return ExtFallback(FileName);
  const TV49ChainFacts Chain = V49ChainFacts(FileName, NTotal);
  if (IsVitaFileName(FileName) && (Chain.Tiles || Chain.CutLast))
    return VitaInfo(Head, HeadLen);
  if (Looks && !ExtNamesRawType(FileName))
    return VitaInfo(Head, HeadLen);
  if (Chain.Tiles && Chain.Counted)
    return VitaInfo(Head, HeadLen);
  return ExtFallback(FileName);
}

void DecodeVita49(const std::string &Path, TComplexArray &Samples, double &SampleRate, bool &HasSampleRate,
                  bool *StreamIsBig) {
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
      const TV49Header H = SplitHeader(W0);
      if (!V49BufPacketInChain(Buf, Off, N, Big))
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

void DecodeWav(const std::string &Path, TComplexArray &Samples, double &SampleRate, bool &HasSampleRate) {
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
  LogFmt("DecodeWav: channels=%u bits=%u tag=%u", NumChannels, BitsPerSample, FormatTag);
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

std::string WavRefusedName(const std::string &Why) {
  return "RIFF/WAVE (not decoded: " + Why + ")";
}

TIQSource::TIQSource(const std::string &AFileName, const std::string &AFormatHint) : FFileName(AFileName) {
  FInfo = DetectIQFormat(AFileName, AFormatHint);
  switch (FInfo.Kind) {
  case iqkVita49: {
    FVita = BuildVita49Index(AFileName);
    // Detection saw only the head; where the whole chain shows the other byte order, the
    // name and the first packet's rate follow the order the samples are read in.
    if (FVita.Big != (FInfo.Name == IQ_NAME_VITA_BE)) {
      TFCloseFile F(AFileName);
      TByteArray Head(HEAD_SIZE);
      Head.resize(F.ReadSome(Head.data(), Head.size()));
      FInfo = VitaInfoFor(Head, static_cast<int32_t>(Head.size()), FVita.Big);
    }
    // A rate in the first packet (found by detection) wins over the last one in the file.
    if (FVita.HasSampleRate && !FInfo.HasDetectedSampleRate) {
      FInfo.DetectedSampleRate = FVita.SampleRate;
      FInfo.HasDetectedSampleRate = true;
    }
    if (FVita.HasCenterFreq && !FInfo.HasDetectedCenterFreq) {
      FInfo.DetectedCenterFreqHz = FVita.CenterFreq;
      FInfo.HasDetectedCenterFreq = true;
    }
    const char *Order = FVita.Big ? "BE" : "LE";
    if (FVita.ItemBits == 0)
      FInfo.Name = std::string("VITA-49/VRT (") + Order + ", not decoded: " + FVita.Refusal + ")";
    else if (FVita.ItemBits == 8)
      FInfo.Name = std::string("VITA-49/VRT (int8 ") + Order + ")";
    if (FVita.TotalSamples == 0 && FVita.SpectralPackets == 0 && FVita.CommandPackets > 0)
      FInfo.Name = std::string("VITA-49/VRT (") + Order + ", command packets only, no samples)";
    if (FVita.TotalSamples == 0 && FVita.SpectralPackets > 0)
      FInfo.Name = std::string("VITA-49/VRT (") + Order + ", spectrum data only, not shown as I/Q)";
    FTotalSamples = FVita.TotalSamples;
    break;
  }
  case iqkWav:
    FWav = ReadWavLayout(AFileName);
    if (FWav.HasSampleRate) {
      FInfo.DetectedSampleRate = FWav.SampleRate;
      FInfo.HasDetectedSampleRate = true;
    }
    if (FWav.HasCenterFreq) {
      FInfo.DetectedCenterFreqHz = FWav.CenterFreq;
      FInfo.HasDetectedCenterFreq = true;
    }
    if (!FWav.Decodable)
      FInfo.Name = WavRefusedName(FWav.Refusal);
    else if (FWav.IsRf64)
      FInfo.Name = "RF64/BW64 (2-channel I/Q)";
    FTotalSamples = FWav.NFrames;
    break;
  default:
    FTotalSamples = GetTotalSamples(AFileName, FInfo.RawFmt, FInfo.HeaderBytes);
    break;
  }
}

TComplexArray TIQSource::LoadSegment(int64_t StartSample, int32_t MaxSamples) const {
  if (FInfo.Kind != iqkVita49 && FInfo.Kind != iqkWav)
    return LoadIQSegment(FFileName, FInfo.RawFmt, StartSample, MaxSamples, FInfo.HeaderBytes);
  const int64_t S = StartSample < 0 ? 0 : StartSample;
  if (S >= FTotalSamples)
    return {};
  // Computed as what is left, so that a start near the top of the range cannot overflow.
  int64_t Count = FTotalSamples - S;
  if (MaxSamples >= 0 && MaxSamples < Count)
    Count = MaxSamples;
  if (Count <= 0)
    return {};
  if (FInfo.Kind == iqkVita49)
    return ReadVita49Segment(FFileName, FVita, S, Count);
  return ReadWavSegment(FFileName, FWav, S, Count);
}
