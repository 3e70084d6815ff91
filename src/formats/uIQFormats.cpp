// Format detection and TIQSource.
#include "formats/uIQFormats.h"

#include "base/uLog.h"
#include "base/uStrUtils.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t HEAD_SIZE = 4096;

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

// Extensions that name a raw sample type. Two plausible packet headers in the first 4 KiB are
// common in noise recordings, so such a file is read as VITA-49 only when the whole packet
// chain says so.
bool ExtNamesRawType(const std::string &FileName) {
  return FindRawExt(FileName) != nullptr;
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

bool IsVitaFileName(const std::string &FileName) {
  const std::string Ext = LowerFileExt(FileName);
  return Ext == ".vrt" || Ext == ".vita49" || Ext == ".vita" || Ext == ".vrt49";
}

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

size_t TIQSource::ReadSegment(int64_t StartSample, std::span<TComplexSample> Out) const {
  if (FInfo.Kind != iqkVita49 && FInfo.Kind != iqkWav)
    return ReadIQSegment(FFileName, FInfo.RawFmt, StartSample, Out, FInfo.HeaderBytes);
  const TComplexArray S =
      LoadSegment(StartSample, static_cast<int32_t>(std::min<size_t>(Out.size(), INT32_MAX)));
  std::copy(S.begin(), S.end(), Out.begin());
  return S.size();
}

bool TIQStretchReader::IsRaw() const {
  const TIQKind K = FSrc.GetFormatInfo().Kind;
  return K != iqkVita49 && K != iqkWav;
}

TIQRawReader &TIQStretchReader::Raw() {
  if (!FRaw)
    FRaw.emplace(FSrc.GetFileName(), FSrc.GetFormatInfo().RawFmt, FSrc.GetFormatInfo().HeaderBytes);
  return *FRaw;
}

size_t TIQStretchReader::Read(int64_t StartSample, std::span<TComplexSample> Out) {
  if (!IsRaw() || FSrc.TotalSamples() <= 0)
    return FSrc.ReadSegment(StartSample, Out);
  return Raw().Read(StartSample, Out);
}

float TIQStretchReader::Int16Scale() const {
  return IsRaw() ? ::Int16Scale(FSrc.GetFormatInfo().RawFmt) : 0.0f;
}

size_t TIQStretchReader::ReadInt16(int64_t StartSample, std::span<int16_t> Out) {
  return Int16Scale() > 0 && FSrc.TotalSamples() > 0 ? Raw().ReadInt16(StartSample, Out) : 0;
}

int64_t TIQStretchReader::StretchSamples() const {
  return IsRaw() ? int64_t{1} << 14 : int64_t{1} << 18;
}
