// Byte writers for the recording formats iqgen produces besides its demo set: raw sample types,
// .sdriq with its checksummed 32-byte header, WAV in 8/16/24/32 bits (plain, extensible, RF64,
// with an auxi chunk) and VITA-49 streams with a payload format field. Header-only, so that
// the round-trip tests write exactly what iqgen writes.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace iqw {

using TBytes = std::vector<uint8_t>;

struct TCplx {
  double Re = 0, Im = 0;
};

inline void Put16(TBytes &B, uint32_t V, bool Big = false) {
  for (int I = 0; I < 2; ++I)
    B.push_back(uint8_t(V >> (Big ? 8 - 8 * I : 8 * I)));
}
inline void Put32(TBytes &B, uint32_t V, bool Big = false) {
  for (int I = 0; I < 4; ++I)
    B.push_back(uint8_t(V >> (Big ? 24 - 8 * I : 8 * I)));
}
inline void Put64(TBytes &B, uint64_t V, bool Big = false) {
  for (int I = 0; I < 8; ++I)
    B.push_back(uint8_t(V >> (Big ? 56 - 8 * I : 8 * I)));
}

// Nearest code of V at full scale FullScale (2^(bits-1) - 1), clipped to the code range.
inline int32_t Quantise(double V, double FullScale) {
  const double Q = std::nearbyint(V * FullScale);
  return static_cast<int32_t>(std::clamp(Q, -FullScale - 1, FullScale));
}

inline uint32_t Crc32(const uint8_t *P, size_t N) {
  uint32_t C = 0xFFFFFFFFu;
  for (size_t I = 0; I < N; ++I) {
    C ^= P[I];
    for (int K = 0; K < 8; ++K)
      C = (C >> 1) ^ (0xEDB88320u & (0u - (C & 1u)));
  }
  return ~C;
}

// Raw sample types, named by their SigMF data type.
enum class TRaw { ci8, cu8, ci16_le, ci16_be, cu16_le, cu16_be, ci32_le, ci32_be, cf32_le, cf32_be };

inline const char *RawName(TRaw T) {
  static const char *N[] = {"ci8",     "cu8",     "ci16_le", "ci16_be", "cu16_le",
                            "cu16_be", "ci32_le", "ci32_be", "cf32_le", "cf32_be"};
  return N[static_cast<int>(T)];
}

// One component. Unsigned codes are the signed code shifted by half the range, so zero lies
// between the two middle codes.
inline void PutComponent(TBytes &B, double V, TRaw T) {
  switch (T) {
  case TRaw::ci8:
    B.push_back(static_cast<uint8_t>(Quantise(V, 127)));
    break;
  case TRaw::cu8:
    B.push_back(static_cast<uint8_t>(Quantise(V, 127) + 128));
    break;
  case TRaw::ci16_le:
  case TRaw::ci16_be:
    Put16(B, static_cast<uint16_t>(Quantise(V, 32767)), T == TRaw::ci16_be);
    break;
  case TRaw::cu16_le:
  case TRaw::cu16_be:
    Put16(B, static_cast<uint16_t>(Quantise(V, 32767) + 32768), T == TRaw::cu16_be);
    break;
  case TRaw::ci32_le:
  case TRaw::ci32_be:
    Put32(B,
          static_cast<uint32_t>(static_cast<int64_t>(
              std::clamp(std::nearbyint(V * 2147483647.0), -2147483648.0, 2147483647.0))),
          T == TRaw::ci32_be);
    break;
  case TRaw::cf32_le:
  case TRaw::cf32_be: {
    const float F = static_cast<float>(V);
    uint32_t U;
    std::memcpy(&U, &F, 4);
    Put32(B, U, T == TRaw::cf32_be);
    break;
  }
  }
}

inline TBytes RawBytes(const std::vector<TCplx> &X, TRaw T) {
  TBytes B;
  for (const TCplx &C : X) {
    PutComponent(B, C.Re, T);
    PutComponent(B, C.Im, T);
  }
  return B;
}

// .sdriq: rate, centre, start time (ms), sample size, filler, CRC-32 of the 28 bytes before
// it; then int16 pairs (Bits 16) or int32 pairs holding 24-bit values (Bits 24).
inline TBytes SdrIqBytes(const std::vector<TCplx> &X, uint32_t Rate, uint64_t Center, uint32_t Bits) {
  TBytes B;
  Put32(B, Rate);
  Put64(B, Center);
  Put64(B, 1765000000000ULL);
  Put32(B, Bits);
  Put32(B, 0);
  Put32(B, Crc32(B.data(), B.size()));
  for (const TCplx &C : X)
    for (double V : {C.Re, C.Im}) {
      if (Bits == 24)
        Put32(B, static_cast<uint32_t>(Quantise(V, 8388607)));
      else
        Put16(B, static_cast<uint16_t>(Quantise(V, 32767)));
    }
  return B;
}

struct TWavOptions {
  uint32_t Bits = 16;      // 8 (unsigned), 16, 24, 32 (integer)
  bool Extensible = false; // WAVE_FORMAT_EXTENSIBLE; with Bits 24: 24 valid bits in 32-bit containers
  bool Rf64 = false;       // RF64 header, ds64 chunk, 0xFFFFFFFF sizes
  uint32_t AuxiCenter = 0; // non-zero: an auxi chunk with this centre frequency
};

// A 2-channel WAV file: I left, Q right.
inline TBytes WavBytes(const std::vector<TCplx> &X, uint32_t Rate, const TWavOptions &O) {
  const uint32_t Container = O.Extensible && O.Bits == 24 ? 32 : O.Bits;
  TBytes Data;
  for (const TCplx &C : X)
    for (double V : {C.Re, C.Im}) {
      switch (O.Bits) {
      case 8:
        Data.push_back(static_cast<uint8_t>(Quantise(V, 127) + 128));
        break;
      case 16:
        Put16(Data, static_cast<uint16_t>(Quantise(V, 32767)));
        break;
      case 24: {
        const uint32_t Q = static_cast<uint32_t>(Quantise(V, 8388607));
        if (Container == 32)
          Put32(Data, Q << 8); // valid bits in the top of the container
        else
          for (int K = 0; K < 3; ++K)
            Data.push_back(uint8_t(Q >> (8 * K)));
        break;
      }
      default:
        Put32(Data, static_cast<uint32_t>(Quantise(V, 2147483647.0)));
        break;
      }
    }
  TBytes Fmt;
  Put16(Fmt, O.Extensible ? 0xFFFE : 1);
  Put16(Fmt, 2);
  Put32(Fmt, Rate);
  Put32(Fmt, Rate * 2 * Container / 8);
  Put16(Fmt, 2 * Container / 8);
  Put16(Fmt, Container);
  if (O.Extensible) {
    Put16(Fmt, 22);
    Put16(Fmt, O.Bits);
    Put32(Fmt, 3);
    Put16(Fmt, 1); // PCM sub-format GUID
    Fmt.insert(Fmt.end(),
               {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
  }
  auto Chunk = [](TBytes &Out, const char *Id, const TBytes &Body, uint32_t Size) {
    Out.insert(Out.end(), Id, Id + 4);
    Put32(Out, Size);
    Out.insert(Out.end(), Body.begin(), Body.end());
    if (Body.size() & 1)
      Out.push_back(0);
  };
  TBytes Body{'W', 'A', 'V', 'E'};
  if (O.Rf64) {
    TBytes Ds64;
    Put64(Ds64, 0); // riff size, patched below
    Put64(Ds64, Data.size());
    Put64(Ds64, X.size());
    Put32(Ds64, 0);
    Chunk(Body, "ds64", Ds64, static_cast<uint32_t>(Ds64.size()));
  }
  Chunk(Body, "fmt ", Fmt, static_cast<uint32_t>(Fmt.size()));
  if (O.AuxiCenter) {
    TBytes Auxi(32, 0); // start and stop time left empty
    Put32(Auxi, O.AuxiCenter);
    Put32(Auxi, Rate);
    Put32(Auxi, 0);
    Put32(Auxi, Rate);
    Put32(Auxi, 0);
    Chunk(Body, "auxi", Auxi, static_cast<uint32_t>(Auxi.size()));
  }
  Chunk(Body, "data", Data, O.Rf64 ? 0xFFFFFFFFu : static_cast<uint32_t>(Data.size()));
  TBytes B(O.Rf64 ? TBytes{'R', 'F', '6', '4'} : TBytes{'R', 'I', 'F', 'F'});
  Put32(B, O.Rf64 ? 0xFFFFFFFFu : static_cast<uint32_t>(Body.size()));
  B.insert(B.end(), Body.begin(), Body.end());
  if (O.Rf64) {
    TBytes RiffSize;
    Put64(RiffSize, B.size() - 8);
    std::copy(RiffSize.begin(), RiffSize.end(), B.begin() + 20); // ds64 body starts at 20
  }
  return B;
}

struct TVitaOptions {
  bool Big = true;
  uint32_t ItemBits = 16;    // 8 or 16: signed fixed-point complex items
  bool PayloadFormat = true; // a payload format field in the context packet
  size_t SamplesPerPacket = 1000;
  bool Context = true; // a context packet first
  // A command packet after every this many data packets (0: none), as a controller that
  // retunes the receiver while it records writes into the stream.
  size_t CommandEvery = 0;
};

// A VITA-49 stream: one context packet (RF reference frequency, sample rate and, if asked, the
// payload format), then data packets with stream id and a trailer.
inline TBytes VitaBytes(const std::vector<TCplx> &X, double Rate, double Center, const TVitaOptions &O) {
  TBytes B;
  auto Fixed20 = [](double V) { return static_cast<uint64_t>(std::llround(V * 1048576.0)); };
  if (O.Context) {
    const uint32_t Words = 2 + 1 + 2 + 2 + (O.PayloadFormat ? 2 : 0);
    Put32(B, 4u << 28 | Words, O.Big);
    Put32(B, 0x00000A01, O.Big);
    Put32(B, 1u << 27 | 1u << 21 | (O.PayloadFormat ? 1u << 15 : 0u), O.Big);
    Put64(B, Fixed20(Center), O.Big);
    Put64(B, Fixed20(Rate), O.Big);
    if (O.PayloadFormat) {
      // Processing-efficient, complex cartesian, signed fixed point, item and field size.
      const uint32_t S = O.ItemBits - 1;
      Put32(B, 1u << 29 | S << 6 | S, O.Big);
      Put32(B, 0, O.Big); // repeat count and vector size, both 1
    }
  }
  const size_t BytesPerSample = O.ItemBits / 4;
  uint32_t Count = 0; // packet count of the data packets, modulo 16
  for (size_t I = 0; I < X.size(); I += O.SamplesPerPacket) {
    const size_t N = std::min(O.SamplesPerPacket, X.size() - I);
    TBytes Payload;
    for (size_t K = I; K < I + N; ++K) {
      if (O.ItemBits == 8) {
        Payload.push_back(static_cast<uint8_t>(Quantise(X[K].Re, 127)));
        Payload.push_back(static_cast<uint8_t>(Quantise(X[K].Im, 127)));
      } else {
        Put16(Payload, static_cast<uint16_t>(Quantise(X[K].Re, 32767)), O.Big);
        Put16(Payload, static_cast<uint16_t>(Quantise(X[K].Im, 32767)), O.Big);
      }
    }
    Payload.resize((N * BytesPerSample + 3) / 4 * 4, 0); // whole words
    Put32(B, 1u << 28 | 1u << 26 | (Count++ & 15u) << 16 | static_cast<uint32_t>(2 + Payload.size() / 4 + 1),
          O.Big);
    Put32(B, 0x00000A01, O.Big);
    B.insert(B.end(), Payload.begin(), Payload.end());
    Put32(B, 0x40000100u, O.Big);
    if (O.CommandEvery && Count % O.CommandEvery == 0) {
      // Stream id, CAM, message id, CIF0 with an RF reference frequency to tune to. Readers
      // must not take this frequency for the recording's.
      Put32(B, 6u << 28 | (Count / O.CommandEvery & 15u) << 16 | 7u, O.Big);
      Put32(B, 0x00000A01, O.Big);
      Put32(B, 0x80000000u, O.Big);
      Put32(B, Count, O.Big);
      Put32(B, 1u << 27, O.Big);
      Put64(B, Fixed20(Center + 1e6 * Count), O.Big);
    }
  }
  return B;
}

} // namespace iqw
