// What each fuzz target does with one input. Shared by the libFuzzer targets and by the
// GoogleTest that replays the kept inputs, so a fault once found stays tested.
//
// Beyond not crashing, the targets check what must hold for any input: the segment readers
// give exactly the whole-file decoders' samples, the hint learnt while parsing equals
// ReadFormatHint, the painter writes only inside its image.
#pragma once

#include "../tests/formats/whole_file_decoders.h"
#include "base/uFileStream.h"
#include "formats/uIQFormats.h"
#include "metadata/uJson.h"
#include "metadata/uMetadata.h"
#include "thumbnail/uThumbnail.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <process.h>
#define ZB_GETPID _getpid
#else
#include <unistd.h>
#define ZB_GETPID getpid
#endif

namespace zbfuzz {

[[noreturn]] inline void Fail(const char *What) {
  std::fprintf(stderr, "fuzz check failed: %s\n", What);
  std::abort();
}
#define ZB_FUZZ_CHECK(Cond)                                                                                  \
  do {                                                                                                       \
    if (!(Cond))                                                                                             \
      ::zbfuzz::Fail(#Cond);                                                                                 \
  } while (0)

// A private folder for this process's input files, removed at exit.
inline std::string TempPath(const std::string &Name) {
  struct TDir {
    std::filesystem::path P;
    TDir() : P(std::filesystem::temp_directory_path() / ("zbfuzz_" + std::to_string(ZB_GETPID()))) {
      std::filesystem::create_directories(P);
    }
    ~TDir() {
      std::error_code Ec;
      std::filesystem::remove_all(P, Ec);
    }
  };
  static const TDir Dir;
  return (Dir.P / Name).string();
}

inline void WriteFile(const std::string &Path, const uint8_t *Data, size_t Size) {
  std::FILE *F = std::fopen(Path.c_str(), "wb");
  if (!F)
    Fail("cannot write the input file");
  if (Size && std::fwrite(Data, 1, Size, F) != Size)
    Fail("cannot write the input file");
  std::fclose(F);
}

inline bool SameSamples(const TComplexArray &A, const TComplexSample *B, size_t N) {
  return A.size() == N && (N == 0 || std::memcmp(A.data(), B, N * sizeof(TComplexSample)) == 0);
}

// Every segment of Src against the whole-file samples: whole, and a few cuts the input picks.
inline void CheckSegments(const TIQSource &Src, const TComplexArray &All, const uint8_t *Data, size_t Size) {
  ZB_FUZZ_CHECK(Src.TotalSamples() == static_cast<int64_t>(All.size()));
  ZB_FUZZ_CHECK(SameSamples(Src.LoadSegment(0, -1), All.data(), All.size()));
  const int64_t Total = Src.TotalSamples();
  for (size_t K = 0; K + 2 < Size && K < 24; K += 3) {
    const int64_t Start = Total ? static_cast<int64_t>(Data[K] | Data[K + 1] << 8) % (Total + 2) - 1 : 0;
    const int32_t Count = Data[K + 2] * 37;
    const int64_t From = Start < 0 ? 0 : Start;
    const int64_t Want = std::max<int64_t>(0, std::min<int64_t>(Count, Total - From));
    const TComplexArray S = Src.LoadSegment(Start, Count);
    ZB_FUZZ_CHECK(SameSamples(S, All.data() + (Want ? From : 0), static_cast<size_t>(Want)));
  }
  ZB_FUZZ_CHECK(Src.LoadSegment(INT64_MAX - 1, INT32_MAX).empty());
}

// Format detection and segment reads. Byte 0 picks the extension (bits 0-2, and bit 5 for the
// second table) and the sidecar hint (bits 3-4).
inline void Source(const uint8_t *Data, size_t Size) {
  if (Size < 1)
    return;
  static const char *Exts[16] = {".cs8", ".cs16", ".cf32",   ".sdriq", ".iq",  ".raw", "",       ".CF32",
                                 ".vrt", ".cu8",  ".vita49", ".sc16",  ".wav", ".c16", ".vrt49", ".vita"};
  static const char *Hints[4] = {"", "sda-wav", "sdrangel", "hackrf"};
  const std::string Path = TempPath(std::string("rec") + Exts[(Data[0] & 7) | (Data[0] >> 2 & 8)]);
  WriteFile(Path, Data + 1, Size - 1);
  const TIQSource Src(Path, Hints[(Data[0] >> 3) & 3]);
  const TIQFormatInfo &I = Src.GetFormatInfo();
  ZB_FUZZ_CHECK(!I.HasDetectedSampleRate || IsUsableSampleRate(I.DetectedSampleRate) || I.Kind == iqkSdrIq ||
                I.Kind == iqkWav);
  if (I.Kind == iqkVita49 || I.Kind == iqkWav) {
    TComplexArray All;
    double Rate = 0;
    bool Has = false;
    if (I.Kind == iqkVita49)
      DecodeVita49(Path, All, Rate, Has);
    else
      DecodeWav(Path, All, Rate, Has);
    CheckSegments(Src, All, Data, Size);
  } else {
    const TComplexArray S = Src.LoadSegment(0, 4096);
    ZB_FUZZ_CHECK(static_cast<int64_t>(S.size()) == std::min<int64_t>(4096, Src.TotalSamples()));
    ZB_FUZZ_CHECK(Src.LoadSegment(INT64_MAX - 1, INT32_MAX).empty());
  }
}

// The VITA-49 probes, the walk and the decoders, on the bytes as a file.
inline void Vita49(const uint8_t *Data, size_t Size) {
  const TByteArray Head(Data, Data + std::min<size_t>(Size, 4096));
  const int32_t HeadLen = static_cast<int32_t>(Head.size());
  (void)V49LooksLikeVRT(Head, HeadLen, static_cast<int64_t>(Size));
  const TIQFormatInfo Info = VitaInfo(Head, HeadLen);
  ZB_FUZZ_CHECK(!Info.HasDetectedSampleRate || IsUsableSampleRate(Info.DetectedSampleRate));
  const std::string Path = TempPath("v.iq");
  WriteFile(Path, Data, Size);
  TComplexArray All;
  double Rate = 0;
  bool Has = false, Big = true;
  DecodeVita49(Path, All, Rate, Has, &Big);
  const TV49Index Index = BuildVita49Index(Path);
  ZB_FUZZ_CHECK(Index.Big == Big);
  ZB_FUZZ_CHECK(Index.HasSampleRate == Has && Index.SampleRate == Rate);
  ZB_FUZZ_CHECK(Index.TotalSamples == static_cast<int64_t>(All.size()));
  ZB_FUZZ_CHECK(SameSamples(ReadVita49Segment(Path, Index, 0, Index.TotalSamples), All.data(), All.size()));
  const TIQSource Src(Path, "sda-wav");
  CheckSegments(Src, All, Data, Size);
}

// The WAV chunk walk, the layout and the decoders.
inline void Wav(const uint8_t *Data, size_t Size) {
  const std::string Path = TempPath("w.iq");
  WriteFile(Path, Data, Size);
  TComplexArray All;
  double Rate = 0;
  bool Has = false;
  DecodeWav(Path, All, Rate, Has);
  const TWavLayout L = ReadWavLayout(Path);
  ZB_FUZZ_CHECK(L.HasSampleRate == Has && L.SampleRate == Rate);
  ZB_FUZZ_CHECK(L.Decodable ? L.Refusal.empty() : (!L.Refusal.empty() && All.empty()));
  ZB_FUZZ_CHECK(SameSamples(ReadWavSegment(Path, L, 0, L.NFrames), All.data(), All.size()));
  if (Size >= 12 && std::memcmp(Data, "RIFF", 4) == 0 && std::memcmp(Data + 8, "WAVE", 4) == 0) {
    const TIQSource Src(Path, "");
    CheckSegments(Src, All, Data, Size);
  }
}

// The sidecar parser and its helpers.
inline void Sidecar(const uint8_t *Data, size_t Size) {
  const std::string Txt = TempPath("s.txt");
  WriteFile(Txt, Data, Size);
  const std::string Rec = TempPath("s.iq");
  const TIQMetadata M = LoadMetadata(Rec);
  ZB_FUZZ_CHECK(M.Found);
  ZB_FUZZ_CHECK(M.FormatHint == ReadFormatHint(Rec));
  ZB_FUZZ_CHECK(M.SignalCount == static_cast<int32_t>(M.Signals.size()) &&
                M.SignalCount <= SIDECAR_MAX_SIGNALS);
  ZB_FUZZ_CHECK(!M.HasSampleRate || IsUsableSampleRate(M.SampleRateHz));
  const std::string S(reinterpret_cast<const char *>(Data), std::min<size_t>(Size, 512));
  (void)ParseFloat(S);
  (void)ExtractIndex(S);
  (void)ExtractToken(S, "a=");
  (void)FindDoubleSpace(S, static_cast<int32_t>(Size % 7));
  (void)ExtractBetween(S, static_cast<int32_t>(Size % 5), static_cast<int32_t>(Size % 11));
}

// JSON metadata of a recording: read through either file name, with the same result; broken
// text leaves nothing behind; the bounds hold.
inline void SigMF(const uint8_t *Data, size_t Size) {
  const std::string Meta = TempPath("j.sigmf-meta");
  WriteFile(Meta, Data, Size);
  std::remove(TempPath("j.txt").c_str());
  const TIQMetadata M = LoadMetadata(TempPath("j.sigmf-data"));
  const TIQMetadata Again = LoadMetadata(Meta);
  ZB_FUZZ_CHECK(M.Found == Again.Found && M.SignalCount == Again.SignalCount &&
                M.FormatHint == Again.FormatHint);
  ZB_FUZZ_CHECK(M.FormatHint == ReadFormatHint(Meta));
  ZB_FUZZ_CHECK(M.SignalCount == static_cast<int32_t>(M.Signals.size()) &&
                M.SignalCount <= SIDECAR_MAX_SIGNALS);
  ZB_FUZZ_CHECK(!M.HasSampleRate || IsUsableSampleRate(M.SampleRateHz));
  ZB_FUZZ_CHECK(M.Found ||
                (M.Signals.empty() && M.FormatHint.empty() && !M.HasSampleRate && !M.HasCenterFreq));
  for (const TSignalInfo &S : M.Signals)
    ZB_FUZZ_CHECK(S.Name.size() <= SIDECAR_MAX_LINE && S.Comment.size() <= SIDECAR_MAX_LINE);
  // Without a byte-order mark, a valid object is exactly what is read.
  const std::string Text(reinterpret_cast<const char *>(Data), Size);
  if (Text.rfind("\xEF\xBB\xBF", 0) != 0) {
    const size_t First = Text.find_first_not_of(" \t\r\n");
    ZB_FUZZ_CHECK(M.Found == (IsValidJson(Text) && First != std::string::npos && Text[First] == '{'));
  }
}

// The one walker of the CIF0 context fields: every field it finds lies inside the packet,
// after CIF0 and the enable words, in falling bit order without overlap; the rate and RF
// readers read where it points. Byte 0 picks the byte order (bit 0) and the offset of CIF0 in
// words (bits 1-3).
inline void Cif(const uint8_t *Data, size_t Size) {
  if (Size < 1)
    return;
  const bool Big = (Data[0] & 1) != 0;
  const TByteArray Buf(Data + 1, Data + Size);
  const int64_t N = static_cast<int64_t>(Buf.size());
  const int64_t FieldOff = (Data[0] >> 1 & 7) * 4;
  int64_t Prev = -1;
  for (int Bit = 31; Bit >= 0; --Bit) {
    int64_t Off = -1;
    if (!V49ContextFieldOff(Buf, FieldOff, N, Big, Bit, Off))
      continue;
    ZB_FUZZ_CHECK(V49ContextFieldBytes(Bit) > 0);
    ZB_FUZZ_CHECK(Off >= FieldOff + 4 && Off + V49ContextFieldBytes(Bit) <= N && Off >= Prev);
    Prev = Off + V49ContextFieldBytes(Bit);
  }
  double Rate = 0, Rf = 0;
  int64_t RateOff = -1;
  const bool HasRate = V49ContextSampleRate(Buf, FieldOff, N, Big, Rate);
  ZB_FUZZ_CHECK(!HasRate ||
                (IsUsableSampleRate(Rate) && V49ContextFieldOff(Buf, FieldOff, N, Big, 21, RateOff)));
  if (HasRate)
    ZB_FUZZ_CHECK(Rate == static_cast<double>(V49I64(Buf, RateOff, Big)) * 9.5367431640625e-07);
  ZB_FUZZ_CHECK(!V49ContextRfFreq(Buf, FieldOff, N, Big, Rf) || (std::isfinite(Rf) && Rf > 0));
  TV49PayloadFormat F;
  if (V49ContextPayloadFormat(Buf, FieldOff, N, Big, F))
    ZB_FUZZ_CHECK((F.ItemBits == 8 || F.ItemBits == 16) == F.Why.empty());
}

// The preview painter on spectra made from the bytes (any float, rows of any length), with a
// guard band around the image that must stay untouched; and, for inputs with the top bit of
// byte 0 set, the whole preview of the rest as a recording.
inline void Thumbnail(const uint8_t *Data, size_t Size) {
  if (Size < 3)
    return;
  const int32_t W = 1 + Data[1] % 200, H = 1 + Data[2] % 120;
  if (Data[0] & 0x80) {
    const std::string Path = TempPath("t.cs16");
    WriteFile(Path, Data + 3, Size - 3);
    std::vector<uint8_t> Pixels;
    std::string Why;
    const bool Made = GenerateThumbnailPixels(Path, W + 15, H + 15, Pixels, &Why);
    ZB_FUZZ_CHECK(Made ? Pixels.size() == static_cast<size_t>(ThumbnailStride(W + 15) * (H + 15))
                       : !Why.empty());
    return;
  }
  TThumbnailSpectra S;
  size_t P = 3;
  auto NextFloat = [&]() {
    float F = 0;
    if (P + 4 <= Size) {
      std::memcpy(&F, Data + P, 4);
      P += 4;
    }
    return F;
  };
  const size_t Levels = (Data[0] & 0x3F);
  for (size_t K = 0; K < Levels; ++K)
    S.PsdDb.push_back(NextFloat());
  while (P < Size && S.Rows.size() < 64) {
    TSingleArray Row(Data[P++] % 40);
    for (float &V : Row)
      V = NextFloat();
    S.Rows.push_back(std::move(Row));
  }
  S.RowCount = static_cast<int32_t>(S.Rows.size()) - (Data[0] & 0x40 ? 1 : 0);
  const size_t Guard = 64, Bytes = static_cast<size_t>(ThumbnailStride(W) * H);
  std::vector<uint8_t> Buf(Bytes + 2 * Guard, 0xA5);
  PaintThumbnail(S, W, H, Buf.data() + Guard);
  for (size_t K = 0; K < Guard; ++K)
    ZB_FUZZ_CHECK(Buf[K] == 0xA5 && Buf[Guard + Bytes + K] == 0xA5);
}

} // namespace zbfuzz
