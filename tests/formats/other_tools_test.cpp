// Recordings as other tools write them: raw sample types by extension and by SigMF type,
// .sdriq with its checksummed header, 8/24-bit and RF64 WAV, VITA-49 streams of one or large
// packets and with a payload format field. Files come from iqgen's writers or are built byte
// by byte here; a small decoder written in this file from the formats' documentation checks
// the readers independently.
#include "formats/fmt_fixtures.h"

#include "../../tools/iqgen/iq_writers.h"
#include "formats/uIQFormats.h"
#include "metadata/uMetadata.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <random>

namespace {

constexpr int32_t ALL = std::numeric_limits<int32_t>::max();

TIQSource Open(const std::string &Path, const std::string &Hint = "") {
  return TIQSource(Path, Hint);
}

std::vector<iqw::TCplx> TestSignal(size_t N, double Amp = 0.9) {
  std::vector<iqw::TCplx> X(N);
  for (size_t K = 0; K < N; ++K)
    X[K] = {Amp * std::cos(0.01 * static_cast<double>(K * K % 7919)),
            Amp * std::sin(0.37 * static_cast<double>(K))};
  // The extremes of every code range, so that clipping and sign handling show.
  if (N >= 3) {
    X[0] = {1.0, -1.0};
    X[1] = {-1.0, 1.0};
    X[2] = {0.0, 0.0};
  }
  return X;
}

// Whole read, then random segments against the whole read.
void ExpectSegmentsAgree(const TIQSource &S, const std::string &What) {
  const TComplexArray All = S.LoadSegment(0, ALL);
  ASSERT_EQ(static_cast<int64_t>(All.size()), S.TotalSamples()) << What;
  std::mt19937 Rng(7);
  const int64_t Total = S.TotalSamples();
  for (int R = 0; R < 30; ++R) {
    const int64_t Start = static_cast<int64_t>(Rng() % static_cast<uint32_t>(Total + 2));
    const int32_t Count = static_cast<int32_t>(Rng() % 3000);
    const TComplexArray Seg = S.LoadSegment(Start, Count);
    ASSERT_EQ(static_cast<int64_t>(Seg.size()), std::clamp<int64_t>(Total - Start, 0, Count)) << What;
    for (size_t K = 0; K < Seg.size(); ++K)
      ASSERT_EQ(std::memcmp(&Seg[K], &All[static_cast<size_t>(Start) + K], sizeof Seg[K]), 0)
          << What << " at " << Start + static_cast<int64_t>(K);
  }
}

// ---- An independent reader, written from the formats' documentation --------------------

uint32_t LeU32(const TBytes &B, size_t P) {
  return uint32_t(B[P]) | uint32_t(B[P + 1]) << 8 | uint32_t(B[P + 2]) << 16 | uint32_t(B[P + 3]) << 24;
}
uint32_t BeU32(const TBytes &B, size_t P) {
  return uint32_t(B[P]) << 24 | uint32_t(B[P + 1]) << 16 | uint32_t(B[P + 2]) << 8 | uint32_t(B[P + 3]);
}

struct TRef {
  std::vector<double> I, Q;
  double Rate = 0, Center = 0;
};

// WAV (RIFF or RF64) with PCM of 8 (offset binary), 16, 24 or 32 bits, 2 channels.
TRef RefWav(const TBytes &B) {
  TRef R;
  const bool Rf64 = std::memcmp(B.data(), "RF64", 4) == 0;
  uint64_t Ds64Data = 0;
  unsigned Bits = 0, Container = 0;
  size_t P = 12;
  while (P + 8 <= B.size()) {
    const std::string Id(B.begin() + static_cast<long>(P), B.begin() + static_cast<long>(P) + 4);
    uint64_t Size = LeU32(B, P + 4);
    if (Id == "ds64")
      Ds64Data = LeU32(B, P + 16) | uint64_t(LeU32(B, P + 20)) << 32;
    if (Id == "fmt ") {
      R.Rate = LeU32(B, P + 12);
      Container = B[P + 22] | B[P + 23] << 8;
      Bits = (B[P + 8] | B[P + 9] << 8) == 0xFFFE ? B[P + 26] | B[P + 27] << 8 : Container;
    }
    if (Id == "auxi")
      R.Center = LeU32(B, P + 8 + 32);
    if (Id == "data") {
      if (Rf64 && Size == 0xFFFFFFFFu)
        Size = Ds64Data;
      const size_t Step = Container / 8;
      const size_t End = std::min<size_t>(B.size(), P + 8 + Size);
      for (size_t F = P + 8; F + 2 * Step <= End; F += 2 * Step)
        for (int C = 0; C < 2; ++C) {
          const size_t A = F + static_cast<size_t>(C) * Step;
          int64_t V = 0;
          double Full = 1;
          if (Container == 8) {
            V = int64_t(B[A]) - 128;
            Full = 127;
          } else {
            for (size_t K = 0; K < Step; ++K)
              V |= int64_t(B[A + K]) << (8 * K);
            const int64_t Sign = int64_t(1) << (Container - 1);
            V = (V ^ Sign) - Sign;
            V >>= Container - Bits; // valid bits stand in the top of the container
            Full = static_cast<double>(int64_t(1) << (Bits - 1));
          }
          (C ? R.Q : R.I).push_back(static_cast<double>(V) / Full);
        }
    }
    P += 8 + Size + (Size & 1);
  }
  return R;
}

// .sdriq with the 32-byte header.
TRef RefSdrIq(const TBytes &B) {
  TRef R;
  R.Rate = LeU32(B, 0);
  R.Center = static_cast<double>(LeU32(B, 4) | uint64_t(LeU32(B, 8)) << 32);
  const unsigned Bits = LeU32(B, 20);
  const size_t Step = Bits == 24 ? 4 : 2;
  for (size_t P = 32; P + 2 * Step <= B.size(); P += 2 * Step)
    for (int C = 0; C < 2; ++C) {
      const size_t A = P + static_cast<size_t>(C) * Step;
      const double V = Bits == 24 ? static_cast<int32_t>(LeU32(B, A)) / 8388608.0
                                  : static_cast<int16_t>(B[A] | B[A + 1] << 8) / 32768.0;
      (C ? R.Q : R.I).push_back(V);
    }
  return R;
}

// Big-endian VITA-49: context packets give RF reference frequency, rate and item size; data
// packets (type 1, stream id, trailer) give the samples.
TRef RefVitaBe(const TBytes &B) {
  TRef R;
  unsigned Bits = 16;
  for (size_t P = 0; P + 4 <= B.size();) {
    const uint32_t H = BeU32(B, P);
    const size_t Size = (H & 0xFFFF) * 4, Type = H >> 28;
    if (Type == 4) {
      const uint32_t Cif = BeU32(B, P + 8);
      size_t F = P + 12;
      auto Fixed = [&](size_t At) {
        return static_cast<double>(static_cast<int64_t>(uint64_t(BeU32(B, At)) << 32 | BeU32(B, At + 4))) /
               1048576.0;
      };
      if (Cif & (1u << 27)) {
        R.Center = Fixed(F);
        F += 8;
      }
      if (Cif & (1u << 21)) {
        R.Rate = Fixed(F);
        F += 8;
      }
      if (Cif & (1u << 15))
        Bits = (BeU32(B, F) & 63) + 1;
    } else if (Type == 1) {
      const bool Trailer = (H >> 26) & 1;
      const size_t End = P + Size - (Trailer ? 4 : 0);
      for (size_t A = P + 8; A + Bits / 4 <= End; A += Bits / 4) {
        if (Bits == 8) {
          R.I.push_back(static_cast<int8_t>(B[A]) / 128.0);
          R.Q.push_back(static_cast<int8_t>(B[A + 1]) / 128.0);
        } else {
          R.I.push_back(static_cast<int16_t>(B[A] << 8 | B[A + 1]) / 32768.0);
          R.Q.push_back(static_cast<int16_t>(B[A + 2] << 8 | B[A + 3]) / 32768.0);
        }
      }
    }
    P += Size;
  }
  return R;
}

void ExpectMatchesRef(const TIQSource &S, const TRef &R, const std::string &What) {
  const TComplexArray All = S.LoadSegment(0, ALL);
  ASSERT_EQ(All.size(), R.I.size()) << What;
  for (size_t K = 0; K < All.size(); ++K) {
    ASSERT_EQ(All[K].Re, static_cast<float>(R.I[K])) << What << " sample " << K;
    ASSERT_EQ(All[K].Im, static_cast<float>(R.Q[K])) << What << " sample " << K;
  }
}

} // namespace

// ---- Raw sample types -------------------------------------------------------------------

TEST(OtherTools, RawTypesByExtensionAndHint) {
  TTempDir D;
  const TBytes Bytes = {0x00, 0xFF, 0x80, 0x7F, 0x01, 0x02, 0x03, 0x04};
  struct {
    const char *Name, *Hint;
    TIQKind Kind;
    const char *Display;
    int64_t Total;
    float Re0, Im0; // first sample of Bytes
  } Cases[] = {
      // Unsigned 8-bit, zero at 127.5.
      {"a.cu8", "", iqkRaw, "rtl-sdr (uint8 interleaved, .cu8)", 4, -127.5f / 128, 127.5f / 128},
      {"a.U8", "", iqkRaw, "rtl-sdr (uint8 interleaved, .u8)", 4, -127.5f / 128, 127.5f / 128},
      {"a.complex16u", "", iqkRaw, "raw (uint8 interleaved, .complex16u)", 4, -127.5f / 128, 127.5f / 128},
      {"a.C8", "", iqkInt8, "raw (int8 interleaved, .c8)", 4, 0.0f, -1 / 128.0f},
      {"a.complex16s", "", iqkInt8, "raw (int8 interleaved, .complex16s)", 4, 0.0f, -1 / 128.0f},
      {"a.sc16", "", iqkInt16, "raw (int16 interleaved, .sc16)", 2, -256 / 32768.0f, 0x7F80 / 32768.0f},
      {"a.Complex32s", "", iqkInt16, "raw (int16 interleaved, .complex32s)", 2, -256 / 32768.0f,
       0x7F80 / 32768.0f},
      {"a.cfile", "", iqkFloat32, "raw (float32 interleaved, .cfile)", 1, 0, 0},
      // The extensions that always had a meaning keep it.
      {"a.cs8", "", iqkInt8, IQ_NAME_INT8, 4, 0.0f, -1 / 128.0f},
      {"a.iq", "", iqkInt8, IQ_NAME_INT8, 4, 0.0f, -1 / 128.0f},
      // Hints: gqrx and SigMF types (case and blanks do not matter).
      {"gqrx_x.raw", "gqrx", iqkFloat32, IQ_NAME_GQRX, 1, 0, 0},
      {"s.sigmf-data", " SigMF:CI16_BE ", iqkRaw, "SigMF (ci16_be)", 2, 0x00FF / 32768.0f, -32641 / 32768.0f},
      {"s.cs8", "sigmf:cu16", iqkRaw, "SigMF (cu16)", 2, (0xFF00 - 32767.5f) / 32768,
       (0x7F80 - 32767.5f) / 32768},
      {"s.cs8", "sigmf:cu16_be", iqkRaw, "SigMF (cu16_be)", 2, (0x00FF - 32767.5f) / 32768,
       (0x807F - 32767.5f) / 32768},
      {"s.cs8", "sigmf:ci32_le", iqkRaw, "SigMF (ci32_le)", 1, static_cast<float>(0x7F80FF00 / 2147483648.0),
       static_cast<float>(0x04030201 / 2147483648.0)},
      {"s.cs8", "sigmf:ci32_be", iqkRaw, "SigMF (ci32_be)", 1, static_cast<float>(0x00FF807F / 2147483648.0),
       static_cast<float>(0x01020304 / 2147483648.0)},
      {"s.cs8", "sigmf:ci8", iqkInt8, "SigMF (ci8)", 4, 0.0f, -1 / 128.0f},
      {"s.cs8", "sigmf:cu8", iqkRaw, "SigMF (cu8)", 4, -127.5f / 128, 127.5f / 128},
      // Not I/Q: no samples, and the name says why.
      {"s.cs8", "sigmf:rf32_le", iqkRaw, "SigMF (rf32_le: real-valued samples, no I/Q)", 0, 0, 0},
      {"s.cs8", "sigmf:cf64_le", iqkRaw, "SigMF (cf64_le: unsupported type)", 0, 0, 0},
  };
  for (const auto &C : Cases) {
    const std::string P = D.File(C.Name);
    WriteBytes(P, Bytes);
    const TIQSource S = Open(P, C.Hint);
    const std::string What = std::string(C.Name) + " " + C.Hint;
    EXPECT_EQ(S.GetFormatInfo().Kind, C.Kind) << What;
    EXPECT_EQ(S.GetFormatName(), C.Display) << What;
    ASSERT_EQ(S.TotalSamples(), C.Total) << What;
    const TComplexArray Got = S.LoadSegment(0, 100);
    ASSERT_EQ(static_cast<int64_t>(Got.size()), C.Total) << What;
    if (C.Total > 0 && C.Kind != iqkFloat32) {
      EXPECT_FLOAT_EQ(Got[0].Re, C.Re0) << What;
      EXPECT_FLOAT_EQ(Got[0].Im, C.Im0) << What;
    }
  }
}

TEST(OtherTools, SigMFRoundTripEveryType) {
  TTempDir D;
  const std::vector<iqw::TCplx> X = TestSignal(777);
  using iqw::TRaw;
  for (TRaw T : {TRaw::ci8, TRaw::cu8, TRaw::ci16_le, TRaw::ci16_be, TRaw::cu16_le, TRaw::cu16_be,
                 TRaw::ci32_le, TRaw::ci32_be, TRaw::cf32_le, TRaw::cf32_be}) {
    const std::string P = D.File(std::string("r_") + iqw::RawName(T) + ".sigmf-data");
    WriteBytes(P, iqw::RawBytes(X, T));
    const TIQSource S = Open(P, std::string("sigmf:") + iqw::RawName(T));
    ASSERT_EQ(S.TotalSamples(), 777) << iqw::RawName(T);
    const TComplexArray Got = S.LoadSegment(0, ALL);
    ASSERT_EQ(Got.size(), 777u);
    // Half a code, plus for 8 bits the difference of the writer's scale (127) and the
    // reader's (128) and the unsigned midpoint's half code.
    const double Tol = (T == TRaw::ci8 || T == TRaw::cu8) ? 2.5 / 127 : 1e-4;
    for (size_t K = 0; K < Got.size(); ++K) {
      ASSERT_NEAR(Got[K].Re, X[K].Re, Tol) << iqw::RawName(T) << " " << K;
      ASSERT_NEAR(Got[K].Im, X[K].Im, Tol) << iqw::RawName(T) << " " << K;
    }
    ExpectSegmentsAgree(S, iqw::RawName(T));
  }
}

TEST(OtherTools, SigMFHeaderBytesAndChannels) {
  TTempDir D;
  const std::vector<iqw::TCplx> X = TestSignal(500);
  TBytes B(64, 0x7F); // a header the samples must not include
  const TBytes Samples = iqw::RawBytes(X, iqw::TRaw::ci16_le);
  B.insert(B.end(), Samples.begin(), Samples.end());
  const std::string P = D.File("h.sigmf-data");
  WriteBytes(P, B);
  WriteBytes(D.File("plain.sigmf-data"), Samples);
  const TIQSource Plain = Open(D.File("plain.sigmf-data"), "sigmf:ci16_le");
  const TIQSource S = Open(P, "sigmf:ci16_le,header_bytes=64");
  EXPECT_EQ(S.GetFormatName(), "SigMF (ci16_le)");
  ASSERT_EQ(S.TotalSamples(), 500);
  const TComplexArray Got = S.LoadSegment(0, ALL), Want = Plain.LoadSegment(0, ALL);
  EXPECT_EQ(std::memcmp(Got.data(), Want.data(), Got.size() * sizeof Got[0]), 0);
  ExpectSegmentsAgree(S, "header bytes");

  // Two channels interleaved sample by sample would show as one noisy signal: refused.
  const TIQSource Two = Open(D.File("plain.sigmf-data"), "sigmf:ci16_le,channels=2");
  EXPECT_EQ(Two.TotalSamples(), 0);
  EXPECT_EQ(Two.GetFormatName(), "SigMF (ci16_le: 2 channels interleaved, not decoded)");
  EXPECT_TRUE(Two.LoadSegment(0, 100).empty());
}

// ---- .sdriq -------------------------------------------------------------------------------

TEST(OtherTools, SdrIqHeaderWithChecksum) {
  TTempDir D;
  const std::vector<iqw::TCplx> X = TestSignal(500);
  for (uint32_t Bits : {16u, 24u}) {
    const TBytes B = iqw::SdrIqBytes(X, 2400000, 1090000000ull, Bits);
    const std::string P = D.File("r" + std::to_string(Bits) + ".sdriq");
    WriteBytes(P, B);
    const TIQSource S = Open(P);
    const TIQFormatInfo &I = S.GetFormatInfo();
    EXPECT_EQ(I.Kind, iqkSdrIq);
    EXPECT_EQ(I.Name, Bits == 16 ? IQ_NAME_SDRIQ_16 : IQ_NAME_SDRIQ_24);
    EXPECT_EQ(I.HeaderBytes, 32);
    EXPECT_EQ(I.DetectedSampleRate, 2400000);
    EXPECT_TRUE(I.HasDetectedCenterFreq);
    EXPECT_EQ(I.DetectedCenterFreqHz, 1090000000.0);
    EXPECT_EQ(S.TotalSamples(), 500);
    const TRef R = RefSdrIq(B);
    EXPECT_EQ(R.Center, I.DetectedCenterFreqHz);
    ExpectMatchesRef(S, R, "sdriq " + std::to_string(Bits));
    ExpectSegmentsAgree(S, "sdriq " + std::to_string(Bits));
    // The sidecar hint reads the same header.
    EXPECT_EQ(Open(P, "sdrangel").GetFormatInfo().HeaderBytes, 32);

    // One changed header byte spoils the checksum: the 28-byte reading, as for files
    // without one.
    TBytes Bad = B;
    Bad[16] ^= 1;
    WriteBytes(P, Bad);
    const TIQSource Old = Open(P);
    EXPECT_EQ(Old.GetFormatName(), IQ_NAME_SDRIQ);
    EXPECT_EQ(Old.GetFormatInfo().HeaderBytes, 28);
    EXPECT_FALSE(Old.GetFormatInfo().HasDetectedCenterFreq);
  }
  // A valid checksum with a sample size nobody writes: no samples, and the name says why.
  TBytes B = iqw::SdrIqBytes(X, 1000000, 100000000ull, 12);
  WriteBytes(D.File("r12.sdriq"), B);
  const TIQSource S = Open(D.File("r12.sdriq"));
  EXPECT_EQ(S.TotalSamples(), 0);
  EXPECT_EQ(S.GetFormatName(), "SDRAngel (.sdriq, not decoded: 12-bit samples)");
  EXPECT_TRUE(S.LoadSegment(0, 10).empty());
}

// ---- WAV ----------------------------------------------------------------------------------

TEST(OtherTools, WavWidthsRf64AndAuxi) {
  TTempDir D;
  // Byte-level values first: 8-bit is offset binary (128 is zero), 24-bit three bytes.
  TComplexArray S;
  double Rate = 0;
  bool Has = false;
  WriteBytes(D.File("w8.wav"),
             Riff({Chunk("fmt ", FmtBody(1, 2, 8000, 8)), Chunk("data", {0x80, 0xFF, 0x00, 0x81})}));
  DecodeWav(D.File("w8.wav"), S, Rate, Has);
  ASSERT_EQ(S.size(), 2u);
  EXPECT_EQ(S[0].Re, 0.0f);
  EXPECT_EQ(S[0].Im, 1.0f);
  EXPECT_EQ(S[1].Re, static_cast<float>(-128.0 / 127.0));
  EXPECT_EQ(S[1].Im, static_cast<float>(1.0 / 127.0));
  WriteBytes(D.File("w24.wav"),
             Riff({Chunk("fmt ", FmtBody(1, 2, 8000, 24)),
                   Chunk("data", {0x00, 0x00, 0x40, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF})}));
  DecodeWav(D.File("w24.wav"), S, Rate, Has);
  ASSERT_EQ(S.size(), 1u); // the half frame at the end is dropped
  EXPECT_EQ(S[0].Re, 0.5f);
  EXPECT_EQ(S[0].Im, -1.0f);

  // Files from the writer, through the source, the whole-file decoder and the reference.
  const std::vector<iqw::TCplx> X = TestSignal(3001);
  struct {
    const char *Name;
    iqw::TWavOptions O;
    const char *Display;
  } Cases[] = {
      {"u8.wav", {8, false, false, 0}, IQ_NAME_WAV},
      {"i16.wav", {16, false, false, 0}, IQ_NAME_WAV},
      {"i24.wav", {24, false, false, 433920000}, IQ_NAME_WAV},
      {"i24in32.wav", {24, true, false, 0}, IQ_NAME_WAV},
      {"i32.wav", {32, false, false, 0}, IQ_NAME_WAV},
      {"rf64.wav", {16, false, true, 145000000}, "RF64/BW64 (2-channel I/Q)"},
      {"rf64_24.cf32", {24, false, true, 0}, "RF64/BW64 (2-channel I/Q)"},
  };
  for (const auto &C : Cases) {
    const TBytes B = iqw::WavBytes(X, 250000, C.O);
    const std::string P = D.File(C.Name);
    WriteBytes(P, B);
    const TIQSource Src = Open(P);
    EXPECT_EQ(Src.GetFormatInfo().Kind, iqkWav) << C.Name;
    EXPECT_EQ(Src.GetFormatName(), C.Display) << C.Name;
    EXPECT_EQ(Src.TotalSamples(), 3001) << C.Name;
    EXPECT_EQ(Src.GetDetectedSampleRate(), 250000) << C.Name;
    EXPECT_EQ(Src.GetFormatInfo().HasDetectedCenterFreq, C.O.AuxiCenter != 0) << C.Name;
    EXPECT_EQ(Src.GetFormatInfo().DetectedCenterFreqHz, C.O.AuxiCenter) << C.Name;
    const TRef R = RefWav(B);
    ExpectMatchesRef(Src, R, C.Name);
    ExpectSegmentsAgree(Src, C.Name);
    DecodeWav(P, S, Rate, Has);
    ASSERT_EQ(S.size(), 3001u) << C.Name;
    EXPECT_EQ(std::memcmp(S.data(), Src.LoadSegment(0, -1).data(), S.size() * sizeof S[0]), 0) << C.Name;
  }

  // A data chunk that claims more than the file holds is read to the end of the file, in
  // RIFF and in RF64 (where the ds64 size claims too much).
  for (bool Rf64 : {false, true}) {
    TBytes B = iqw::WavBytes(X, 48000, {16, false, Rf64, 0});
    B.resize(B.size() - 401); // 100 whole frames and one byte gone
    WriteBytes(D.File("cut.wav"), B);
    EXPECT_EQ(Open(D.File("cut.wav")).TotalSamples(), 3001 - 101) << Rf64;
  }
}

// ---- VITA-49 -------------------------------------------------------------------------------

TEST(OtherTools, VitaStreamsOfOneOrLargePackets) {
  TTempDir D;
  const std::vector<iqw::TCplx> X = TestSignal(6000);
  struct {
    const char *Name;
    size_t PerPacket;
    bool Context;
  } Cases[] = {
      {"one.iq", 6000, false},    // a single data packet
      {"one.cs16", 6000, false},  // the same under a raw-type extension
      {"large.iq", 2250, true},   // 9 KB packets: the second starts beyond the head
      {"large.cs8", 2250, true},  //
      {"small.cu8", 100, true},   // small packets under a raw-type extension
      {"ctx_only.cs16", 0, true}, // a context packet and nothing else
  };
  for (bool Big : {true, false})
    for (const auto &C : Cases) {
      iqw::TVitaOptions O;
      O.Big = Big;
      O.Context = C.Context;
      O.SamplesPerPacket = C.PerPacket ? C.PerPacket : 1;
      const TBytes B = iqw::VitaBytes(C.PerPacket ? X : std::vector<iqw::TCplx>{}, 1e6, 2.45e9, O);
      const std::string P = D.File(C.Name);
      WriteBytes(P, B);
      const std::string What = std::string(C.Name) + (Big ? " BE" : " LE");
      const TIQSource S = Open(P);
      ASSERT_EQ(S.GetFormatInfo().Kind, iqkVita49) << What;
      EXPECT_EQ(S.GetFormatName(), Big ? IQ_NAME_VITA_BE : IQ_NAME_VITA_LE) << What;
      EXPECT_EQ(S.TotalSamples(), C.PerPacket ? 6000 : 0) << What;
      EXPECT_EQ(S.GetFormatInfo().HasDetectedCenterFreq, C.Context) << What;
      if (C.Context) {
        EXPECT_EQ(S.GetFormatInfo().DetectedCenterFreqHz, 2.45e9) << What;
        EXPECT_EQ(S.GetDetectedSampleRate(), 1e6) << What;
      }
      if (Big)
        ExpectMatchesRef(S, RefVitaBe(B), What);
      ExpectSegmentsAgree(S, What);

      // One byte more or less and the chain no longer tiles a raw-typed file.
      if (FindRawExt(C.Name) && C.PerPacket) {
        TBytes Longer = B;
        Longer.push_back(0);
        WriteBytes(P, Longer);
        EXPECT_NE(Open(P).GetFormatInfo().Kind, iqkVita49) << What;
      }
    }
}

// Command packets a controller writes into the stream carry no samples; the walk steps over
// them, in the whole-file decoder, the index and detection alike. A header word of type 6 or
// 7 without that shape, or one of a type above 7, still ends the walk.
TEST(OtherTools, VitaCommandPacketsAreWalkedOver) {
  TTempDir D;
  const std::vector<iqw::TCplx> X = TestSignal(6000);
  for (bool Big : {true, false})
    for (const char *Name : {"cmd.vrt", "cmd.cs16"}) {
      iqw::TVitaOptions O;
      O.Big = Big;
      O.CommandEvery = 2;
      const TBytes B = iqw::VitaBytes(X, 1e6, 2.45e9, O);
      const std::string P = D.File(Name);
      WriteBytes(P, B);
      const std::string What = std::string(Name) + (Big ? " BE" : " LE");
      const TIQSource S = Open(P);
      ASSERT_EQ(S.GetFormatInfo().Kind, iqkVita49) << What;
      EXPECT_EQ(S.TotalSamples(), 6000) << What;
      EXPECT_EQ(S.GetFormatInfo().DetectedCenterFreqHz, 2.45e9) << What; // not a commanded frequency
      if (Big)
        ExpectMatchesRef(S, RefVitaBe(B), What);
      ExpectSegmentsAgree(S, What);
      TComplexArray Whole;
      double Rate = 0;
      bool HasRate = false;
      DecodeVita49(P, Whole, Rate, HasRate);
      ASSERT_EQ(Whole.size(), 6000u) << What;
      EXPECT_EQ(std::memcmp(Whole.data(), S.LoadSegment(0, ALL).data(), Whole.size() * sizeof Whole[0]), 0);
    }

  // After the first command packet (data packets of 1000 samples, one command per two of
  // them), its successor's header is damaged in three ways; the walk ends at the command.
  iqw::TVitaOptions O;
  O.CommandEvery = 2;
  const TBytes Good = iqw::VitaBytes(X, 1e6, 2.45e9, O);
  const size_t Ctx = 4 * 9, Data = 4 * (2 + 1000 + 1), Cmd = 4 * 7, After = Ctx + 2 * Data + Cmd;
  struct {
    const char *What;
    size_t At;
    uint32_t Word;
    int64_t Samples;
  } Cases[] = {
      {"type 8 after the command", After, 8u << 28 | 1003u, 2000},
      {"size 0 after the command", After, 1u << 28, 2000},
      {"a command too short for its CAM and message id", After - Cmd, 6u << 28 | 3u, 2000},
      {"a type 9 header in place of the command", After - Cmd, 9u << 28 | 7u, 2000},
      {"an intact stream", 0, 4u << 28 | 9u, 6000},
  };
  for (const auto &C : Cases) {
    TBytes B = Good;
    B[C.At] = uint8_t(C.Word >> 24), B[C.At + 1] = uint8_t(C.Word >> 16);
    B[C.At + 2] = uint8_t(C.Word >> 8), B[C.At + 3] = uint8_t(C.Word);
    WriteBytes(D.File("broken.vrt"), B);
    const TIQSource S = Open(D.File("broken.vrt"));
    EXPECT_EQ(S.TotalSamples(), C.Samples) << C.What;
    ExpectSegmentsAgree(S, C.What);
    TComplexArray Whole;
    double Rate = 0;
    bool HasRate = false;
    DecodeVita49(D.File("broken.vrt"), Whole, Rate, HasRate);
    EXPECT_EQ(static_cast<int64_t>(Whole.size()), C.Samples) << C.What;
  }
}

// What the whole-chain rule does not take for VITA-49: a tone whose samples repeat a plausible
// header word at the distance it names, through the first MiB (the header word and the
// packet count repeat unchanged), and a stream of large packets that does not count them.
TEST(OtherTools, RepeatingHeaderWordsAreNotPackets) {
  TTempDir D;
  // Sample 0 is (8000, 0): read little-endian, a type-0 header of 8000 words, and the tone's
  // period of 20 samples brings the same word back every 8000 samples.
  TBytes B;
  for (int K = 0; K < 400000; ++K) {
    const double Ph = 0.05 * 2 * 3.141592653589793 * K;
    PutU16(B, static_cast<uint16_t>(static_cast<int16_t>(8000 * std::cos(Ph))));
    PutU16(B, static_cast<uint16_t>(static_cast<int16_t>(8000 * std::sin(Ph))));
  }
  for (const char *Name : {"tone.cs16", "tone.iq"}) {
    WriteBytes(D.File(Name), B);
    EXPECT_NE(Open(D.File(Name)).GetFormatInfo().Kind, iqkVita49) << Name;
  }
  iqw::TVitaOptions O;
  O.Context = false;
  O.SamplesPerPacket = 2000;
  TBytes V = iqw::VitaBytes(TestSignal(8000), 1e6, 1e8, O);
  for (size_t P = 0; P < 4; ++P)
    V[P * 4 * 2003 + 1] &= 0xF0; // every packet count 0
  WriteBytes(D.File("uncounted.iq"), V);
  EXPECT_NE(Open(D.File("uncounted.iq")).GetFormatInfo().Kind, iqkVita49);
}

TEST(OtherTools, VitaPayloadFormatAndSpectrum) {
  TTempDir D;
  const std::vector<iqw::TCplx> X = TestSignal(4000);
  for (bool Big : {true, false}) {
    iqw::TVitaOptions O;
    O.Big = Big;
    O.ItemBits = 8;
    O.SamplesPerPacket = 500;
    const TBytes B = iqw::VitaBytes(X, 2e6, 915e6, O);
    const std::string P = D.File("i8.vrt");
    WriteBytes(P, B);
    const TIQSource S = Open(P);
    EXPECT_EQ(S.GetFormatName(), Big ? "VITA-49/VRT (int8 BE)" : "VITA-49/VRT (int8 LE)");
    ASSERT_EQ(S.TotalSamples(), 4000);
    const TComplexArray All = S.LoadSegment(0, -1);
    for (size_t K = 0; K < All.size(); ++K) {
      ASSERT_EQ(All[K].Re, iqw::Quantise(X[K].Re, 127) / 128.0f) << K;
      ASSERT_EQ(All[K].Im, iqw::Quantise(X[K].Im, 127) / 128.0f) << K;
    }
    if (Big)
      ExpectMatchesRef(S, RefVitaBe(B), "int8");
    ExpectSegmentsAgree(S, "int8");
  }

  // Payload formats the readers do not decode: no samples, the name says what they are.
  const size_t FmtWordAt = 4 * (2 + 1 + 2 + 2); // header, stream id, CIF0, two 64-bit fields
  struct {
    uint32_t Word;
    const char *Why;
  } Refused[] = {
      {1u << 31 | 1u << 29 | 11u << 6 | 11u, "12-bit items in 12-bit fields, link-efficient packing"},
      {15u << 6 | 15u, "real-valued items, no I/Q"},
      {1u << 29 | 0x0Eu << 24 | 31u << 6 | 31u, "32-bit float items"},
      {1u << 29 | 31u << 6 | 15u, "16-bit items in 32-bit fields, processing-efficient packing"},
  };
  for (const auto &R : Refused) {
    iqw::TVitaOptions O;
    TBytes B = iqw::VitaBytes(X, 2e6, 915e6, O);
    B[FmtWordAt] = uint8_t(R.Word >> 24), B[FmtWordAt + 1] = uint8_t(R.Word >> 16);
    B[FmtWordAt + 2] = uint8_t(R.Word >> 8), B[FmtWordAt + 3] = uint8_t(R.Word);
    WriteBytes(D.File("odd.vrt"), B);
    const TIQSource S = Open(D.File("odd.vrt"));
    EXPECT_EQ(S.TotalSamples(), 0) << R.Why;
    EXPECT_EQ(S.GetFormatName(), std::string("VITA-49/VRT (BE, not decoded: ") + R.Why + ")");
    EXPECT_TRUE(S.LoadSegment(0, 100).empty());
  }

  // Spectrum data packets (header bit 24) are not I/Q: left out of the samples.
  iqw::TVitaOptions O;
  O.SamplesPerPacket = 1000;
  TBytes B = iqw::VitaBytes(X, 2e6, 915e6, O);
  const size_t FirstData = 4 * 9, PacketBytes = 4 * (2 + 1000 + 1);
  B[FirstData + PacketBytes] |= 0x01; // the second of four data packets
  WriteBytes(D.File("spectrum.vrt"), B);
  TIQSource S = Open(D.File("spectrum.vrt"));
  EXPECT_EQ(S.TotalSamples(), 3000);
  EXPECT_EQ(S.LoadSegment(1000, 1)[0].Re, iqw::Quantise(X[2000].Re, 32767) / 32768.0f);
  ExpectSegmentsAgree(S, "spectrum");
  for (size_t K = 0; K < 4; ++K)
    B[FirstData + K * PacketBytes] |= 0x01;
  WriteBytes(D.File("spectrum.vrt"), B);
  S = Open(D.File("spectrum.vrt"));
  EXPECT_EQ(S.TotalSamples(), 0);
  EXPECT_EQ(S.GetFormatName(), "VITA-49/VRT (BE, spectrum data only, not shown as I/Q)");
}

// Noise recordings under raw-type extensions must never be read as VITA-49: every raw type,
// levels from a few codes to full scale, sizes from 4 KiB to 1.5 MiB.
TEST(OtherTools, NoiseIsNeverTakenForVita) {
  TTempDir D;
  std::mt19937 Rng(2026);
  std::normal_distribution<double> G(0.0, 1.0);
  const char *Exts[] = {".cs8", ".cs16", ".cf32", ".cu8", ".u8",   ".s8",
                        ".c8",  ".c16",  ".sc16", ".s16", ".fc32", ".cfile"};
  const iqw::TRaw Types[] = {iqw::TRaw::ci8,     iqw::TRaw::ci16_le, iqw::TRaw::cf32_le, iqw::TRaw::cu8,
                             iqw::TRaw::cu8,     iqw::TRaw::ci8,     iqw::TRaw::ci8,     iqw::TRaw::ci16_le,
                             iqw::TRaw::ci16_le, iqw::TRaw::ci16_le, iqw::TRaw::cf32_le, iqw::TRaw::cf32_le};
  const double Levels[] = {0.5 / 32768, 2.0 / 32768, 1.0 / 128, 3.0 / 128, 0.05, 0.3};
  int Files = 0, Vita = 0, HeadLooksVita = 0;
  for (size_t E = 0; E < std::size(Exts); ++E)
    for (double Level : Levels)
      for (int K = 0; K < 35; ++K) {
        // One file over 1 MiB per case, the others up to about 70 KB.
        const size_t Bps = Types[E] == iqw::TRaw::cf32_le ? 8 : Types[E] == iqw::TRaw::ci16_le ? 4 : 2;
        const size_t N = K == 0 ? (1 << 20) / Bps + 4099 : 1024 + Rng() % 8192;
        std::vector<iqw::TCplx> X(N);
        for (iqw::TCplx &C : X)
          C = {Level * G(Rng), Level * G(Rng)};
        const std::string P = D.File("noise" + std::string(Exts[E]));
        const TBytes B = iqw::RawBytes(X, Types[E]);
        WriteBytes(P, B);
        ++Files;
        const TByteArray Head(B.begin(), B.begin() + static_cast<long>(std::min<size_t>(B.size(), 4096)));
        if (V49LooksLikeVRT(Head, static_cast<int32_t>(Head.size()), static_cast<int64_t>(B.size())))
          ++HeadLooksVita;
        if (DetectIQFormat(P, "").Kind == iqkVita49)
          ++Vita;
      }
  EXPECT_GE(Files, 2500);
  // The set holds files that two plausible packets in the head would take for VITA-49.
  EXPECT_GT(HeadLooksVita, 20);
  EXPECT_EQ(Vita, 0) << "of " << Files << " noise recordings";
  std::printf("noise recordings: %d, head heuristic alone: %d, read as VITA-49: %d\n", Files, HeadLooksVita,
              Vita);
}
