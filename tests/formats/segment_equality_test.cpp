// The segment readers against the whole-file decoders, on many generated files: every
// segment must hold exactly the samples (bit for bit) that decoding the whole file gives.
#include "formats/fmt_fixtures.h"

#include "formats/uIQFormats.h"

#include <cstring>
#include <random>

namespace {

void ExpectSameSamples(const TComplexArray &Got, const TComplexArray &All, int64_t Start,
                       const std::string &What) {
  for (size_t K = 0; K < Got.size(); ++K) {
    const TComplexSample &W = All[static_cast<size_t>(Start) + K];
    ASSERT_EQ(std::memcmp(&Got[K], &W, sizeof W), 0) << What << " sample " << Start + static_cast<int64_t>(K);
  }
}

// Whole reads, random segments and the edges, against the reference samples.
void CheckSegments(const TIQSource &Src, const TComplexArray &All, std::mt19937 &Rng,
                   const std::string &What) {
  const int64_t Total = static_cast<int64_t>(All.size());
  ASSERT_EQ(Src.TotalSamples(), Total) << What;
  const TComplexArray Whole = Src.LoadSegment(0, -1);
  ASSERT_EQ(Whole.size(), All.size()) << What;
  ExpectSameSamples(Whole, All, 0, What);
  TIQStretchReader Kept(Src); // one open file for every segment below
  for (int R = 0; R < 40; ++R) {
    const int64_t Start = Total > 0 ? static_cast<int64_t>(Rng() % static_cast<uint32_t>(Total + 3)) - 1 : 0;
    const int32_t Count = static_cast<int32_t>(Rng() % 5000);
    const TComplexArray S = Src.LoadSegment(Start, Count);
    const int64_t From = std::max<int64_t>(Start, 0);
    ASSERT_EQ(static_cast<int64_t>(S.size()), std::max<int64_t>(0, std::min<int64_t>(Count, Total - From)))
        << What << " " << Start << "+" << Count;
    ExpectSameSamples(S, All, From, What);
    TComplexArray Into(static_cast<size_t>(Count));
    Into.resize(Src.ReadSegment(Start, Into));
    ExpectSameSamples(Into, All, From, What);
    EXPECT_EQ(Into.size(), S.size()) << What;
    Into.assign(static_cast<size_t>(Count), {});
    Into.resize(Kept.Read(Start, Into));
    ExpectSameSamples(Into, All, From, What + " kept open");
    EXPECT_EQ(Into.size(), S.size()) << What << " kept open";
  }
}

TBytes RandomVita(std::mt19937 &Rng, bool Big, size_t Packets) {
  std::vector<TVrtPacket> Ps;
  for (size_t I = 0; I < Packets; ++I) {
    TVrtPacket P;
    const uint32_t Pick = Rng() % 10;
    P.Type = Pick < 6 ? Rng() % 2 : Pick < 8 ? 2 + Rng() % 2 : 4 + Rng() % 2;
    P.C = Rng() % 4 == 0;
    P.T = Rng() % 3 == 0;
    P.TSI = Rng() % 2 ? Rng() % 4 : 0;
    P.TSF = Rng() % 2 ? Rng() % 4 : 0;
    if (P.Type >= 4) {
      P.Body = ContextRateBody(1000.0 * (1 + Rng() % 5000), Big,
                               (Rng() % 2 ? 1u << 29 : 0) | (Rng() % 2 ? 1u << 24 : 0));
    } else {
      // Mostly small packets, now and then one near the largest size.
      const size_t Words = Rng() % 8 == 0 ? 8000 + Rng() % 50000 : Rng() % 300;
      P.Body.resize(Words * 4);
      for (uint8_t &B : P.Body)
        B = static_cast<uint8_t>(Rng());
    }
    Ps.push_back(std::move(P));
  }
  TBytes B = VrtBytes(Ps, Big);
  switch (Rng() % 4) {
  case 0: // a last packet cut short
    B.resize(B.size() - 1 - Rng() % 8);
    break;
  case 1: // junk that ends the chain
    for (int K = 0; K < 64; ++K)
      B.push_back(static_cast<uint8_t>(0xF0 | (Rng() & 0x0F)));
    break;
  default:
    break;
  }
  return B;
}

} // namespace

TEST(SegmentReads, VitaMatchesWholeFileDecoding) {
  TTempDir D;
  std::mt19937 Rng(4711);
  for (int F = 0; F < 40; ++F) {
    const bool Big = F % 2 == 0;
    const TBytes B = RandomVita(Rng, Big, F < 30 ? 1 + Rng() % 40 : 60 + Rng() % 40);
    const std::string P = D.File("v" + std::to_string(F) + ".iq");
    WriteBytes(P, B);
    TComplexArray All;
    double Rate = 0;
    bool HasRate = false, DecBig = true;
    DecodeVita49(P, All, Rate, HasRate, &DecBig);
    const TV49Index Index = BuildVita49Index(P);
    EXPECT_EQ(Index.Big, DecBig) << F;
    EXPECT_EQ(Index.HasSampleRate, HasRate) << F;
    EXPECT_EQ(Index.SampleRate, Rate) << F;
    // The sda-wav hint takes every file as VITA-49, whatever its head looks like.
    const TIQSource Src(P, "sda-wav");
    CheckSegments(Src, All, Rng, "vita " + std::to_string(F));
  }
}

TEST(SegmentReads, WavMatchesWholeFileDecoding) {
  TTempDir D;
  std::mt19937 Rng(815);
  const uint32_t Widths[] = {8, 16, 24, 32};
  int Decoded = 0;
  for (int F = 0; F < 60; ++F) {
    const uint32_t Bits = Widths[Rng() % 4];
    const uint32_t Channels = 1 + Rng() % 5;
    const uint32_t Tag = Rng() % 6 == 0 ? 3 : Rng() % 10 == 0 ? 2 : 1;
    TBytes Data((Rng() % 4 == 0 ? 100000 : 1) + Rng() % 5000);
    for (uint8_t &X : Data)
      X = static_cast<uint8_t>(Rng());
    if (Tag == 3) // finite floats, so that equality means the same bits
      for (size_t K = 3; K < Data.size(); K += 4)
        Data[K] &= 0x3F;
    std::vector<TBytes> Chunks{Chunk("fmt ", FmtBody(Tag, Channels, 1000 + Rng() % 100000, Bits))};
    if (Rng() % 2)
      Chunks.push_back(Chunk("LIST", TBytes(Rng() % 9, 0x20)));
    TBytes Body = Riff(Chunks);
    const TBytes DataChunk =
        Chunk("data", Data, Rng() % 3 == 0 ? static_cast<int64_t>(Data.size()) + 999 : -1);
    Body.insert(Body.end(), DataChunk.begin(), DataChunk.end());
    if (Rng() % 3 == 0)
      Body.resize(Body.size() - Rng() % 100);
    const std::string P = D.File("w" + std::to_string(F) + ".cs8");
    WriteBytes(P, Body);
    TComplexArray All;
    double Rate = 0;
    bool HasRate = false;
    DecodeWav(P, All, Rate, HasRate);
    const TIQSource Src(P, "");
    ASSERT_EQ(Src.GetFormatInfo().Kind, iqkWav);
    EXPECT_EQ(Src.GetHasDetectedSampleRate(), HasRate) << F;
    if (!All.empty()) {
      EXPECT_EQ(Src.GetFormatName(), IQ_NAME_WAV) << F;
      ++Decoded;
    }
    CheckSegments(Src, All, Rng, "wav " + std::to_string(F));
  }
  EXPECT_GT(Decoded, 20); // the generator makes decodable files as well as refused ones
}

// The index stays small: one checkpoint per 64 KiB of file at most, whatever the packets.
TEST(SegmentReads, VitaIndexIsSparse) {
  TTempDir D;
  TVrtPacket Tiny; // one sample per packet, 12 bytes each
  Tiny.Type = 1;
  Tiny.Body = I16Payload({1, 2}, true);
  const TBytes B = VrtBytes(std::vector<TVrtPacket>(60000, Tiny), true);
  const std::string P = D.File("t.iq");
  WriteBytes(P, B);
  const TV49Index Index = BuildVita49Index(P);
  EXPECT_EQ(Index.TotalSamples, 60000);
  EXPECT_LE(Index.Checkpoints.size(), B.size() / V49_CHECKPOINT_BYTES + 1);
  const TIQSource Src(P, "");
  const TComplexArray S = Src.LoadSegment(59990, 100);
  ASSERT_EQ(S.size(), 10u);
  EXPECT_EQ(S[9].Re, 1 / 32768.0f);
}
