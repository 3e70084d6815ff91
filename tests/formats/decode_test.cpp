#include "formats/fmt_fixtures.h"

#include "formats/uIQFormats.h"
#include "metadata/uMetadata.h"

#include <cstring>
#include <random>

namespace {

struct TDecoded {
  TComplexArray S;
  double Rate = -1;
  bool HasRate = true;
};

TDecoded Vita(const TTempDir &D, const TBytes &B) {
  const std::string P = D.File("v.iq");
  WriteBytes(P, B);
  TDecoded R;
  DecodeVita49(P, R.S, R.Rate, R.HasRate);
  return R;
}

TDecoded Wav(const TTempDir &D, const TBytes &B) {
  const std::string P = D.File("w.iq");
  WriteBytes(P, B);
  TDecoded R;
  DecodeWav(P, R.S, R.Rate, R.HasRate);
  return R;
}

// Expected samples of interleaved 16-bit values.
void ExpectI16(const TComplexArray &Got, const std::vector<int16_t> &V) {
  ASSERT_EQ(Got.size(), V.size() / 2);
  for (size_t K = 0; K < Got.size(); ++K) {
    EXPECT_EQ(Got[K].Re, static_cast<float>(V[2 * K] / 32768.0L)) << K;
    EXPECT_EQ(Got[K].Im, static_cast<float>(V[2 * K + 1] / 32768.0L)) << K;
  }
}

} // namespace

TEST(DecodeVita49, PayloadsJoinAcrossPacketKinds) {
  TTempDir D;
  const std::vector<int16_t> A{16384, -16384, 1, -1}, Bv{32767, -32768, 300, -300, 7, 8};
  for (bool Big : {true, false}) {
    TVrtPacket P1, P2, Ext, P3;
    P1.Type = 1;
    P1.Body = I16Payload(A, Big);
    P2.Type = 0; // no stream id, both timestamps
    P2.TSI = 1;
    P2.TSF = 1;
    P2.Body = I16Payload(Bv, Big);
    Ext.Type = 3;
    Ext.Body = I16Payload({9, 9, 9, 9}, Big);
    P3.Type = 1; // class id and trailer
    P3.C = true;
    P3.T = true;
    P3.Body = I16Payload({-5, 5}, Big);
    const TDecoded R = Vita(D, VrtBytes({P1, Ext, P2, P3}, Big));
    std::vector<int16_t> All = A;
    All.insert(All.end(), Bv.begin(), Bv.end());
    All.insert(All.end(), {-5, 5});
    ExpectI16(R.S, All);
    EXPECT_FALSE(R.HasRate);
    EXPECT_EQ(R.Rate, 0);
  }
  // Big-endian bytes 40 00 C0 00.
  TVrtPacket P;
  P.Body = {0x40, 0x00, 0xC0, 0x00};
  const TDecoded R = Vita(D, VrtBytes({P, P}, true));
  ASSERT_EQ(R.S.size(), 2u);
  EXPECT_EQ(R.S[0].Re, 0.5f);
  EXPECT_EQ(R.S[0].Im, -0.5f);
}

TEST(DecodeVita49, ContextRatesAndBrokenChains) {
  TTempDir D;
  for (bool Big : {true, false}) {
    TVrtPacket C1, C2, Data, Bad;
    C1.Type = 4;
    C1.C = true; // class id and timestamps in front of CIF0
    C1.TSI = 1;
    C1.TSF = 2;
    C1.Body = ContextRateBody(1e6, Big);
    C2.Type = 5;
    C2.Body = ContextRateBody(2e6, Big, 1u << 29);
    Data.Body = I16Payload({100, 200, 300, 400}, Big);
    Bad = Data;
    Bad.Type = 7;
    TDecoded R = Vita(D, VrtBytes({C1, Data, C2, Data, Bad, Data}, Big));
    EXPECT_TRUE(R.HasRate);
    EXPECT_EQ(R.Rate, 2e6); // the last context packet wins
    ExpectI16(R.S, {100, 200, 300, 400, 100, 200, 300, 400});

    // A last packet whose size runs past the end is dropped whole.
    TBytes B = VrtBytes({Data, Data}, Big);
    B.erase(B.end() - 2, B.end());
    R = Vita(D, B);
    ExpectI16(R.S, {100, 200, 300, 400});

    // Header words and trailer larger than the size: skipped, the walk goes on.
    TBytes Tiny; // type 1 with class id announced, but only 2 words long
    PutU32(Tiny, (1u << 28) | (1u << 27) | 2u, Big);
    PutU32(Tiny, 0, Big);
    const TBytes After = VrtBytes({Data}, Big);
    Tiny.insert(Tiny.end(), After.begin(), After.end());
    R = Vita(D, Tiny);
    ExpectI16(R.S, {100, 200, 300, 400});

    // Size 0 ends the walk.
    TVrtPacket Zero = Data;
    Zero.SizeAdjust = -4;
    R = Vita(D, VrtBytes({Data, Zero, Data}, Big));
    ExpectI16(R.S, {100, 200, 300, 400});
  }
  // Odd number of 16-bit values: the unpaired one is dropped; an empty file gives nothing.
  TVrtPacket Odd;
  Odd.Body = I16Payload({1, 2, 3, 4, 5, 6}, true);
  TDecoded R = Vita(D, VrtBytes({Odd}, true));
  EXPECT_EQ(R.S.size(), 3u);
  R = Vita(D, {});
  EXPECT_TRUE(R.S.empty());
  EXPECT_FALSE(R.HasRate);
}

TEST(DecodeVita49, MissingFileThrows) {
  TTempDir D;
  TComplexArray S;
  double Rate;
  bool Has;
  EXPECT_THROW(DecodeVita49(D.File("nope.iq"), S, Rate, Has), EFileStreamError);
}

TEST(DecodeWav, IntegerWidthsAndFloat) {
  TTempDir D;
  auto Data16 = [] {
    TBytes B;
    PutU16(B, 0x4000);
    PutU16(B, 0xC000);
    return B;
  };
  // Canonical 16-bit file.
  TDecoded R = Wav(D, Riff({Chunk("fmt ", FmtBody(1, 2, 48000, 16)), Chunk("data", Data16())}));
  ASSERT_EQ(R.S.size(), 1u);
  EXPECT_EQ(R.S[0].Re, 0.5f);
  EXPECT_EQ(R.S[0].Im, -0.5f);
  EXPECT_EQ(R.Rate, 48000);
  EXPECT_TRUE(R.HasRate);

  // 8-bit: unsigned with 128 as zero (the WAV format's rule), divided by 127.
  R = Wav(D, Riff({Chunk("fmt ", FmtBody(1, 2, 8000, 8)), Chunk("data", {0xFF, 0x01, 0x00, 0x80})}));
  ASSERT_EQ(R.S.size(), 2u);
  EXPECT_EQ(R.S[0].Re, 1.0f);
  EXPECT_EQ(R.S[0].Im, -1.0f);
  EXPECT_EQ(R.S[1].Re, static_cast<float>(-128.0 / 127.0));
  EXPECT_EQ(R.S[1].Im, 0.0f);

  // 32-bit integer.
  TBytes I32;
  PutU32(I32, 1073741824u);
  PutU32(I32, 0x80000000u);
  R = Wav(D, Riff({Chunk("fmt ", FmtBody(1, 2, 96000, 32)), Chunk("data", I32)}));
  ASSERT_EQ(R.S.size(), 1u);
  EXPECT_EQ(R.S[0].Re, 0.5f);
  EXPECT_EQ(R.S[0].Im, -1.0f);

  // 32-bit IEEE float, plain and extensible: values unchanged.
  const float Fv[4] = {0.25f, -1.5f, 3.0e-7f, 123.0f};
  TBytes F32(sizeof(Fv));
  std::memcpy(F32.data(), Fv, sizeof(Fv));
  TBytes Ext = FmtBody(0xFFFE, 2, 1000000, 32);
  PutU16(Ext, 22); // extension size
  PutU16(Ext, 32); // valid bits
  PutU32(Ext, 3);  // channel mask
  PutU16(Ext, 3);  // sub-format: IEEE float
  Ext.insert(Ext.end(), {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
  for (const TBytes &Fmt : {FmtBody(3, 2, 1000000, 32), Ext}) {
    R = Wav(D, Riff({Chunk("fmt ", Fmt), Chunk("data", F32)}));
    ASSERT_EQ(R.S.size(), 2u);
    EXPECT_EQ(R.S[0].Re, Fv[0]);
    EXPECT_EQ(R.S[0].Im, Fv[1]);
    EXPECT_EQ(R.S[1].Re, Fv[2]);
    EXPECT_EQ(R.S[1].Im, Fv[3]);
    EXPECT_EQ(R.Rate, 1000000);
  }
  // Extensible with the PCM sub-format stays integer.
  Ext[24] = 1;
  R = Wav(D, Riff({Chunk("fmt ", Ext), Chunk("data", I32)}));
  ASSERT_EQ(R.S.size(), 1u);
  EXPECT_EQ(R.S[0].Re, 0.5f);
}

TEST(DecodeWav, ChunkLayouts) {
  TTempDir D;
  TBytes Four; // 4 channels, 10 frames of 16-bit: channel k of frame f = f*10+k
  for (int F = 0; F < 10; ++F)
    for (int K = 0; K < 4; ++K)
      PutU16(Four, static_cast<uint16_t>(F * 10 + K));
  TDecoded R = Wav(D, Riff({Chunk("fmt ", FmtBody(1, 4, 22050, 16)), Chunk("LIST", {1, 2, 3, 4, 5}),
                            Chunk("data", Four)}));
  ASSERT_EQ(R.S.size(), 10u);
  for (int F = 0; F < 10; ++F) {
    EXPECT_EQ(R.S[F].Re, static_cast<float>((F * 10) / 32768.0));
    EXPECT_EQ(R.S[F].Im, static_cast<float>((F * 10 + 1) / 32768.0));
  }

  // "data" before "fmt ".
  R = Wav(D, Riff({Chunk("data", Four), Chunk("fmt ", FmtBody(1, 4, 22050, 16))}));
  EXPECT_EQ(R.S.size(), 10u);

  // Mono and 12-bit: no samples, but the rate. 24-bit is decoded: 60 bytes are 10 frames.
  for (const TBytes &Fmt : {FmtBody(1, 1, 44100, 16), FmtBody(1, 2, 44100, 12), FmtBody(1, 2, 44100, 24)}) {
    R = Wav(D, Riff({Chunk("fmt ", Fmt), Chunk("data", TBytes(60, 1))}));
    EXPECT_EQ(R.S.size(), Fmt[14] == 24 ? 10u : 0u);
    EXPECT_EQ(R.Rate, 44100);
    EXPECT_TRUE(R.HasRate);
  }

  // A data chunk claiming 1000 bytes of which 402 are present: 100 frames.
  TBytes Cut = Riff({Chunk("fmt ", FmtBody(1, 2, 8000, 16))});
  const TBytes DataHead = Chunk("data", {}, 1000);
  Cut.insert(Cut.end(), DataHead.begin(), DataHead.end());
  Cut.resize(Cut.size() + 402, 0x01);
  R = Wav(D, Cut);
  EXPECT_EQ(R.S.size(), 100u);

  // No data chunk, not RIFF, too short, fmt cut short: nothing, no error.
  R = Wav(D, Riff({Chunk("fmt ", FmtBody(1, 2, 8000, 16))}));
  EXPECT_TRUE(R.S.empty());
  EXPECT_TRUE(R.HasRate);
  R = Wav(D, TBytes{'R', 'I', 'F', 'X', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'd', 'a', 't', 'a'});
  EXPECT_TRUE(R.S.empty());
  EXPECT_FALSE(R.HasRate);
  R = Wav(D, TBytes{'R', 'I', 'F', 'F'});
  EXPECT_TRUE(R.S.empty());
  TBytes ShortFmt = Riff({Chunk("data", TBytes(8, 0))});
  const TBytes F = Chunk("fmt ", FmtBody(1, 2, 8000, 16));
  ShortFmt.insert(ShortFmt.end(), F.begin(), F.begin() + 20);
  R = Wav(D, ShortFmt);
  EXPECT_TRUE(R.S.empty());
  EXPECT_FALSE(R.HasRate);
}

TEST(DecodeWav, HugeChunkSizeEndsTheWalk) {
  TTempDir D;
  TBytes B = Riff({Chunk("fmt ", FmtBody(1, 2, 8000, 16)), Chunk("data", TBytes(16, 0x10))});
  const TBytes Junk = Chunk("JUNK", {}, 0xFFFFFFFF);
  B.insert(B.end(), Junk.begin(), Junk.end());
  const TDecoded R = Wav(D, B);
  EXPECT_EQ(R.S.size(), 4u);
}

TEST(DecodeWav, RandomFramesMatchReference) {
  TTempDir D;
  std::mt19937 Rng(7);
  for (int Bits : {8, 16, 24, 32}) {
    TBytes Data;
    std::vector<int64_t> V;
    for (int I = 0; I < 2 * 257; ++I) {
      const int64_t X = static_cast<int64_t>(Rng()) - (int64_t(1) << 31);
      const int64_t Y = X >> (32 - Bits);
      // 8-bit PCM is offset binary: the byte written is Y + 128.
      V.push_back(Bits == 8 ? static_cast<int64_t>(static_cast<uint8_t>(Y)) - 128 : Y);
      for (int K = 0; K < Bits / 8; ++K)
        Data.push_back(uint8_t(static_cast<uint64_t>(Y) >> (8 * K)));
    }
    const TDecoded R =
        Wav(D, Riff({Chunk("fmt ", FmtBody(1, 2, 1000, static_cast<uint32_t>(Bits))), Chunk("data", Data)}));
    ASSERT_EQ(R.S.size(), 257u);
    const double Div = Bits == 8 ? 127.0 : Bits == 16 ? 32768.0 : Bits == 24 ? 8388608.0 : 2147483648.0;
    for (size_t K = 0; K < R.S.size(); ++K) {
      ASSERT_EQ(R.S[K].Re, static_cast<float>(static_cast<double>(V[2 * K]) / Div)) << Bits << " " << K;
      ASSERT_EQ(R.S[K].Im, static_cast<float>(static_cast<double>(V[2 * K + 1]) / Div)) << Bits << " " << K;
    }
  }
}

// Little-endian streams whose first header word also reads as a plausible big-endian one:
// the whole chain decides, in detection and decoder alike.
TEST(DecodeVita49, LittleEndianStreamsWithAmbiguousFirstWord) {
  TTempDir D;
  std::vector<int16_t> V;
  for (int I = 0; I < 2 * 1000; ++I)
    V.push_back(static_cast<int16_t>((I * 7919) % 65536 - 32768));

  // (a) Context packet first with class id and timestamps, large file: judged against the
  // whole size the first word's big-endian reading (type 0, ~57000 words) would fit.
  TVrtPacket Ctx, Data;
  Ctx.Type = 4;
  Ctx.C = true;
  Ctx.TSI = 1;
  Ctx.TSF = 2;
  Ctx.Body = ContextRateBody(2e6, false, 1u << 29);
  Data.Type = 1;
  Data.C = true;
  Data.TSI = 1;
  Data.TSF = 2;
  Data.T = true;
  Data.Body = I16Payload(V, false);
  std::vector<TVrtPacket> Stream{Ctx};
  for (int K = 0; K < 80; ++K)
    Stream.push_back(Data);
  // (b) Plain type-1 packets of 520 words without flags: the first bytes 08 02 00 10 also
  // read big-endian as a type-0 packet of 16 words.
  TVrtPacket Plain;
  Plain.Type = 1;
  Plain.Body = I16Payload(std::vector<int16_t>(V.begin(), V.begin() + 2 * 518), false);

  struct {
    const char *Name;
    TBytes Bytes;
    size_t Samples;
  } Cases[] = {
      {"a.iq", VrtBytes(Stream, false), 80 * 1000},
      {"b.iq", VrtBytes({Plain, Plain, Plain, Plain}, false), 4 * 518},
  };
  // The fixture writes packet-count bits 0xA; for (b) clear them so byte 2 is 00.
  for (size_t Off = 0; Off < Cases[1].Bytes.size(); Off += 520 * 4)
    Cases[1].Bytes[Off + 2] = 0;
  ASSERT_EQ(Cases[1].Bytes[0], 0x08);
  ASSERT_TRUE(V49DetectByteOrder(Cases[1].Bytes, 4096)); // the single-word rule alone errs

  for (const auto &C : Cases) {
    const std::string P = D.File(C.Name);
    WriteBytes(P, C.Bytes);
    const TIQSource Src(P, ReadFormatHint(P));
    EXPECT_EQ(Src.GetFormatInfo().Kind, iqkVita49) << C.Name;
    EXPECT_EQ(Src.GetFormatName(), IQ_NAME_VITA_LE) << C.Name;
    ASSERT_EQ(Src.TotalSamples(), static_cast<int64_t>(C.Samples)) << C.Name;
    const TComplexArray S = Src.LoadSegment(0, -1);
    const size_t PerPacket = C.Samples == 80 * 1000 ? 1000 : 518;
    for (size_t K = 0; K < S.size(); ++K) {
      const size_t J = K % PerPacket;
      ASSERT_EQ(S[K].Re, static_cast<float>(V[2 * J] / 32768.0)) << C.Name << " " << K;
      ASSERT_EQ(S[K].Im, static_cast<float>(V[2 * J + 1] / 32768.0)) << C.Name << " " << K;
    }
  }
  EXPECT_EQ(TIQSource(D.File("a.iq"), "").GetDetectedSampleRate(), 2e6);
}
