#include "formats/fmt_fixtures.h"

#include "base/uFileStream.h"
#include "metadata/uMetadata.h"

#include <clocale>
#include <cmath>

TEST(ParseFloat, AcceptsOnlyWholeDecimalNumbers) {
  struct {
    const char *In;
    double Want;
  } Cases[] = {
      {"2000000", 2000000},
      {" 2.4e6 ", 2400000},
      {"-2.5e5", -250000},
      {"+0.5", 0.5},
      {"1E3", 1000},
      {".25", 0.25},
      {"7.", 7},
      {"-0", 0},
      {"", 0},
      {"   ", 0},
      {"2,4e6", 0},
      {"-2,5e5", 0},
      {"0,5", 0},
      {"100 Hz", 0},
      {"1e", 0},
      {"1e+", 0},
      {"e5", 0},
      {".", 0},
      {"-", 0},
      {"0x10", 0},
      {"inf", 0},
      {"nan", 0},
      {"1e999", 0},
      {"12abc", 0},
      {"1 2", 0},
      {"\t433920000\r", 433920000},
  };
  for (const auto &C : Cases)
    EXPECT_EQ(ParseFloat(C.In), C.Want) << "[" << C.In << "]";
}

TEST(SidecarHelpers, IndexTruthAndTokens) {
  struct {
    const char *In;
    int32_t Want;
  } Idx[] = {{"[12] name=x", 12},
             {"[0]", 0},
             {"[-3] a", -3},
             {"[x] a", -1},
             {"no brackets", -1},
             {"[] a", -1},
             {"[ 1] a", -1},
             {"[1 a", -1},
             {"a] [5", -1},
             {"[99999999999]", -1},
             {"x [7] [8]", 7},
             {"[2147483647]", 2147483647},
             {"[-2147483648]", -2147483647 - 1}};
  for (const auto &C : Idx)
    EXPECT_EQ(ExtractIndex(C.In), C.Want) << C.In;

  struct {
    const char *In;
    bool Want;
  } Truth[] = {{"true", true}, {"TRUE", true}, {" Yes ", true}, {"1", true},     {"YES", true},
               {"on", false},  {"0", false},   {"", false},     {"yes!", false}, {"t", false}};
  for (const auto &C : Truth)
    EXPECT_EQ(IsTruthy(C.In), C.Want) << C.In;

  EXPECT_EQ(FindToken("abcabc", "bc", 1), 2);
  EXPECT_EQ(FindToken("abcabc", "bc", 3), 5);
  EXPECT_EQ(FindToken("abcabc", "bc", 6), 0);
  EXPECT_EQ(FindToken("abc", "abcd", 1), 0);
  EXPECT_EQ(FindToken("abc", "c", 4), 0);
  EXPECT_EQ(ExtractBetween("abcdef", 2, 4), "bc");
  EXPECT_EQ(ExtractBetween("abcdef", 4, 4), "");
  EXPECT_EQ(ExtractBetween("abcdef", 0, 3), "");
  EXPECT_EQ(ExtractToken("name=S0 modulation=FSK", "name="), "S0");
  EXPECT_EQ(ExtractToken("name=S0 modulation=FSK", "modulation="), "FSK");
  EXPECT_EQ(ExtractToken("name= modulation=FSK", "name="), "");
  EXPECT_EQ(ExtractToken("a=1", "b="), "");
  EXPECT_EQ(ExtractToken("x name=", "name="), "");
  EXPECT_EQ(FindDoubleSpace("a b  c  ", 1), 4);
  EXPECT_EQ(FindDoubleSpace("a b  c  ", 5), 7);
  EXPECT_EQ(FindDoubleSpace("a b c", 1), 0);
  EXPECT_EQ(TrimBlank(std::string("\x01\t x y\r\n ", 9)), "x y");
}

TEST(SidecarHelpers, SidecarPathReplacesOnlyTheFileNameExtension) {
  EXPECT_EQ(SidecarPath("rec.cs16"), "rec.txt");
  EXPECT_EQ(SidecarPath("/d/rec.v2.cf32"), "/d/rec.v2.txt");
  EXPECT_EQ(SidecarPath("/d.x/rec"), "/d.x/rec.txt");
  EXPECT_EQ(SidecarPath("C:\\d.x\\rec"), "C:\\d.x\\rec.txt");
  EXPECT_EQ(SidecarPath("rec"), "rec.txt");
}

TEST(LoadMetadata, ExampleSidecarGivesEveryField) {
  TTempDir D;
  WriteText(D.File("rec.txt"), "sample_rate_hz=2000000\n"
                               "center_freq_hz=433920000\n"
                               "output_format=hackrf\n"
                               "signals=\n"
                               "[0] name=S0 modulation=FSK offset_hz=-125000 amplitude=0.5 loop_mode=false "
                               "repeat=2 pause=0.5s delay=1s duration=0.25s comment=Hopper 1/4, Folge 1/1  "
                               "params=shift=1000\n");
  const TIQMetadata M = LoadMetadata(D.File("rec.cs16"));
  EXPECT_EQ(M.SampleRateHz, 2000000);
  EXPECT_TRUE(M.HasSampleRate);
  EXPECT_EQ(M.CenterFreqHz, 433920000);
  EXPECT_TRUE(M.HasCenterFreq);
  ASSERT_EQ(M.SignalCount, 1);
  ASSERT_EQ(M.Signals.size(), 1u);
  const TSignalInfo &S = M.Signals[0];
  EXPECT_EQ(S.Index, 0);
  EXPECT_EQ(S.Name, "S0");
  EXPECT_EQ(S.Modulation, "FSK");
  EXPECT_EQ(S.OffsetHz, -125000);
  EXPECT_EQ(S.Amplitude, 0.5);
  EXPECT_FALSE(S.LoopMode);
  EXPECT_EQ(S.RepeatStr, "2");
  EXPECT_EQ(S.PauseStr, "0.5s");
  EXPECT_EQ(S.DelayStr, "1s");
  EXPECT_EQ(S.DurationStr, "0.25s");
  EXPECT_EQ(S.Comment, "Hopper 1/4, Folge 1/1");
  EXPECT_EQ(S.ParamStr, "shift=1000");
  EXPECT_EQ(ReadFormatHint(D.File("rec.cs16")), "hackrf");
}

TEST(LoadMetadata, MissingSidecarGivesInitialRecord) {
  TTempDir D;
  const TIQMetadata M = LoadMetadata(D.File("none.cs8"));
  EXPECT_EQ(M.SampleRateHz, 0);
  EXPECT_FALSE(M.HasSampleRate);
  EXPECT_EQ(M.CenterFreqHz, 0);
  EXPECT_FALSE(M.HasCenterFreq);
  EXPECT_EQ(M.SignalCount, 0);
  EXPECT_TRUE(M.Signals.empty());
  EXPECT_EQ(ReadFormatHint(D.File("none.cs8")), "");
}

TEST(LoadMetadata, HeaderRules) {
  struct {
    const char *Text;
    double Rate;
    bool HasRate;
    double Center;
    bool HasCenter;
  } Cases[] = {
      {"sample_rate_hz=0\n", 0, false, 0, false},
      {"sample_rate_hz=2,4e6\n", 0, false, 0, false},
      {"sample_rate_hz = 2.4e6 \n", 2400000, true, 0, false},
      {"center_freq_hz=abc\n", 0, false, 0, true},
      {"Sample_Rate_Hz=1000\n", 0, false, 0, false},
      {"sample_rate_hz=1000\nsample_rate_hz=0\n", 0, false, 0, false},      // last line wins
      {"sample_rate_hz=1000\nsample_rate_hz=3000\n", 3000, true, 0, false}, // last line wins
      {"signals=\nsample_rate_hz=1000\ncenter_freq_hz=5\n", 0, false, 0, false},
      {"signals=4\nsample_rate_hz=1000\n", 1000, true, 0, false}, // not the signal section
      {"  center_freq_hz=-1e6  \r\n\r\n", 0, false, -1e6, true},
      {"sample_rate_hz\n", 0, false, 0, false},
      {"\xEF\xBB\xBFsample_rate_hz=48000\n", 48000, true, 0, false},   // UTF-8 byte-order mark
      {"sample_rate_hz=1e3\rcenter_freq_hz=7\r", 1000, true, 7, true}, // CR line ends
  };
  TTempDir D;
  for (const auto &C : Cases) {
    WriteText(D.File("r.txt"), C.Text);
    const TIQMetadata M = LoadMetadata(D.File("r.raw"));
    EXPECT_EQ(M.SampleRateHz, C.Rate) << C.Text;
    EXPECT_EQ(M.HasSampleRate, C.HasRate) << C.Text;
    EXPECT_EQ(M.CenterFreqHz, C.Center) << C.Text;
    EXPECT_EQ(M.HasCenterFreq, C.HasCenter) << C.Text;
    EXPECT_EQ(M.SignalCount, 0) << C.Text;
  }
}

TEST(LoadMetadata, SignalLines) {
  TTempDir D;
  WriteText(D.File("s.txt"), "signals=\n"
                             "[1] name=A offset_hz=5 no modulation key here\n"
                             "modulation=\n"
                             "signals=\n"
                             "[12] modulation=AM loop_mode=YES\n"
                             "[x] modulation=FM loop_mode=on offset_hz=-2,5e5\n"
                             "modulation=CW loop_mode=1 offset_hz=-2.5e5 comment=one two params=k=v x=y\n"
                             "amplitude=0.25 modulation=OOK name=late comment=a b  tail  params=p q  r \n"
                             "modulation=X comment=has name=inner  name=outer\n");
  const TIQMetadata M = LoadMetadata(D.File("s.cf32"));
  ASSERT_EQ(M.SignalCount, 6);
  ASSERT_EQ(M.Signals.size(), 6u);

  const TSignalInfo &Bare = M.Signals[0];
  EXPECT_EQ(Bare.Index, -1);
  EXPECT_EQ(Bare.Modulation, "");
  EXPECT_EQ(Bare.Name, "");
  EXPECT_EQ(Bare.OffsetHz, 0);
  EXPECT_FALSE(Bare.LoopMode);
  EXPECT_EQ(Bare.Comment, "");
  EXPECT_EQ(Bare.ParamStr, "");

  EXPECT_EQ(M.Signals[1].Index, 12);
  EXPECT_EQ(M.Signals[1].Modulation, "AM");
  EXPECT_TRUE(M.Signals[1].LoopMode);

  EXPECT_EQ(M.Signals[2].Index, -1);
  EXPECT_FALSE(M.Signals[2].LoopMode);
  EXPECT_EQ(M.Signals[2].OffsetHz, 0);

  // One blank before params= does not end the comment.
  EXPECT_TRUE(M.Signals[3].LoopMode);
  EXPECT_EQ(M.Signals[3].OffsetHz, -250000);
  EXPECT_EQ(M.Signals[3].Comment, "one two params=k=v x=y");
  EXPECT_EQ(M.Signals[3].ParamStr, "k=v x=y");

  // Keys in any order; params keeps everything to the end of the (trimmed) line.
  EXPECT_EQ(M.Signals[4].Amplitude, 0.25);
  EXPECT_EQ(M.Signals[4].Name, "late");
  EXPECT_EQ(M.Signals[4].Comment, "a b");
  EXPECT_EQ(M.Signals[4].ParamStr, "p q  r");

  // The first occurrence of a key wins, even inside another value.
  EXPECT_EQ(M.Signals[5].Name, "inner");
  EXPECT_EQ(M.Signals[5].Comment, "has name=inner");
}

TEST(ReadFormatHint, FirstExactLineWins) {
  struct {
    const char *Text;
    const char *Want;
  } Cases[] = {
      {"output_format=  SDRangel  \noutput_format=hackrf\n", "SDRangel"},
      {"output_format = hackrf\noutput_format=sda-wav\n", "sda-wav"},
      {"signals=\n[0] modulation=AM\n  output_format=hackrf\n", "hackrf"},
      {"Output_format=hackrf\n", ""},
      {"output_format=\n", ""},
      {"", ""},
  };
  TTempDir D;
  for (const auto &C : Cases) {
    WriteText(D.File("h.txt"), C.Text);
    EXPECT_EQ(ReadFormatHint(D.File("h.iq")), C.Want) << C.Text;
  }
}

TEST(LoadMetadata, FolderInPlaceOfSidecarIsIgnored) {
  TTempDir D;
  // A folder where the sidecar should be is not a sidecar at all.
  std::filesystem::create_directory(D.File("f.txt"));
  EXPECT_NO_THROW(LoadMetadata(D.File("f.cs8")));
  EXPECT_EQ(ReadFormatHint(D.File("f.cs8")), "");
}

// The host process may run with a decimal-comma locale; the sidecar still uses '.'.
TEST(ParseFloat, IgnoresTheProcessLocale) {
  const std::string Old = std::setlocale(LC_NUMERIC, nullptr);
  const char *Found = nullptr;
  for (const char *Name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "German", "de_DE"})
    if (std::setlocale(LC_NUMERIC, Name)) {
      Found = Name;
      break;
    }
  if (!Found)
    GTEST_SKIP() << "no locale with a decimal comma";
  const double A = ParseFloat("2.4e6"), B = ParseFloat("0,5");
  std::setlocale(LC_NUMERIC, Old.c_str());
  EXPECT_EQ(A, 2400000) << Found;
  EXPECT_EQ(B, 0) << Found;
}
