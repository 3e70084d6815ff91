// Recordings as real streams write them: VITA-49 with large packets, several context streams,
// CIF enable words and command packets only; raw recordings that repeat a header word; 24-bit
// WAV in four-byte containers. Every file is written byte by byte here, and the expected
// values come from the values written, not from the readers' tables.
#include "formats/fmt_fixtures.h"

#include "formats/uIQFormats.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace {

// A DIFI-style stream: a standard context packet (type 4) and a version context packet (type
// 5), each with its own packet count, then data packets (type 1) of PerPacket samples; class
// id and both timestamps everywhere. Counts advance per stream, as real streams number them.
struct TStreamSpec {
  bool Big = true;
  size_t Packets = 6;
  size_t PerPacket = 2250; // 9 KB packets
  double Rate = 250e6;
  double Rf = 1.5e9;
  uint32_t CifEnables = 0; // CIF0 bits 1, 2, 3, 7: one enable word each after CIF0
};

uint32_t Header(uint32_t Type, uint32_t Count, size_t Words) {
  return Type << 28 | 1u << 27 | 1u << 22 | 2u << 20 | (Count & 15u) << 16 | static_cast<uint32_t>(Words);
}

void PutPrologue(TBytes &B, uint32_t Type, uint32_t Count, size_t Words, uint32_t Sid, bool Big) {
  PutU32(B, Header(Type, Count, Words), Big);
  PutU32(B, Sid, Big);
  PutU32(B, 0x007C386C, Big); // class id: OUI
  PutU32(B, 0x00000001, Big); // information and packet class codes
  PutU32(B, 1700000000, Big); // integer timestamp
  PutU64(B, 0, Big);          // fractional timestamp
}

int16_t SampleAt(size_t K, int Part) {
  return static_cast<int16_t>(static_cast<int32_t>((K * 7919 + static_cast<size_t>(Part) * 104729) % 65536) -
                              32768);
}

TBytes DifiStream(const TStreamSpec &S) {
  TBytes B;
  for (size_t P = 0; P < S.Packets; ++P) {
    if (P % 3 == 0) {
      // Standard context: CIF0, the enable words, RF reference (27), sample rate (21).
      TBytes F;
      PutU32(F, 1u << 27 | 1u << 21 | S.CifEnables, S.Big);
      for (int E : {1, 2, 3, 7})
        if (S.CifEnables & (1u << E))
          PutU32(F, 0, S.Big); // no field of the enabled words is set
      PutU64(F, static_cast<uint64_t>(S.Rf * 1048576.0), S.Big);
      PutU64(F, static_cast<uint64_t>(S.Rate * 1048576.0), S.Big);
      PutPrologue(B, 4, static_cast<uint32_t>(P / 3), 7 + F.size() / 4, 0x100, S.Big);
      B.insert(B.end(), F.begin(), F.end());
      // Version context: CIF0 with only the state-and-events word.
      PutPrologue(B, 5, static_cast<uint32_t>(P / 3), 9, 0x100, S.Big);
      PutU32(B, 1u << 16, S.Big);
      PutU32(B, 0, S.Big);
    }
    PutPrologue(B, 1, static_cast<uint32_t>(P), 7 + S.PerPacket, 0x100, S.Big);
    for (size_t K = P * S.PerPacket; K < (P + 1) * S.PerPacket; ++K) {
      PutU16(B, static_cast<uint16_t>(SampleAt(K, 0)), S.Big);
      PutU16(B, static_cast<uint16_t>(SampleAt(K, 1)), S.Big);
    }
  }
  return B;
}

TIQSource Open(const std::string &Path) {
  return TIQSource(Path, "");
}

} // namespace

// Packets larger than the head, several context streams, and the usual VITA-49 extensions; a
// recording cut short in its last packet still reads under those extensions.
TEST(RealStreams, LargePacketsAndVitaExtensions) {
  TTempDir D;
  for (bool Big : {true, false}) {
    TStreamSpec S;
    S.Big = Big;
    const TBytes B = DifiStream(S);
    TBytes Cut = B;
    Cut.resize(B.size() - 1000);
    struct {
      const char *Name;
      const TBytes *Bytes;
      bool Vita;
      int64_t Samples;
    } Cases[] = {
        {"difi.vrt", &B, true, 6 * 2250},
        {"difi.VITA49", &B, true, 6 * 2250},
        {"difi.vita", &B, true, 6 * 2250},
        {"difi.vrt49", &B, true, 6 * 2250},
        {"difi.iq", &B, true, 6 * 2250},
        {"difi.cs16", &B, true, 6 * 2250},
        {"cut.vrt", &Cut, true, 5 * 2250},
        {"cut.vrt49", &Cut, true, 5 * 2250},
        {"cut.cs16", &Cut, false, 0},
        {"cut.iq", &Cut, true, 5 * 2250}, // two packets in the head, as before
    };
    for (const auto &C : Cases) {
      const std::string What = std::string(C.Name) + (Big ? " BE" : " LE");
      WriteBytes(D.File(C.Name), *C.Bytes);
      const TIQSource Src = Open(D.File(C.Name));
      ASSERT_EQ(Src.GetFormatInfo().Kind == iqkVita49, C.Vita) << What << ": " << Src.GetFormatName();
      if (!C.Vita)
        continue;
      EXPECT_EQ(Src.TotalSamples(), C.Samples) << What;
      EXPECT_EQ(Src.GetDetectedSampleRate(), 250e6) << What;
      EXPECT_EQ(Src.GetFormatInfo().DetectedCenterFreqHz, 1.5e9) << What;
      const TComplexArray X = Src.LoadSegment(4499, 2);
      ASSERT_EQ(X.size(), 2u) << What;
      EXPECT_EQ(X[0].Re, SampleAt(4499, 0) / 32768.0f) << What;
      EXPECT_EQ(X[1].Im, SampleAt(4500, 1) / 32768.0f) << What;
    }
  }
}

// CIF1, CIF2, CIF3 and CIF7 enable words stand between CIF0 and the fields; every field
// reader steps over them.
TEST(RealStreams, CifEnableWordsBeforeTheFields) {
  TTempDir D;
  for (uint32_t Enables : {0u, 1u << 1, 1u << 2, 1u << 3, 1u << 7, 1u << 1 | 1u << 2 | 1u << 3 | 1u << 7})
    for (bool Big : {true, false}) {
      TStreamSpec S;
      S.Big = Big;
      S.Packets = 3;
      S.PerPacket = 300;
      S.Rate = 30.72e6;
      S.Rf = 3.5e9;
      S.CifEnables = Enables;
      WriteBytes(D.File("cif.vrt"), DifiStream(S));
      const TIQSource Src = Open(D.File("cif.vrt"));
      ASSERT_EQ(Src.GetFormatInfo().Kind, iqkVita49) << Enables;
      EXPECT_EQ(Src.GetDetectedSampleRate(), 30.72e6) << Enables << Big;
      EXPECT_EQ(Src.GetFormatInfo().DetectedCenterFreqHz, 3.5e9) << Enables << Big;
      EXPECT_EQ(Src.TotalSamples(), 900) << Enables;
    }
}

// Every field the walker knows, with every combination of its neighbours before it: the
// offset is the sum of the documented sizes of the fields set above it and the enable words.
TEST(RealStreams, CifWalkerAgainstTheFieldList) {
  uint32_t Seed = 12345;
  for (int Round = 0; Round < 400; ++Round) {
    Seed = Seed * 1103515245u + 12345u;
    const uint32_t Cif0 = (Seed & 0x7FFFFC00u) | ((Seed >> 3) & 0x8Eu); // fields and enable bits
    int64_t Expect = 4 + 4 * static_cast<int64_t>(std::popcount(Cif0 & 0x8Eu));
    int64_t Total = Expect;
    for (const TCifField &F : CIF0_FIELDS)
      if (Cif0 & (1u << F.Bit))
        Total += 4 * F.Words;
    const TByteArray Buf = [&] {
      TBytes B;
      PutU32(B, Cif0, true);
      B.resize(static_cast<size_t>(Total), 0);
      return B;
    }();
    for (const TCifField &F : CIF0_FIELDS) {
      int64_t Off = -1;
      const bool Set = (Cif0 & (1u << F.Bit)) != 0;
      EXPECT_EQ(V49ContextFieldOff(Buf, 0, Total, true, F.Bit, Off), Set) << std::hex << Cif0 << " " << F.Bit;
      if (Set) {
        EXPECT_EQ(Off, Expect) << std::hex << Cif0 << std::dec << " bit " << F.Bit;
        // A packet that ends one byte before the field does is refused.
        EXPECT_FALSE(V49ContextFieldOff(Buf, 0, Expect + 4 * F.Words - 1, true, F.Bit, Off)) << F.Bit;
        Expect += 4 * F.Words;
      }
    }
  }
}

// A stream of only command packets (a controller's log) is VITA-49 with no samples, not raw
// bytes; the name says so.
TEST(RealStreams, CommandPacketsOnly) {
  TTempDir D;
  for (bool Big : {true, false}) {
    TBytes B;
    for (uint32_t K = 0; K < 40; ++K) {
      PutU32(B, 6u << 28 | (K & 15u) << 16 | 7u, Big); // stream id, CAM, message id, CIF0, RF
      PutU32(B, 0x00000A01, Big);
      PutU32(B, 0x80000000u, Big);
      PutU32(B, K, Big);
      PutU32(B, 1u << 27, Big);
      PutU64(B, static_cast<uint64_t>((100e6 + K * 1e6) * 1048576.0), Big);
    }
    for (const char *Name : {"cmd.vrt", "cmd.iq", "cmd.cs16"}) {
      WriteBytes(D.File(Name), B);
      const TIQSource Src = Open(D.File(Name));
      ASSERT_EQ(Src.GetFormatInfo().Kind, iqkVita49) << Name;
      EXPECT_EQ(Src.TotalSamples(), 0) << Name;
      EXPECT_FALSE(Src.GetFormatInfo().HasDetectedCenterFreq) << Name; // a commanded frequency only
      EXPECT_EQ(Src.GetFormatName(),
                std::string("VITA-49/VRT (") + (Big ? "BE" : "LE") + ", command packets only, no samples)")
          << Name;
    }
  }
}

// Raw recordings of a constant value read as chains of identical packets that tile the file;
// their packet counts never advance, so a raw-type name keeps them raw. A real stream of the
// same shape counts its packets and is taken.
TEST(RealStreams, ConstantRawRecordingsStayRaw) {
  TTempDir D;
  struct {
    const char *Name;
    std::vector<int16_t> Pattern; // one period, as 16-bit little-endian values
    size_t Repeats;
  } Cases[] = {
      {"dc.cs16", {16, 0}, 4096},              // type 0, 16 words
      {"dc.sc16", {16, 0}, 300000},            // beyond the first MiB
      {"dc.cs16", {0x100, 0x1000}, 2048},      // type 1, 256 words: the stream id repeats too
      {"dc.cs8", {16, 0}, 3008},               // 8-bit: (16, 0), (0, 0)
      {"dc.c16", {8, 0x4000, 8, 0x4000}, 512}, // context packets of 8 words
  };
  for (const auto &C : Cases) {
    TBytes B;
    for (size_t R = 0; R < C.Repeats; ++R)
      for (int16_t V : C.Pattern)
        PutU16(B, static_cast<uint16_t>(V));
    WriteBytes(D.File(C.Name), B);
    EXPECT_NE(Open(D.File(C.Name)).GetFormatInfo().Kind, iqkVita49) << C.Name << " " << C.Pattern[0];
    // The same chain with counts that advance is a stream.
    const uint32_t W0 = uint32_t(B[0]) | uint32_t(B[1]) << 8 | uint32_t(B[2]) << 16 | uint32_t(B[3]) << 24;
    const size_t Bytes = 4 * (W0 & 0xFFFF);
    for (size_t P = 0, K = 0; P + 4 <= B.size(); P += Bytes, ++K)
      B[P + 2] = static_cast<uint8_t>((B[P + 2] & 0xF0) | (K & 15));
    WriteBytes(D.File(C.Name), B);
    EXPECT_EQ(Open(D.File(C.Name)).GetFormatInfo().Kind, iqkVita49) << C.Name << " counted";
  }
  // A stream that lost a packet now and then still counts.
  TStreamSpec S;
  S.Big = false;
  S.Packets = 40;
  S.PerPacket = 100;
  TBytes B = DifiStream(S);
  // The fifth data packet goes missing.
  size_t Off = 0, Data = 0;
  while (Off < B.size()) {
    const uint32_t W0 = uint32_t(B[Off]) | uint32_t(B[Off + 1]) << 8 | uint32_t(B[Off + 2]) << 16 |
                        uint32_t(B[Off + 3]) << 24;
    const size_t Len = 4 * (W0 & 0xFFFF);
    if ((W0 >> 28) == 1 && ++Data == 5) {
      B.erase(B.begin() + static_cast<long>(Off), B.begin() + static_cast<long>(Off + Len));
      break;
    }
    Off += Len;
  }
  ASSERT_EQ(Data, 5u);
  WriteBytes(D.File("lost.cs16"), B);
  const TIQSource Lost = Open(D.File("lost.cs16"));
  EXPECT_EQ(Lost.GetFormatInfo().Kind, iqkVita49);
  EXPECT_EQ(Lost.TotalSamples(), 39 * 100);
}

// 24-bit PCM in four-byte containers: the block align steps the frames, the valid bits stand
// in the top three bytes of each container. Three-byte packing and a block align that does
// not fit the channels keep the packed reading.
TEST(RealStreams, Wav24BitContainers) {
  TTempDir D;
  const int32_t Values[][2] = {{8388607, -8388608}, {-1, 1}, {4194304, -4194304}, {123456, -654321}};
  struct {
    const char *What;
    uint32_t Tag;
    uint32_t BlockAlign;
    uint32_t Container;
  } Cases[] = {
      {"PCM, block align 8", 1, 8, 4}, {"extensible, block align 8", 0xFFFE, 8, 4},
      {"PCM, block align 6", 1, 6, 3}, {"PCM, block align 0", 1, 0, 3},
      {"PCM, block align 7", 1, 7, 3},
  };
  for (const auto &C : Cases) {
    TBytes Fmt;
    PutU16(Fmt, C.Tag);
    PutU16(Fmt, 2);
    PutU32(Fmt, 96000);
    PutU32(Fmt, 96000 * C.BlockAlign);
    PutU16(Fmt, C.BlockAlign);
    PutU16(Fmt, 24);
    if (C.Tag == 0xFFFE) {
      PutU16(Fmt, 22);
      PutU16(Fmt, 24); // valid bits
      PutU32(Fmt, 3);  // channel mask
      PutU16(Fmt, 1);  // PCM sub-format GUID
      Fmt.insert(Fmt.end(),
                 {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
    }
    TBytes Data;
    for (const auto &V : Values)
      for (int32_t X : V) {
        const uint32_t U = static_cast<uint32_t>(X);
        if (C.Container == 4)
          Data.push_back(0); // the pad byte below the valid bits
        Data.insert(Data.end(), {uint8_t(U), uint8_t(U >> 8), uint8_t(U >> 16)});
      }
    WriteBytes(D.File("w24.wav"), Riff({Chunk("fmt ", Fmt), Chunk("data", Data)}));
    const TIQSource Src = Open(D.File("w24.wav"));
    ASSERT_EQ(Src.TotalSamples(), 4) << C.What;
    const TComplexArray X = Src.LoadSegment(0, 10);
    ASSERT_EQ(X.size(), 4u) << C.What;
    for (size_t K = 0; K < 4; ++K) {
      EXPECT_EQ(X[K].Re, static_cast<float>(Values[K][0] / 8388608.0)) << C.What << " " << K;
      EXPECT_EQ(X[K].Im, static_cast<float>(Values[K][1] / 8388608.0)) << C.What << " " << K;
    }
  }
}
