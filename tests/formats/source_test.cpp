#include "formats/fmt_fixtures.h"

#include "formats/uIQFormats.h"
#include "metadata/uMetadata.h"

#include <cstring>
#include <random>

namespace {

// A recording opened the way every reader of the product opens it: with its sidecar's hint.
TIQSource OpenSource(const std::string &Path) {
  return TIQSource(Path, ReadFormatHint(Path));
}

// Reference decoding of raw bytes, independent of the reader under test.
TComplexSample RefSample(const TBytes &B, TIQFormat Fmt, size_t Header, size_t K) {
  TComplexSample S;
  if (Fmt == iqfInt8) {
    S.Re = static_cast<float>(static_cast<int8_t>(B[Header + 2 * K]) / 128.0);
    S.Im = static_cast<float>(static_cast<int8_t>(B[Header + 2 * K + 1]) / 128.0);
  } else if (Fmt == iqfUInt8) {
    S.Re = static_cast<float>((B[Header + 2 * K] - 127.5) / 128.0);
    S.Im = static_cast<float>((B[Header + 2 * K + 1] - 127.5) / 128.0);
  } else if (Fmt == iqfInt16) {
    const uint8_t *P = &B[Header + 4 * K];
    S.Re = static_cast<float>(static_cast<int16_t>(P[0] | P[1] << 8) / 32768.0);
    S.Im = static_cast<float>(static_cast<int16_t>(P[2] | P[3] << 8) / 32768.0);
  } else {
    std::memcpy(&S.Re, &B[Header + 8 * K], 4); // the tests run on little-endian machines
    std::memcpy(&S.Im, &B[Header + 8 * K + 4], 4);
  }
  return S;
}

void ExpectSame(const TComplexArray &Got, const TBytes &B, TIQFormat Fmt, size_t Header, size_t First) {
  for (size_t K = 0; K < Got.size(); ++K) {
    const TComplexSample W = RefSample(B, Fmt, Header, First + K);
    ASSERT_EQ(std::memcmp(&Got[K].Re, &W.Re, 4), 0) << "sample " << First + K;
    ASSERT_EQ(std::memcmp(&Got[K].Im, &W.Im, 4), 0) << "sample " << First + K;
  }
}

} // namespace

TEST(LoadIQSegment, RawEncodingsBitExactAtEveryBoundary) {
  TTempDir D;
  std::mt19937 Rng(1234);
  struct {
    const char *Name;
    TIQFormat Fmt;
    size_t Header;
    size_t Bytes;
  } Cases[] = {
      {"r.cs8", iqfInt8, 0, 2 * 300 + 1},        {"r.cu8", iqfUInt8, 0, 2 * 300 + 1},
      {"r.cs16", iqfInt16, 0, 4 * 250 + 3},      {"r.cf32", iqfFloat32, 0, 8 * 120 + 4},
      {"r.sdriq", iqfInt16, 28, 28 + 4 * 5 + 3},
  };
  for (const auto &C : Cases) {
    TBytes B(C.Bytes);
    for (uint8_t &X : B)
      X = static_cast<uint8_t>(Rng());
    if (C.Fmt == iqfFloat32) // finite floats only, so the comparison is meaningful
      for (size_t K = 0; K + 4 <= B.size(); K += 4)
        B[K + 3] &= 0x3F;
    if (C.Header) {
      B[0] = 0x40, B[1] = 0x42, B[2] = 0x0F, B[3] = 0x00;
    }
    const std::string P = D.File(C.Name);
    WriteBytes(P, B);
    const int64_t Total =
        static_cast<int64_t>((C.Bytes - C.Header) / static_cast<size_t>(BytesPerSample(C.Fmt)));
    EXPECT_EQ(GetTotalSamples(P, C.Fmt, static_cast<int64_t>(C.Header)), Total) << C.Name;

    const TIQSource Src = OpenSource(P);
    EXPECT_EQ(Src.TotalSamples(), Total) << C.Name;
    EXPECT_EQ(Src.GetFormatInfo().HeaderBytes, static_cast<int64_t>(C.Header));
    TIQStretchReader Kept(Src); // one open file for every request below
    const std::pair<int64_t, int32_t> Reqs[] = {{0, 1},     {0, 1 << 20},   {Total - 10, 20}, {Total - 1, 1},
                                                {Total, 1}, {Total + 5, 3}, {0, 0},           {3, 7},
                                                {-4, 2},    {1, -1}};
    for (const auto &[Start, Max] : Reqs) {
      const TComplexArray Got = Src.LoadSegment(Start, Max);
      const int64_t S = Start < 0 ? 0 : Start;
      const int64_t Want = std::max<int64_t>(0, std::min<int64_t>(Max, Total - S));
      ASSERT_EQ(static_cast<int64_t>(Got.size()), Want) << C.Name << " " << Start << "+" << Max;
      ExpectSame(Got, B, C.Fmt, C.Header, static_cast<size_t>(S));
      // The same samples into a caller's buffer (its size is the limit), the rest untouched.
      TComplexArray Into(static_cast<size_t>(std::max(Max, 0)) + 1, TComplexSample{7.0f, 7.0f});
      ASSERT_EQ(Src.ReadSegment(Start, std::span(Into.data(), Into.size() - 1)), Got.size());
      EXPECT_EQ(Into.back().Re, 7.0f);
      Into.resize(Got.size());
      ExpectSame(Into, B, C.Fmt, C.Header, static_cast<size_t>(S));
      // Through the file kept open: as samples, and as 16-bit values that scale to them.
      Into.assign(static_cast<size_t>(std::max(Max, 0)), {});
      ASSERT_EQ(Kept.Read(Start, Into), Got.size());
      Into.resize(Got.size());
      ExpectSame(Into, B, C.Fmt, C.Header, static_cast<size_t>(S));
      std::vector<int16_t> Values(2 * static_cast<size_t>(std::max(Max, 0)));
      Into.assign(Kept.ReadInt16(Start, Values), {});
      EXPECT_EQ(Into.size(), C.Fmt == iqfFloat32 ? 0u : Got.size()) << C.Name;
      for (size_t K = 0; K < Into.size(); ++K)
        Into[K] = {Values[2 * K] * Kept.Int16Scale(), Values[2 * K + 1] * Kept.Int16Scale()};
      ExpectSame(Into, B, C.Fmt, C.Header, static_cast<size_t>(S));
    }
  }
}

TEST(LoadIQSegment, ScalingOfExtremeValues) {
  TTempDir D;
  WriteBytes(D.File("x.cs8"), TBytes{0x80, 0x7F});
  TComplexArray S = LoadIQSegment(D.File("x.cs8"), iqfInt8, 0, 5, 0);
  ASSERT_EQ(S.size(), 1u);
  EXPECT_EQ(S[0].Re, -1.0f);
  EXPECT_EQ(S[0].Im, 0.9921875f);
  WriteBytes(D.File("x.cs16"), TBytes{0x00, 0x80, 0xFF, 0x7F});
  S = LoadIQSegment(D.File("x.cs16"), iqfInt16, 0, 5, 0);
  ASSERT_EQ(S.size(), 1u);
  EXPECT_EQ(S[0].Re, -1.0f);
  EXPECT_EQ(S[0].Im, 0.999969482421875f);
}

TEST(TIQSource, MissingAndVanishingFiles) {
  TTempDir D;
  const TIQSource Missing = OpenSource(D.File("gone.cs16"));
  EXPECT_EQ(Missing.TotalSamples(), 0);
  EXPECT_TRUE(Missing.LoadSegment(0, 10).empty());

  WriteBytes(D.File("v.cs16"), TBytes(40, 0x01));
  const TIQSource Raw = OpenSource(D.File("v.cs16"));
  EXPECT_EQ(Raw.TotalSamples(), 10);
  std::filesystem::remove(D.File("v.cs16"));
  EXPECT_TRUE(Raw.LoadSegment(0, 10).empty());

  // Growing file: the newer samples are served.
  WriteBytes(D.File("g.cs8"), TBytes(4, 0x02));
  const TIQSource Grow = OpenSource(D.File("g.cs8"));
  EXPECT_EQ(Grow.TotalSamples(), 2);
  WriteBytes(D.File("g.cs8"), TBytes(10, 0x02));
  EXPECT_EQ(Grow.LoadSegment(0, 100).size(), 5u);

  // A sda-wav hint on a missing file: the decoder cannot open it.
  WriteText(D.File("h.txt"), "output_format=sda-wav\n");
  EXPECT_THROW(OpenSource(D.File("h.cs8")), EFileStreamError);
}

TEST(TIQSource, VitaAndWavSources) {
  TTempDir D;
  // VITA-49: first packet context with 1 MHz, a later one with 2 MHz.
  TVrtPacket C1, C2, Data;
  C1.Type = 4;
  C1.C = true;
  C1.TSI = 1;
  C1.TSF = 1;
  C1.Body = ContextRateBody(1e6, true);
  C2 = C1;
  C2.Body = ContextRateBody(2e6, true);
  std::vector<int16_t> V;
  for (int I = 0; I < 40; ++I)
    V.push_back(static_cast<int16_t>(I * 100 - 2000));
  Data.Body = I16Payload(V, true);
  WriteBytes(D.File("v.iq"), VrtBytes({C1, Data, C2}, true));
  const TIQSource Vs = OpenSource(D.File("v.iq"));
  EXPECT_EQ(Vs.GetFormatInfo().Kind, iqkVita49);
  EXPECT_EQ(Vs.GetFormatName(), IQ_NAME_VITA_BE);
  EXPECT_TRUE(Vs.GetHasDetectedSampleRate());
  EXPECT_EQ(Vs.GetDetectedSampleRate(), 1e6);
  ASSERT_EQ(Vs.TotalSamples(), 20);
  TComplexArray S = Vs.LoadSegment(-5, 3);
  ASSERT_EQ(S.size(), 3u);
  EXPECT_EQ(S[0].Re, -2000 / 32768.0f);
  EXPECT_EQ(S[2].Im, -1500 / 32768.0f);
  S = Vs.LoadSegment(10, -1);
  ASSERT_EQ(S.size(), 10u);
  EXPECT_EQ(S[0].Re, (10 * 200 - 2000) / 32768.0f);
  EXPECT_TRUE(Vs.LoadSegment(20, 5).empty());
  EXPECT_TRUE(Vs.LoadSegment(3, 0).empty());
  EXPECT_EQ(Vs.LoadSegment(15, 100).size(), 5u);
  // Read from the file on demand, like raw recordings: once it is gone, nothing.
  std::filesystem::remove(D.File("v.iq"));
  EXPECT_TRUE(Vs.LoadSegment(0, 100).empty());

  // Without a context packet in front, the decoder's (last) rate is reported.
  C1.Body = ContextRateBody(1e6, false);
  C2.Body = ContextRateBody(2e6, false);
  Data.Body = I16Payload(V, false);
  WriteBytes(D.File("w.iq"), VrtBytes({Data, C1, Data, C2}, false));
  const TIQSource Ws = OpenSource(D.File("w.iq"));
  EXPECT_EQ(Ws.GetFormatName(), IQ_NAME_VITA_LE);
  EXPECT_EQ(Ws.GetDetectedSampleRate(), 2e6);
  EXPECT_EQ(Ws.TotalSamples(), 40);

  // WAV: the fmt rate is always reported.
  TBytes Pcm;
  for (int I = 0; I < 8; ++I)
    PutU16(Pcm, static_cast<uint16_t>(I * 1000));
  WriteBytes(D.File("a.cs16"), Riff({Chunk("fmt ", FmtBody(1, 2, 250000, 16)), Chunk("data", Pcm)}));
  const TIQSource As = OpenSource(D.File("a.cs16"));
  EXPECT_EQ(As.GetFormatInfo().Kind, iqkWav);
  EXPECT_EQ(As.GetDetectedSampleRate(), 250000);
  EXPECT_EQ(As.TotalSamples(), 4);
  S = As.LoadSegment(3, 10);
  ASSERT_EQ(S.size(), 1u);
  EXPECT_EQ(S[0].Im, 7000 / 32768.0f);
}

// A raw recording beyond 4 GiB: counts and offsets must be 64-bit in both architectures.
TEST(TIQSource, SparseFileBeyondFourGiB) {
  TTempDir D;
  const std::string P = D.File("big.cs16");
  const int64_t Size = int64_t(5) << 30;
  {
    std::FILE *F = std::fopen(P.c_str(), "wb");
    ASSERT_NE(F, nullptr);
#ifdef _WIN32
    const int Rc = _fseeki64(F, Size - 8, SEEK_SET);
#else
    const int Rc = fseeko(F, static_cast<off_t>(Size - 8), SEEK_SET);
#endif
    const uint8_t Tail[8] = {0x01, 0x00, 0xFF, 0xFF, 0x00, 0x40, 0x00, 0xC0};
    const bool Ok = Rc == 0 && std::fwrite(Tail, 1, 8, F) == 8;
    std::fclose(F);
    if (!Ok)
      GTEST_SKIP() << "cannot write a sparse 5 GiB file here";
  }
  const TIQSource Src = OpenSource(P);
  EXPECT_EQ(Src.GetFormatInfo().Kind, iqkInt16);
  ASSERT_EQ(Src.TotalSamples(), 1342177280);
  const TComplexArray S = Src.LoadSegment(Src.TotalSamples() - 2, 5);
  ASSERT_EQ(S.size(), 2u);
  EXPECT_EQ(S[0].Re, 1 / 32768.0f);
  EXPECT_EQ(S[0].Im, -1 / 32768.0f);
  EXPECT_EQ(S[1].Re, 0.5f);
  EXPECT_EQ(S[1].Im, -0.5f);
  // A sample just past the 4 GiB mark is zero (a hole), not a wrapped-around read.
  const TComplexArray Mid = Src.LoadSegment((int64_t(1) << 30) + 1, 1);
  ASSERT_EQ(Mid.size(), 1u);
  EXPECT_EQ(Mid[0].Re, 0.0f);
}
