// What a hostile or merely odd recording can do to the readers: overflowing requests, fields
// read outside their packet, useless rates, WAV encodings that are not PCM or float.
#include "formats/fmt_fixtures.h"

#include "formats/uIQFormats.h"
#include "metadata/uMetadata.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

TIQSource Open(const std::string &Path) {
  return TIQSource(Path, ReadFormatHint(Path));
}

TBytes SmallWav() {
  TBytes Pcm;
  for (int I = 0; I < 40; ++I)
    PutU16(Pcm, static_cast<uint16_t>(I * 300));
  return Riff({Chunk("fmt ", FmtBody(1, 2, 48000, 16)), Chunk("data", Pcm)});
}

TBytes SmallVita() {
  TVrtPacket P;
  P.Body = I16Payload({1, 2, 3, 4, 5, 6, 7, 8}, true);
  return VrtBytes({P, P, P}, true);
}

} // namespace

// A start near the top of the 64-bit range must not overflow start + count.
TEST(Hostile, HugeStartsGiveEmptySegments) {
  TTempDir D;
  WriteBytes(D.File("w.iq"), SmallWav());
  WriteBytes(D.File("v.iq"), SmallVita());
  WriteBytes(D.File("r.cs16"), TBytes(64, 1));
  constexpr int64_t Max = std::numeric_limits<int64_t>::max();
  for (const char *Name : {"w.iq", "v.iq", "r.cs16"}) {
    const TIQSource S = Open(D.File(Name));
    ASSERT_GT(S.TotalSamples(), 0) << Name;
    const std::pair<int64_t, int32_t> Reqs[] = {
        {Max, 1}, {Max - 5, 100}, {Max, std::numeric_limits<int32_t>::max()}, {Max / 2, 1 << 30}};
    for (const auto &[Start, Count] : Reqs)
      EXPECT_TRUE(S.LoadSegment(Start, Count).empty()) << Name << " " << Start;
    EXPECT_EQ(
        static_cast<int64_t>(S.LoadSegment(S.TotalSamples() - 1, std::numeric_limits<int32_t>::max()).size()),
        1)
        << Name;
  }
}

// A context packet shorter than its announced fields: nothing is read past its end, in the
// detection probe, the whole-file decoder and the source alike.
TEST(Hostile, ContextFieldsOnlyInsideThePacket) {
  TTempDir D;
  for (bool Big : {true, false}) {
    TVrtPacket Ctx;
    Ctx.Type = 4;
    Ctx.Body = ContextRateBody(1e6, Big);
    Ctx.Body.resize(4); // only CIF0 remains; the rate field would lie in the next packet
    TVrtPacket Data;
    Data.Body = I16Payload({0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF, 100, 200}, Big);
    const TBytes B = VrtBytes({Ctx, Data, Data}, Big);
    const std::string P = D.File(Big ? "b.iq" : "l.iq");
    WriteBytes(P, B);

    const TIQFormatInfo Info = VitaInfo(B, static_cast<int32_t>(B.size()));
    EXPECT_FALSE(Info.HasDetectedSampleRate) << Info.DetectedSampleRate;
    TComplexArray S;
    double Rate = 0;
    bool Has = true;
    DecodeVita49(P, S, Rate, Has);
    EXPECT_FALSE(Has) << Rate;
    EXPECT_EQ(S.size(), 6u);
    const TIQSource Src = Open(P);
    EXPECT_FALSE(Src.GetHasDetectedSampleRate()) << Src.GetDetectedSampleRate();
    EXPECT_EQ(Src.TotalSamples(), 6);

    double SR = -1;
    EXPECT_FALSE(V49ContextSampleRate(B, 8, 12, Big, SR)); // N is the packet's end
    EXPECT_EQ(SR, 0);
  }
}

// A rate that is zero, negative or absurdly small is no rate; the last usable one stays.
TEST(Hostile, UselessVitaRatesAreNotDetected) {
  TTempDir D;
  struct {
    double First, Last;
    bool Has;
    double Want;
  } Cases[] = {
      {0, 0, false, 0},    {-2e6, -2e6, false, 0}, {1e-6, 1e-6, false, 0},
      {0, 5e5, true, 5e5}, {3e5, 0, true, 3e5},    {2e6, -1, true, 2e6},
  };
  std::vector<int16_t> V;
  for (int I = 0; I < 2 * 1200; ++I)
    V.push_back(static_cast<int16_t>(10000 * std::sin(I * 0.3)));
  int K = 0;
  for (const auto &C : Cases) {
    TVrtPacket C1, C2, Data;
    C1.Type = C2.Type = 4;
    C1.Body = ContextRateBody(C.First, true);
    C2.Body = ContextRateBody(C.Last, true);
    Data.Body = I16Payload(V, true);
    const std::string P = D.File("r" + std::to_string(K++) + ".iq");
    WriteBytes(P, VrtBytes({C1, Data, C2}, true));
    const TIQSource Src = Open(P);
    EXPECT_EQ(Src.GetHasDetectedSampleRate(), C.Has) << C.First << " " << C.Last;
    if (C.Has) {
      EXPECT_EQ(Src.GetDetectedSampleRate(), C.Want);
    }
    EXPECT_EQ(Src.TotalSamples(), 1200);
  }
}

// Only PCM and IEEE float are decoded, plain or extensible; everything else is refused with a
// name that says why. A fmt chunk shorter than 16 bytes is not read from what follows it.
TEST(Hostile, WavEncodingsOtherThanPcmOrFloatAreRefused) {
  TTempDir D;
  TBytes Data(64, 0x11);
  auto Extensible = [](uint32_t SubTag) {
    TBytes E = FmtBody(0xFFFE, 2, 8000, 16);
    PutU16(E, 22);
    PutU16(E, 16);
    PutU32(E, 3);
    PutU16(E, SubTag);
    E.insert(E.end(), {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
    return E;
  };
  TBytes ShortFmt = FmtBody(1, 2, 8000, 16);
  ShortFmt.resize(14);
  struct {
    const char *What;
    TBytes Fmt;
    const char *Reason; // part of the name; empty: decoded
    size_t Samples;
  } Cases[] = {
      {"pcm", FmtBody(1, 2, 8000, 16), "", 16},
      {"adpcm", FmtBody(2, 2, 8000, 16), "0x0002", 0},
      {"a-law", FmtBody(6, 2, 8000, 8), "0x0006", 0},
      {"mu-law", FmtBody(7, 2, 8000, 8), "0x0007", 0},
      {"mp3", FmtBody(0x55, 2, 8000, 16), "0x0055", 0},
      {"float16", FmtBody(3, 2, 8000, 16), "float", 0},
      {"ext pcm", Extensible(1), "", 16},
      {"ext adpcm", Extensible(2), "0x0002", 0},
      {"short fmt", ShortFmt, "fmt", 0},
      {"mono", FmtBody(1, 1, 8000, 16), "channel", 0},
      {"12-bit", FmtBody(1, 2, 8000, 12), "12", 0},
  };
  for (const auto &C : Cases) {
    const TBytes B = Riff({Chunk("fmt ", C.Fmt), Chunk("data", Data)});
    const std::string P = D.File("w.cs16");
    WriteBytes(P, B);
    TComplexArray S;
    double Rate = 0;
    bool Has = false;
    DecodeWav(P, S, Rate, Has);
    EXPECT_EQ(S.size(), C.Samples) << C.What;
    const TIQSource Src = Open(P);
    EXPECT_EQ(Src.GetFormatInfo().Kind, iqkWav) << C.What;
    EXPECT_EQ(Src.TotalSamples(), static_cast<int64_t>(C.Samples)) << C.What;
    EXPECT_EQ(Src.LoadSegment(0, 100).size(), C.Samples) << C.What;
    if (C.Samples > 0) {
      EXPECT_EQ(Src.GetFormatName(), IQ_NAME_WAV) << C.What;
    } else {
      EXPECT_NE(Src.GetFormatName().find("not decoded"), std::string::npos)
          << C.What << ": " << Src.GetFormatName();
      EXPECT_NE(Src.GetFormatName().find(C.Reason), std::string::npos)
          << C.What << ": " << Src.GetFormatName();
    }
  }
  // The short fmt chunk's "rate" would be the next chunk's bytes: none is reported.
  const std::string P = D.File("s.cs16");
  WriteBytes(P, Riff({Chunk("fmt ", ShortFmt), Chunk("data", Data)}));
  EXPECT_FALSE(Open(P).GetHasDetectedSampleRate());
}
