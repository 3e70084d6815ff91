// Raw encodings: counts and segment reads, one open/seek/read/close per call.
#include "formats/uIQData.h"

#include "base/uFileStream.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

std::string LowerExt(const std::string &FileName) {
  const size_t Sep = FileName.find_last_of("/\\:");
  const size_t NameStart = Sep == std::string::npos ? 0 : Sep + 1;
  const size_t Dot = FileName.find_last_of('.');
  if (Dot == std::string::npos || Dot < NameStart)
    return {};
  std::string E = FileName.substr(Dot);
  for (char &C : E)
    if (C >= 'A' && C <= 'Z')
      C = static_cast<char>(C - 'A' + 'a');
  return E;
}

// Extensions the raw-type table knows. The first three keep the names they always had.
constexpr TRawExt RAW_EXTS[] = {
    {".cs8", iqfInt8, "HackRF/raw (int8 interleaved)"},
    {".cs16", iqfInt16, "HackRF/raw (int16 interleaved, .cs16)"},
    {".cf32", iqfFloat32, "HackRF/raw (float32 interleaved, .cf32)"},
    {".cu8", iqfUInt8, "rtl-sdr (uint8 interleaved, .cu8)"},
    {".u8", iqfUInt8, "rtl-sdr (uint8 interleaved, .u8)"},
    {".complex16u", iqfUInt8, "raw (uint8 interleaved, .complex16u)"},
    {".s8", iqfInt8, "raw (int8 interleaved, .s8)"},
    {".c8", iqfInt8, "raw (int8 interleaved, .c8)"},
    {".complex16s", iqfInt8, "raw (int8 interleaved, .complex16s)"},
    {".c16", iqfInt16, "raw (int16 interleaved, .c16)"},
    {".sc16", iqfInt16, "raw (int16 interleaved, .sc16)"},
    {".s16", iqfInt16, "raw (int16 interleaved, .s16)"},
    {".complex32s", iqfInt16, "raw (int16 interleaved, .complex32s)"},
    {".fc32", iqfFloat32, "raw (float32 interleaved, .fc32)"},
    {".cfile", iqfFloat32, "raw (float32 interleaved, .cfile)"},
    {".complex", iqfFloat32, "raw (float32 interleaved, .complex)"},
};

uint32_t U32Le(const uint8_t *P) {
  return uint32_t(P[0]) | uint32_t(P[1]) << 8 | uint32_t(P[2]) << 16 | uint32_t(P[3]) << 24;
}
uint32_t U32Be(const uint8_t *P) {
  return uint32_t(P[3]) | uint32_t(P[2]) << 8 | uint32_t(P[1]) << 16 | uint32_t(P[0]) << 24;
}

// One component of the encodings without a fast path below.
float Component(TIQFormat Fmt, const uint8_t *P) {
  switch (Fmt) {
  case iqfInt16BE:
    return static_cast<float>(static_cast<int16_t>(static_cast<uint16_t>(P[0] << 8 | P[1]))) *
           3.0517578125e-05f;
  case iqfUInt16:
    return static_cast<float>(((P[0] | P[1] << 8) - 32767.5) / 32768.0);
  case iqfUInt16BE:
    return static_cast<float>(((P[0] << 8 | P[1]) - 32767.5) / 32768.0);
  case iqfInt32:
    return static_cast<float>(static_cast<int32_t>(U32Le(P)) / 2147483648.0);
  case iqfInt32BE:
    return static_cast<float>(static_cast<int32_t>(U32Be(P)) / 2147483648.0);
  case iqfInt24In32:
    return static_cast<float>(static_cast<int32_t>(U32Le(P)) / 8388608.0);
  case iqfFloat32BE: {
    const uint32_t U = U32Be(P);
    float F;
    std::memcpy(&F, &U, 4);
    return F;
  }
  default:
    return 0.0f;
  }
}

int64_t SamplesIn(int64_t FileSize, int64_t HeaderBytes, int32_t BPS) {
  if (BPS <= 0)
    return 0;
  int64_t DataSize = FileSize - HeaderBytes;
  if (DataSize < 0)
    DataSize = 0;
  return DataSize / BPS;
}

} // namespace

std::string LowerFileExt(const std::string &FileName) {
  return LowerExt(FileName);
}

const TRawExt *FindRawExt(const std::string &FileName) {
  const std::string E = LowerExt(FileName);
  for (const TRawExt &R : RAW_EXTS)
    if (E == R.Ext)
      return &R;
  return nullptr;
}

TIQFormat DetectFormat(const std::string &FileName) {
  const TRawExt *R = FindRawExt(FileName);
  return R ? R->Fmt : iqfInt8;
}

int32_t BytesPerSample(TIQFormat Fmt) {
  switch (Fmt) {
  case iqfInt8:
    return 2;
  case iqfInt16:
    return 4;
  case iqfFloat32:
    return 8;
  case iqfUInt8:
    return 2;
  case iqfInt16BE:
  case iqfUInt16:
  case iqfUInt16BE:
    return 4;
  case iqfInt32:
  case iqfInt32BE:
  case iqfFloat32BE:
  case iqfInt24In32:
    return 8;
  case iqfNone:
    return 0;
  }
  return 2;
}

int64_t GetTotalSamples(const std::string &FileName, TIQFormat Fmt, int64_t HeaderBytes) {
  if (!FileExists(FileName))
    return 0;
  TFCloseFile F(FileName);
  return SamplesIn(F.Size(), HeaderBytes, BytesPerSample(Fmt));
}

namespace {

// 8-bit values as 16-bit ones: signed bytes as they are (scale 2^-7), unsigned ones, whose zero
// is 127.5, as 2x - 255 (scale 2^-8). Both then scale exactly to the formula's value.
int16_t Widened(bool Signed, uint8_t X) {
  return static_cast<int16_t>(Signed ? static_cast<int8_t>(X) : 2 * X - 255);
}

#if defined(__SSE2__)
// Widened for sixteen values at once (the compiler's own widening of byte vectors goes one value
// at a time).
inline void Widened16(bool Signed, const uint8_t *Buf, __m128i &H0, __m128i &H1) {
  const __m128i Z = _mm_setzero_si128();
  const __m128i B = _mm_loadu_si128(reinterpret_cast<const __m128i *>(Buf));
  if (Signed) { // into the high half, then shifted down with its sign
    H0 = _mm_srai_epi16(_mm_unpacklo_epi8(Z, B), 8);
    H1 = _mm_srai_epi16(_mm_unpackhi_epi8(Z, B), 8);
  } else {
    const __m128i Mid = _mm_set1_epi16(255);
    H0 = _mm_sub_epi16(_mm_slli_epi16(_mm_unpacklo_epi8(B, Z), 1), Mid);
    H1 = _mm_sub_epi16(_mm_slli_epi16(_mm_unpackhi_epi8(B, Z), 1), Mid);
  }
}
#endif

void Widen8Bit(bool Signed, const uint8_t *Buf, size_t Values, int16_t *Out) {
  size_t I = 0;
#if defined(__SSE2__)
  for (; I + 16 <= Values; I += 16) {
    __m128i H0, H1;
    Widened16(Signed, Buf + I, H0, H1);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(Out + I), H0);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(Out + I + 8), H1);
  }
#endif
  for (; I < Values; ++I)
    Out[I] = Widened(Signed, Buf[I]);
}

// Values 8-bit values as floats scaled to about +-1 into Dst. Each result has at most nine
// significant bits, so single precision holds it exactly: the bits of the formula in double
// precision.
void Convert8Bit(bool Signed, const uint8_t *Buf, size_t Values, unsigned char *Dst) {
  const float Scale = Signed ? 0.0078125f : 0.00390625f;
  size_t I = 0;
#if defined(__SSE2__)
  const __m128 S = _mm_set1_ps(Scale);
  for (; I + 16 <= Values; I += 16) {
    __m128i H[2];
    Widened16(Signed, Buf + I, H[0], H[1]);
    for (int K = 0; K < 4; ++K) {
      // To 32 bits: each 16-bit value doubled, then shifted down with its sign.
      const __m128i &V = H[K / 2];
      const __m128i W = _mm_srai_epi32(K % 2 ? _mm_unpackhi_epi16(V, V) : _mm_unpacklo_epi16(V, V), 16);
      _mm_storeu_ps(reinterpret_cast<float *>(Dst + (I + 4 * static_cast<size_t>(K)) * 4),
                    _mm_mul_ps(_mm_cvtepi32_ps(W), S));
    }
  }
#endif
  for (; I < Values; ++I) {
    const float F = static_cast<float>(Widened(Signed, Buf[I])) * Scale;
    std::memcpy(Dst + I * 4, &F, 4);
  }
}

// Len samples of Fmt from Buf, scaled to about +-1.
void ConvertIQ(TIQFormat Fmt, const uint8_t *Buf, size_t Len, TComplexSample *Out) {
  const size_t Bytes = static_cast<size_t>(BytesPerSample(Fmt));
  switch (Fmt) {
  case iqfInt16:
    if constexpr (std::endian::native == std::endian::little) {
      // The bytes are the values already: widened eight at a time (same products as below).
      typedef int16_t V8S __attribute__((vector_size(16)));
      typedef float V8F __attribute__((vector_size(32)));
      const size_t Values = Len * 2, Whole = Values / 8 * 8;
      auto *Dst = reinterpret_cast<unsigned char *>(Out);
      for (size_t I = 0; I < Whole; I += 8) {
        V8S S;
        std::memcpy(&S, Buf + I * 2, sizeof S);
        const V8F F = __builtin_convertvector(S, V8F) * 3.0517578125e-05f;
        std::memcpy(Dst + I * 4, &F, sizeof F);
      }
      for (size_t I = Whole; I < Values; ++I) {
        int16_t V;
        std::memcpy(&V, Buf + I * 2, 2);
        const float F = static_cast<float>(V) * 3.0517578125e-05f;
        std::memcpy(Dst + I * 4, &F, 4);
      }
      break;
    }
    for (size_t I = 0; I < Len; ++I) {
      const uint8_t *P = Buf + I * 4;
      const int16_t Re = static_cast<int16_t>(static_cast<uint16_t>(P[0] | (P[1] << 8)));
      const int16_t Im = static_cast<int16_t>(static_cast<uint16_t>(P[2] | (P[3] << 8)));
      Out[I].Re = static_cast<float>(Re) * 3.0517578125e-05f;
      Out[I].Im = static_cast<float>(Im) * 3.0517578125e-05f;
    }
    break;
  case iqfFloat32:
    for (size_t I = 0; I < Len; ++I) {
      const uint8_t *P = Buf + I * 8;
      const uint32_t A = uint32_t(P[0]) | uint32_t(P[1]) << 8 | uint32_t(P[2]) << 16 | uint32_t(P[3]) << 24;
      const uint32_t B = uint32_t(P[4]) | uint32_t(P[5]) << 8 | uint32_t(P[6]) << 16 | uint32_t(P[7]) << 24;
      std::memcpy(&Out[I].Re, &A, 4);
      std::memcpy(&Out[I].Im, &B, 4);
    }
    break;
  case iqfInt8:
  case iqfUInt8:
    Convert8Bit(Fmt == iqfInt8, Buf, Len * 2, reinterpret_cast<unsigned char *>(Out));
    break;
  default: {
    const size_t Half = Bytes / 2;
    for (size_t I = 0; I < Len; ++I) {
      const uint8_t *P = Buf + I * Bytes;
      Out[I].Re = Component(Fmt, P);
      Out[I].Im = Component(Fmt, P + Half);
    }
    break;
  }
  }
}

// Positions F at StartSample and says how many of at most MaxSamples samples lie there (0:
// nothing). The size is taken now, so a file that has grown since it was opened yields the
// newer samples.
int64_t SeekIQ(TFCloseFile &F, TIQFormat Fmt, int64_t StartSample, int64_t MaxSamples, int64_t HeaderBytes) {
  const int32_t BPS = BytesPerSample(Fmt);
  if (BPS <= 0)
    return 0;
  if (StartSample < 0)
    StartSample = 0;
  const int64_t TotalSamp = SamplesIn(F.Size(), HeaderBytes, BPS);
  if (StartSample >= TotalSamp)
    return 0;
  const int64_t Count = std::min(MaxSamples, TotalSamp - StartSample);
  if (Count <= 0)
    return 0;
  F.Seek((HeaderBytes > 0 ? HeaderBytes : 0) + static_cast<int64_t>(BPS) * StartSample);
  return Count;
}

// Read and converted piece by piece through the small buffer Buf: a buffer of the whole request
// would be a second copy of it (tens of MiB at high rates), and each piece is converted while
// it is still in the cache. Grow(Done, Len) gives where the piece's samples go.
constexpr size_t IQ_PIECE = 65536;
template <class TGrow>
void ReadIQPieces(TFCloseFile &F, TIQFormat Fmt, size_t N, std::vector<uint8_t> &Buf, TGrow Grow) {
  const size_t Bytes = static_cast<size_t>(BytesPerSample(Fmt));
  Buf.resize(std::min(N, IQ_PIECE) * Bytes);
  for (size_t Done = 0; Done < N;) {
    const size_t Len = std::min(N - Done, IQ_PIECE);
    F.ReadExact(Buf.data(), Len * Bytes);
    ConvertIQ(Fmt, Buf.data(), Len, Grow(Done, Len));
    Done += Len;
  }
}

} // namespace

TComplexArray LoadIQSegment(const std::string &FileName, TIQFormat Fmt, int64_t StartSample,
                            int32_t MaxSamples, int64_t HeaderBytes) {
  TComplexArray Result;
  if (!FileExists(FileName) || BytesPerSample(Fmt) <= 0)
    return Result;
  TFCloseFile F(FileName);
  const int64_t Count = SeekIQ(F, Fmt, StartSample, MaxSamples, HeaderBytes);
  if (Count <= 0)
    return Result;
  // On the 32-bit build a very large request would overflow the buffer size.
  if (static_cast<uint64_t>(Count) > static_cast<uint64_t>(SIZE_MAX / 16))
    throw std::runtime_error("LoadIQSegment: request of " + std::to_string(Count) + " samples is too large");
  Result.reserve(static_cast<size_t>(Count));
  std::vector<uint8_t> Buf;
  // The samples are grown in step with the reads, so each piece is written while in the cache.
  ReadIQPieces(F, Fmt, static_cast<size_t>(Count), Buf, [&](size_t Done, size_t Len) {
    Result.resize(Done + Len);
    return Result.data() + Done;
  });
  return Result;
}

size_t ReadIQSegment(const std::string &FileName, TIQFormat Fmt, int64_t StartSample,
                     std::span<TComplexSample> Out, int64_t HeaderBytes) {
  if (!FileExists(FileName) || BytesPerSample(Fmt) <= 0)
    return 0;
  return TIQRawReader(FileName, Fmt, HeaderBytes).Read(StartSample, Out);
}

TIQRawReader::TIQRawReader(const std::string &FileName, TIQFormat Fmt, int64_t HeaderBytes)
    : FFile(FileName), FFmt(Fmt), FHeaderBytes(HeaderBytes) {}

size_t TIQRawReader::Read(int64_t StartSample, std::span<TComplexSample> Out) {
  const size_t Count = static_cast<size_t>(
      SeekIQ(FFile, FFmt, StartSample, static_cast<int64_t>(std::min<uint64_t>(Out.size(), INT64_MAX)),
             FHeaderBytes));
  if (FFmt == iqfFloat32 && std::endian::native == std::endian::little)
    FFile.ReadExact(Out.data(), Count * sizeof(TComplexSample)); // the samples as stored: no second copy
  else
    ReadIQPieces(FFile, FFmt, Count, FBuf, [&](size_t Done, size_t) { return Out.data() + Done; });
  return Count;
}

float Int16Scale(TIQFormat Fmt) {
  switch (Fmt) {
  case iqfInt16:
    return std::endian::native == std::endian::little ? 3.0517578125e-05f : 0.0f;
  case iqfInt8:
    return 0.0078125f;
  case iqfUInt8:
    return 0.00390625f;
  default:
    return 0.0f;
  }
}

size_t TIQRawReader::ReadInt16(int64_t StartSample, std::span<int16_t> Out) {
  if (Int16Scale(FFmt) <= 0)
    return 0;
  const size_t Count = static_cast<size_t>(
      SeekIQ(FFile, FFmt, StartSample, static_cast<int64_t>(Out.size() / 2), FHeaderBytes));
  if (FFmt == iqfInt16) {
    FFile.ReadExact(Out.data(), Count * 4);
  } else {
    FBuf.resize(Count * 2);
    FFile.ReadExact(FBuf.data(), Count * 2);
    Widen8Bit(FFmt == iqfInt8, FBuf.data(), Count * 2, Out.data());
  }
  return Count;
}
