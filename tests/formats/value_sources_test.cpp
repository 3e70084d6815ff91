// Where rate and centre come from: one recording per source, read as the viewer, the thumbnail
// and the tool read it (sidecar, then the recording's own header, then its name).
#include "formats/fmt_fixtures.h"

#include "formats/uIQFormats.h"
#include "formats/uValueSources.h"
#include "metadata/uMetadata.h"

namespace {

TBytes VitaWithContext(double Rate, double Rf) {
  TVrtPacket Ctx;
  Ctx.Type = 4;
  PutU32(Ctx.Body, 1u << 27 | 1u << 21, true);
  PutU64(Ctx.Body, static_cast<uint64_t>(Rf * 1048576.0), true);
  PutU64(Ctx.Body, static_cast<uint64_t>(Rate * 1048576.0), true);
  TVrtPacket Data;
  Data.Body = TBytes(400, 0);
  return VrtBytes({Ctx, Data, Data}, true);
}

TBytes SdrIqHeader(uint32_t Rate, uint64_t Centre) {
  TBytes B;
  PutU32(B, Rate);
  PutU64(B, Centre);
  PutU64(B, 0);  // start time
  PutU32(B, 16); // sample bits
  PutU32(B, 0);  // filler
  PutU32(B, Crc32(B.data(), B.size()));
  B.resize(B.size() + 400, 0);
  return B;
}

TBytes WavWithAuxi(uint32_t Rate, uint32_t Centre) {
  TBytes Auxi(32, 0);
  PutU32(Auxi, Centre);
  return Riff({Chunk("fmt ", FmtBody(1, 2, Rate, 16)), Chunk("auxi", Auxi), Chunk("data", TBytes(400, 0))});
}

} // namespace

TEST(ValueSources, EachSourceNamedAndTheOrderKept) {
  const TBytes Raw(4000, 0);
  const std::string SigMFMeta = R"({"global": {"core:datatype": "ci16_le", "core:sample_rate": 2000000},
    "captures": [{"core:sample_start": 0, "core:frequency": 915000000}]})";
  struct {
    const char *Name;
    TBytes Bytes;
    const char *SidecarName; // nullptr: none
    std::string Sidecar;
    const char *RateSource;
    double Rate;
    const char *CentreSource;
    double Centre;
  } Cases[] = {
      {"a.cs16", Raw, "a.txt", "sample_rate_hz=1e6\ncenter_freq_hz=433.92e6\n", "sidecar", 1e6, "sidecar",
       433.92e6},
      {"s.sigmf-data", Raw, "s.sigmf-meta", SigMFMeta, "sigmf", 2e6, "sigmf", 915e6},
      {"h.sdriq", SdrIqHeader(48000, 7100000), nullptr, "", "sdriq header", 48000, "sdriq header", 7.1e6},
      {"v.vrt", VitaWithContext(5e6, 2.4e9), nullptr, "", "vita-49 context", 5e6, "vita-49 context", 2.4e9},
      {"w.wav", WavWithAuxi(96000, 14070000), nullptr, "", "wav fmt", 96000, "wav auxi", 14.07e6},
      {"g001_433.92M_250k.cu8", Raw, nullptr, "", "file name", 250000, "file name", 433.92e6},
      {"plain.cs16", Raw, nullptr, "", "default", DEF_SAMPLE_RATE, "none", 0},
      // The sidecar's rate wins over the context packet's; the centre still comes from the packet.
      {"mix.vrt", VitaWithContext(5e6, 2.4e9), "mix.txt", "sample_rate_hz=8e6\n", "sidecar", 8e6,
       "vita-49 context", 2.4e9},
      // An unusable sidecar rate gives way to the file's name; the name's centre is second to the
      // sidecar's.
      {"g002_868M_1024k.cs16", Raw, "g002_868M_1024k.txt", "sample_rate_hz=0\ncenter_freq_hz=869e6\n",
       "file name", 1024000, "sidecar", 869e6},
      // A WAV without auxi: the rate from fmt, the centre from the name.
      {"x_7100000Hz_IQ.wav", Riff({Chunk("fmt ", FmtBody(1, 2, 48000, 16)), Chunk("data", TBytes(40, 0))}),
       nullptr, "", "wav fmt", 48000, "file name", 7.1e6},
  };
  TTempDir D;
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string P = D.File(C.Name);
    WriteBytes(P, C.Bytes);
    if (C.SidecarName)
      WriteText(D.File(C.SidecarName), C.Sidecar);
    const TIQMetadata M = LoadMetadata(P);
    const TFileNameInfo Named = ParseRecordingFileName(P);
    const TIQSource Src(RecordingDataPath(P), M.FormatHint.empty() ? Named.FormatHint : M.FormatHint);
    const TSettledValues V = SettleRateAndCentre(SidecarValuesOf(M), Src.GetFormatInfo(), Named);
    EXPECT_STREQ(ValueSourceName(V.RateSource), C.RateSource);
    EXPECT_EQ(V.SampleRateHz, C.Rate);
    EXPECT_STREQ(ValueSourceName(V.CenterSource), C.CentreSource);
    EXPECT_EQ(V.HasCenterFreq, C.Centre != 0);
    EXPECT_EQ(V.CenterFreqHz, C.Centre);
  }
}
