#include "formats/uFileNames.h"

#include <gtest/gtest.h>

TEST(FileNames, KnownConventionsAndLookAlikes) {
  struct {
    const char *Name;
    const char *Convention; // "" when nothing may be taken from the name
    double Rate;            // 0 when the name gives none
    double Center;          // 0 when the name gives none
    const char *Hint;
  } Cases[] = {
      {"g001_433.92M_250k.cu8", "freq_rate", 250000, 433920000, ""},
      {"/cap/g012_868M_1024k.CS16", "freq_rate", 1024000, 868000000, ""},
      {"C:\\x_y\\rec_1.09G_2.4M.cf32", "freq_rate", 2400000, 1090000000, ""},
      {"g001_433.92M_250k.iq", "", 0, 0, ""}, // not a type such captures have
      {"g001_433.92_250.cu8", "", 0, 0, ""},  // unit letters are part of the shape
      {"g001_433.92M_250x.cu8", "", 0, 0, ""},
      {"g001_4.3.3M_250k.cu8", "", 0, 0, ""},
      {"433.92M_250k.cu8", "", 0, 0, ""}, // no leading field
      {"gqrx_20140531_112235_433920000_2000000_fc.raw", "gqrx", 2000000, 433920000, "gqrx"},
      {"/a.b/GQRX_20140531_112235_145500000_48000_fc.RAW", "gqrx", 48000, 145500000, "gqrx"},
      {"gqrx_20140531_112235_433920000_2000000_fc.cs8", "", 0, 0, ""}, // only .raw is float32
      {"gqrx_2014053_112235_433920000_2000000_fc.raw", "", 0, 0, ""},
      {"gqrx_20140531_112235_433920000_2000000.raw", "", 0, 0, ""},
      {"gqrx_20140531_112235_4339e5_2000000_fc.raw", "", 0, 0, ""},
      {"baseband_100000000Hz_12-34-56_01-02-2023.wav", "baseband", 0, 100000000, ""},
      {"baseband_7100kHz_12-34-56_01-02-2023.raw", "baseband", 0, 7100000, ""},
      {"baseband_100000000_12-34-56.wav", "", 0, 0, ""},
      {"basebandx_100000000Hz_1.wav", "", 0, 0, ""},
      {"rec_20200101_120000Z_100000000Hz_IQ.wav", "IQ wav", 0, 100000000, ""},
      {"cap_20200101_120000Z_7100kHz_RF.WAV", "RF wav", 0, 7100000, ""},
      {"cap_20200101_120000Z_7100.5kHz_RF.wav", "RF wav", 0, 7100500, ""},
      {"cap_20200101_120000Z_7100kHz_AF.wav", "", 0, 0, ""}, // demodulated audio
      {"cap_20200101_120000Z_7100kHz_RF.cs16", "", 0, 0, ""},
      {"x_0Hz_IQ.wav", "", 0, 0, ""},
      {"rec.cs16", "", 0, 0, ""},
      {"rec", "", 0, 0, ""},
      {".cu8", "", 0, 0, ""},
      {"", "", 0, 0, ""},
  };
  for (const auto &C : Cases) {
    const TFileNameInfo I = ParseRecordingFileName(C.Name);
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(I.Convention, C.Convention);
    EXPECT_EQ(I.HasSampleRate, C.Rate != 0);
    EXPECT_EQ(I.SampleRateHz, C.Rate);
    EXPECT_EQ(I.HasCenterFreq, C.Center != 0);
    EXPECT_EQ(I.CenterFreqHz, C.Center);
    EXPECT_EQ(I.FormatHint, C.Hint);
    EXPECT_EQ(I.HasFormatHint, *C.Hint != 0);
  }
}
