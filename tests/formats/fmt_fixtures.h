// Byte-level fixture helpers for the recording-access and sidecar tests: a private temp
// folder per test, and writers for raw, VITA-49 and WAV bytes.
#pragma once

#include "formats/whole_file_decoders.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using TBytes = std::vector<uint8_t>;

// A fresh folder removed with everything in it at the end of the test.
class TTempDir {
public:
  TTempDir() {
    static std::atomic<int> Counter{0};
    const auto Base = std::filesystem::temp_directory_path();
    const auto Info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string Tag = Info ? std::string(Info->name()) : std::string("t");
    for (char &C : Tag)
      if (!std::isalnum(static_cast<unsigned char>(C)))
        C = '_';
    for (int Try = 0;; ++Try) {
      FPath = Base / ("zbfmt_" + Tag + "_" + std::to_string(Counter++) + "_" + std::to_string(Try));
      if (std::filesystem::create_directory(FPath))
        break;
    }
  }
  ~TTempDir() {
    std::error_code Ec;
    std::filesystem::remove_all(FPath, Ec);
  }
  TTempDir(const TTempDir &) = delete;
  TTempDir &operator=(const TTempDir &) = delete;

  // Path of a file in the folder, as the narrow string the system passes around.
  std::string File(const std::string &Name) const { return (FPath / Name).string(); }

private:
  std::filesystem::path FPath;
};

inline void WriteBytes(const std::string &Path, const TBytes &Bytes) {
  std::FILE *F = std::fopen(Path.c_str(), "wb");
  ASSERT_NE(F, nullptr) << Path;
  if (!Bytes.empty()) {
    ASSERT_EQ(std::fwrite(Bytes.data(), 1, Bytes.size(), F), Bytes.size());
  }
  std::fclose(F);
}

inline void WriteText(const std::string &Path, const std::string &Text) {
  WriteBytes(Path, TBytes(Text.begin(), Text.end()));
}

inline void PutU16(TBytes &B, uint32_t V, bool Big = false) {
  if (Big) {
    B.push_back(uint8_t(V >> 8));
    B.push_back(uint8_t(V));
  } else {
    B.push_back(uint8_t(V));
    B.push_back(uint8_t(V >> 8));
  }
}

inline void PutU32(TBytes &B, uint32_t V, bool Big = false) {
  for (int I = 0; I < 4; ++I)
    B.push_back(uint8_t(V >> (Big ? 24 - 8 * I : 8 * I)));
}

inline void PutU64(TBytes &B, uint64_t V, bool Big = false) {
  for (int I = 0; I < 8; ++I)
    B.push_back(uint8_t(V >> (Big ? 56 - 8 * I : 8 * I)));
}

// One VITA-49 packet. Header words are derived from the flags; Body is the payload (data
// packets) or the context fields starting with CIF0, already in stream byte order.
struct TVrtPacket {
  uint32_t Type = 1;
  bool C = false;
  bool T = false;
  uint32_t TSI = 0;
  uint32_t TSF = 0;
  TBytes Body;
  int32_t SizeAdjust = 0; // added to the size field, to write broken packets
};

inline TBytes VrtBytes(const std::vector<TVrtPacket> &Packets, bool Big) {
  TBytes Out;
  for (const TVrtPacket &P : Packets) {
    const bool HasSid = P.Type == 1 || P.Type == 3 || P.Type == 4 || P.Type == 5;
    const bool HasTrailer = P.T && P.Type <= 3;
    const uint32_t Words = 1 + (HasSid ? 1 : 0) + (P.C ? 2 : 0) + (P.TSI ? 1 : 0) + (P.TSF ? 2 : 0) +
                           static_cast<uint32_t>(P.Body.size() / 4) + (HasTrailer ? 1 : 0);
    const uint32_t Size = static_cast<uint32_t>(static_cast<int32_t>(Words) + P.SizeAdjust) & 0xFFFF;
    const uint32_t W0 = P.Type << 28 | uint32_t(P.C) << 27 | uint32_t(P.T) << 26 | P.TSI << 22 | P.TSF << 20 |
                        uint32_t(0x0A) << 16 /* count bits, never read */ | Size;
    PutU32(Out, W0, Big);
    if (HasSid)
      PutU32(Out, 0x5EED0001, Big);
    if (P.C) {
      PutU32(Out, 0x00123456, Big); // OUI: a big value that must not be read as CIF0
      PutU32(Out, 0x00010002, Big);
    }
    if (P.TSI)
      PutU32(Out, 0x65000000, Big);
    if (P.TSF)
      PutU64(Out, 0x0000000100000000ULL, Big);
    Out.insert(Out.end(), P.Body.begin(), P.Body.end());
    if (HasTrailer)
      PutU32(Out, 0xFFFFFFFF, Big);
  }
  return Out;
}

// Payload of interleaved 16-bit I, Q values.
inline TBytes I16Payload(const std::vector<int16_t> &V, bool Big) {
  TBytes B;
  for (int16_t X : V)
    PutU16(B, static_cast<uint16_t>(X), Big);
  return B;
}

// The CIF0 context fields in falling bit order with their sizes in 32-bit words, from the
// VITA-49.2 field list: reference point id, bandwidth, IF reference frequency, RF reference
// frequency, RF reference offset, IF band offset, reference level, gain, over-range count,
// sample rate, timestamp adjustment, timestamp calibration time, temperature, device id,
// state and event indicators, data payload format, formatted GPS, formatted INS, ECEF
// ephemeris, relative ephemeris, ephemeris reference id.
struct TCifField {
  int Bit;
  int Words;
};
inline constexpr TCifField CIF0_FIELDS[] = {
    {30, 1}, {29, 2}, {28, 2}, {27, 2}, {26, 2}, {25, 2},  {24, 1},  {23, 1},  {22, 1},  {21, 2}, {20, 2},
    {19, 1}, {18, 1}, {17, 2}, {16, 1}, {15, 2}, {14, 11}, {13, 11}, {12, 13}, {11, 13}, {10, 1}};

// Context body: CIF0 with bit 21 and the extra bits, the fields in front of the rate filled
// with marker bytes, then the rate as 64-bit fixed point with 20 fraction bits.
inline TBytes ContextRateBody(double RateHz, bool Big, uint32_t ExtraBits = 0) {
  TBytes B;
  PutU32(B, (1u << 21) | ExtraBits, Big);
  for (const TCifField &F : CIF0_FIELDS)
    if (F.Bit > 21 && (ExtraBits & (1u << F.Bit)))
      B.insert(B.end(), static_cast<size_t>(4 * F.Words), uint8_t(0x7F));
  PutU64(B, static_cast<uint64_t>(static_cast<int64_t>(RateHz * 1048576.0)), Big);
  return B;
}

// A RIFF chunk with its pad byte.
inline TBytes Chunk(const char *Id, const TBytes &Body, int64_t DeclaredSize = -1) {
  TBytes B(Id, Id + 4);
  PutU32(B, static_cast<uint32_t>(DeclaredSize >= 0 ? DeclaredSize : static_cast<int64_t>(Body.size())));
  B.insert(B.end(), Body.begin(), Body.end());
  if (Body.size() & 1)
    B.push_back(0);
  return B;
}

inline TBytes FmtBody(uint32_t Tag, uint32_t Channels, uint32_t Rate, uint32_t Bits) {
  TBytes B;
  PutU16(B, Tag);
  PutU16(B, Channels);
  PutU32(B, Rate);
  PutU32(B, Rate * Channels * Bits / 8);
  PutU16(B, Channels * Bits / 8);
  PutU16(B, Bits);
  return B;
}

inline TBytes Riff(const std::vector<TBytes> &Chunks) {
  TBytes Body{'W', 'A', 'V', 'E'};
  for (const TBytes &C : Chunks)
    Body.insert(Body.end(), C.begin(), C.end());
  TBytes B{'R', 'I', 'F', 'F'};
  PutU32(B, static_cast<uint32_t>(Body.size()));
  B.insert(B.end(), Body.begin(), Body.end());
  return B;
}
