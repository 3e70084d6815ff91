#include "formats/fmt_fixtures.h"

#include "formats/uIQFormats.h"
#include "metadata/uMetadata.h"

namespace {

// Two IF data packets of 8 words: looks like a VRT stream.
TBytes TwoDataPackets(bool Big) {
  TVrtPacket P;
  P.Type = 1;
  P.Body = I16Payload({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, Big);
  return VrtBytes({P, P}, Big);
}

} // namespace

TEST(DetectIQFormat, DecisionTable) {
  const TBytes Plain(64, 0x11); // not RIFF, not VRT-like (type 1, size 0x1111 runs past the end)
  const TBytes Wav = Riff({Chunk("fmt ", FmtBody(1, 2, 48000, 16)), Chunk("data", TBytes(8, 0))});
  TBytes SdrIq{0x40, 0x42, 0x0F, 0x00};
  SdrIq.resize(28 + 8, 0);
  struct {
    const char *Name;
    const TBytes *Content; // nullptr: no file
    const char *Sidecar;   // nullptr: none
    TIQKind Kind;
    const char *DisplayName;
    int64_t Header;
    double Rate;
  } Cases[] = {
      {"capture.CF32", &Plain, nullptr, iqkFloat32, IQ_NAME_FLOAT32, 0, 0},
      {"a.cs16", &Plain, nullptr, iqkInt16, IQ_NAME_INT16, 0, 0},
      {"a.cs8", &Plain, nullptr, iqkInt8, IQ_NAME_INT8, 0, 0},
      {"a.iq", &Plain, nullptr, iqkInt8, IQ_NAME_INT8, 0, 0},
      {"a.raw", &Plain, nullptr, iqkInt8, IQ_NAME_INT8, 0, 0},
      {"noext", &Plain, nullptr, iqkInt8, IQ_NAME_INT8, 0, 0},
      {"wave.cf32", &Wav, nullptr, iqkWav, IQ_NAME_WAV, 0, 0},
      {"any.cs16", &SdrIq, " output_format=  SDRangel \n", iqkSdrIq, IQ_NAME_SDRIQ, 28, 1000000},
      {"wave2.iq", &Wav, "output_format=sda-wav\n", iqkVita49, IQ_NAME_VITA_BE, 0, 0},
      {"wave3.cs16", &Wav, "output_format=hackrf\n", iqkInt16, IQ_NAME_INT16, 0, 0},
      {"hint.sdriq", &SdrIq, "output_format=HackRF\n", iqkInt8, IQ_NAME_INT8, 0, 0},
      {"other.cf32", &Wav, "output_format=bladerf\n", iqkWav, IQ_NAME_WAV, 0, 0},
      {"rec.SDRIQ", &SdrIq, nullptr, iqkSdrIq, IQ_NAME_SDRIQ, 28, 1000000},
      {"missing.sdriq", nullptr, nullptr, iqkSdrIq, IQ_NAME_SDRIQ, 28, 0},
      {"missing.cf32", nullptr, nullptr, iqkFloat32, IQ_NAME_FLOAT32, 0, 0},
      {"missing.cs8", nullptr, "output_format=sdrangel\n", iqkSdrIq, IQ_NAME_SDRIQ, 28, 0},
  };
  TTempDir D;
  for (const auto &C : Cases) {
    const std::string Path = D.File(C.Name);
    if (C.Content)
      WriteBytes(Path, *C.Content);
    if (C.Sidecar)
      WriteText(SidecarPath(Path), C.Sidecar);
    const TIQFormatInfo I = DetectIQFormat(Path, ReadFormatHint(Path));
    EXPECT_EQ(I.Kind, C.Kind) << C.Name;
    EXPECT_EQ(I.Name, C.DisplayName) << C.Name;
    EXPECT_EQ(I.HeaderBytes, C.Header) << C.Name;
    EXPECT_EQ(I.DetectedSampleRate, C.Rate) << C.Name;
    EXPECT_EQ(I.HasDetectedSampleRate, C.Rate > 0) << C.Name;
    std::filesystem::remove(SidecarPath(Path));
  }
}

TEST(DetectIQFormat, VrtStreamsInBothByteOrders) {
  TTempDir D;
  for (bool Big : {true, false}) {
    const std::string Path = D.File(Big ? "be.iq" : "le.iq");
    WriteBytes(Path, TwoDataPackets(Big));
    const TIQFormatInfo I = DetectIQFormat(Path, ReadFormatHint(Path));
    EXPECT_EQ(I.Kind, iqkVita49);
    EXPECT_EQ(I.Name, Big ? IQ_NAME_VITA_BE : IQ_NAME_VITA_LE);
  }
}

TEST(SdrIqInfo, RateFromFirstFourBytes) {
  TTempDir D;
  WriteBytes(D.File("z.sdriq"), TBytes(40, 0));
  EXPECT_FALSE(SdrIqInfo(D.File("z.sdriq")).HasDetectedSampleRate);
  WriteBytes(D.File("s.sdriq"), TBytes{0x40, 0x42, 0x0F});
  EXPECT_FALSE(SdrIqInfo(D.File("s.sdriq")).HasDetectedSampleRate);
  WriteBytes(D.File("h.sdriq"), TBytes{0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(SdrIqInfo(D.File("h.sdriq")).DetectedSampleRate, 4294967295.0);
}

TEST(V49Readers, ByteOrdersAndSigns) {
  const TBytes B{0x80, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xFF};
  EXPECT_EQ(V49U32(B, 0, true), 0x80010203u);
  EXPECT_EQ(V49U32(B, 0, false), 0x03020180u);
  EXPECT_EQ(V49U32(B, 4, true), 0x040506FFu);
  EXPECT_EQ(V49I16(B, 0, true), static_cast<int16_t>(-32767));
  EXPECT_EQ(V49I16(B, 0, false), 0x0180);
  EXPECT_EQ(V49I16(B, 6, false), static_cast<int16_t>(-250));
  EXPECT_EQ(V49I64(B, 0, true), static_cast<int64_t>(0x80010203040506FFULL));
  EXPECT_EQ(V49I64(B, 0, false), static_cast<int64_t>(0xFF06050403020180ULL));
}

TEST(V49DetectByteOrder, FirstPlausibleReadingWins) {
  // Big-endian type 1 size 8; its little-endian reading (type 0, size 0x0010) fits too.
  EXPECT_TRUE(V49DetectByteOrder(TBytes{0x10, 0x00, 0x00, 0x08, 0, 0, 0, 0}, 8));
  // Only the little-endian reading is plausible.
  EXPECT_FALSE(V49DetectByteOrder(TBytes{0x02, 0x00, 0x00, 0x10}, 4));
  // Neither reading is plausible, or too short: big-endian.
  EXPECT_TRUE(V49DetectByteOrder(TBytes{0xFF, 0xFF, 0xFF, 0xFF}, 4));
  EXPECT_TRUE(V49DetectByteOrder(TBytes{0x02, 0x00}, 2));
  // Size must fit within Len + 4 bytes.
  EXPECT_TRUE(V49DetectByteOrder(TBytes{0x03, 0x00, 0x00, 0x10}, 4));
  EXPECT_TRUE(V49DetectByteOrder(TBytes{0x10, 0x00, 0x00, 0x03}, 8));
}

TEST(V49LooksLikeVRT, Heuristic) {
  for (bool Big : {true, false}) {
    const TBytes Two = TwoDataPackets(Big);
    EXPECT_TRUE(V49LooksLikeVRT(Two, static_cast<int32_t>(Two.size()), static_cast<int64_t>(Two.size())));
    // The second packet running past the end of the file spoils the walk.
    EXPECT_FALSE(
        V49LooksLikeVRT(Two, static_cast<int32_t>(Two.size()), static_cast<int64_t>(Two.size()) - 1));

    TVrtPacket Big1;
    Big1.Body = TBytes(1998 * 4, 0);
    TBytes One = VrtBytes({Big1, Big1}, Big); // 2000 words each
    One.resize(4096);
    EXPECT_FALSE(V49LooksLikeVRT(One, 4096, 16000));

    TVrtPacket E2, E3;
    E2.Type = 2;
    E2.Body = TBytes(8, 0);
    E3.Type = 3;
    E3.Body = TBytes(8, 0);
    const TBytes Ext = VrtBytes({E2, E3, E2, E3}, Big);
    EXPECT_FALSE(V49LooksLikeVRT(Ext, static_cast<int32_t>(Ext.size()), static_cast<int64_t>(Ext.size())));
    // One context packet among extension packets is enough.
    TVrtPacket Ctx;
    Ctx.Type = 4;
    Ctx.Body = ContextRateBody(1e6, Big);
    const TBytes Mixed = VrtBytes({E2, Ctx}, Big);
    EXPECT_TRUE(
        V49LooksLikeVRT(Mixed, static_cast<int32_t>(Mixed.size()), static_cast<int64_t>(Mixed.size())));
  }
  const TBytes Seven(7, 0x10);
  EXPECT_FALSE(V49LooksLikeVRT(Seven, 7, 7));
  // A HeadLen beyond the buffer is cut to it rather than read past it.
  const TBytes Short{0x10, 0x00, 0x00, 0x02, 0, 0, 0, 0};
  EXPECT_FALSE(V49LooksLikeVRT(Short, 4096, 1 << 20));
}

TEST(VitaInfo, ContextRateBehindAnnouncedHeaderWords) {
  struct {
    bool C;
    uint32_t TSI, TSF, Extra;
    double Rate;
  } Cases[] = {
      {false, 0, 0, 0, 2000000},
      {false, 0, 0, 1u << 29, 2000000},            // bandwidth field in front: 8 bytes further on
      {true, 0, 0, 0, 2000000},                    // class identifier: CIF0 after 4 words
      {true, 1, 1, 0, 30720000},                   // class id and both timestamps: after 7 words
      {false, 2, 0, (1u << 30) | (1u << 22), 1e6}, // reference point and over-range fields
      {false, 0, 3, 0x01FF0000u & ~(1u << 21), 250000.5},
  };
  for (bool Big : {true, false})
    for (const auto &C : Cases) {
      TVrtPacket P;
      P.Type = 4;
      P.C = C.C;
      P.TSI = C.TSI;
      P.TSF = C.TSF;
      P.Body = ContextRateBody(C.Rate, Big, C.Extra);
      const TBytes B = VrtBytes({P}, Big);
      const TIQFormatInfo I = VitaInfo(B, static_cast<int32_t>(B.size()));
      EXPECT_EQ(I.Kind, iqkVita49);
      EXPECT_EQ(I.Name, Big ? IQ_NAME_VITA_BE : IQ_NAME_VITA_LE);
      EXPECT_TRUE(I.HasDetectedSampleRate) << C.C << C.TSI << C.TSF;
      EXPECT_EQ(I.DetectedSampleRate, C.Rate) << C.C << C.TSI << C.TSF;
    }
}

TEST(VitaInfo, NoRateWhereNoneIsReadable) {
  TVrtPacket Data;
  Data.Body = ContextRateBody(1e6, true); // data packet: its payload is not a context field
  TBytes B = VrtBytes({Data}, true);
  EXPECT_FALSE(VitaInfo(B, static_cast<int32_t>(B.size())).HasDetectedSampleRate);

  TVrtPacket Ctx;
  Ctx.Type = 5;
  Ctx.Body = ContextRateBody(1e6, true);
  B = VrtBytes({Ctx}, true);
  EXPECT_TRUE(VitaInfo(B, static_cast<int32_t>(B.size())).HasDetectedSampleRate);
  // The rate field cut off by the head length.
  EXPECT_FALSE(VitaInfo(B, static_cast<int32_t>(B.size()) - 1).HasDetectedSampleRate);
  // CIF0 without bit 21.
  Ctx.Body = TBytes{0x20, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  B = VrtBytes({Ctx}, true);
  EXPECT_FALSE(VitaInfo(B, static_cast<int32_t>(B.size())).HasDetectedSampleRate);
  EXPECT_FALSE(VitaInfo(TBytes{0x40, 0, 0, 4}, 4).HasDetectedSampleRate);
}
