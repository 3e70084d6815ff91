// The signal model: hopper comments and groups, intervals, picking, the describing texts, the
// legend's cells, and how the viewer core hands the overlays to the renderer.
#include "viewer_fixtures.h"

#include "viewer/uSignalModel.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

TSignalInfo Sig(double OffsetHz, const std::string &Comment = "", const std::string &Delay = "",
                const std::string &Duration = "", bool Loop = false) {
  TSignalInfo S;
  S.OffsetHz = OffsetHz;
  S.Comment = Comment;
  S.DelayStr = Delay;
  S.DurationStr = Duration;
  S.LoopMode = Loop;
  return S;
}

TSignalModel Model(const std::vector<TSignalInfo> &Signals, double CenterHz = 0.0) {
  TSignalModel M;
  M.Assign(Signals, CenterHz);
  return M;
}

TEST(SignalModel, HopperCommentsAndTimeTexts) {
  struct {
    const char *Comment;
    bool Ok;
    int32_t Hop, HopCount, Folge, FolgeCount;
  } Cases[] = {
      {"Hopper 3/8, Folge 1/2", true, 3, 8, 1, 2},
      {"  Hopper 1/4, Folge 1/1  ", true, 1, 4, 1, 1},
      {"Hopper 2/3,Folge 2/2", true, 2, 3, 2, 2},
      {"Hopper -1/3, Folge 1/1", true, -1, 3, 1, 1},
      {"hopper 1/3, Folge 1/1", false, 0, 0, 0, 0},
      {"Hopper  1/3, Folge 1/1", true, 1, 3, 1, 1}, // a blank before a number is taken like Val does
      {"Hopper 1/3 Folge 1/1", false, 0, 0, 0, 0},
      {"Hopper 1/3, folge 1/1", false, 0, 0, 0, 0},
      {"Hopper x/3, Folge 1/1", false, 0, 0, 0, 0},
      {"Hopper 1/3, Folge 1/1x", false, 0, 0, 0, 0},
      {"Hopper 1/3, Folge 1", false, 0, 0, 0, 0},
      {"Hopper 1/99999999999, Folge 1/1", false, 0, 0, 0, 0},
      {"Hopper", false, 0, 0, 0, 0},
      {"", false, 0, 0, 0, 0},
  };
  for (const auto &C : Cases) {
    int32_t A = 7, B = 7, Cc = 7, D = 7;
    EXPECT_EQ(TryParseHopperComment(C.Comment, A, B, Cc, D), C.Ok) << C.Comment;
    if (C.Ok) {
      EXPECT_EQ(A, C.Hop) << C.Comment;
      EXPECT_EQ(B, C.HopCount) << C.Comment;
      EXPECT_EQ(Cc, C.Folge) << C.Comment;
      EXPECT_EQ(D, C.FolgeCount) << C.Comment;
    }
  }

  struct {
    const char *In;
    double Want;
  } Secs[] = {{"1.5s", 1.5}, {"2,25", 2.25}, {"3S", 3},   {" 0.5s ", 0.5}, {"", 0},    {"abc", 0},
              {"s", 0},      {"1ss", 0},     {"-2s", -2}, {"1e1s", 10},    {"inf", 0}, {"0x10", 0}};
  for (const auto &S : Secs)
    EXPECT_EQ(ParseSecs(S.In), S.Want) << S.In;
}

TEST(SignalModel, HopperGroupsFromRuns) {
  const std::string H13 = "Hopper 1/3, Folge 1/1", H23 = "Hopper 2/3, Folge 1/1",
                    H33 = "Hopper 3/3, Folge 1/1";
  struct {
    const char *What;
    std::vector<std::string> Comments;
    std::vector<int> Members;
    std::vector<int32_t> Counts;
  } Cases[] = {
      {"no signals", {}, {}, {}},
      {"one run, then hop 1 starts another", {H13, H23, H33, H13}, {1, 1, 1, 0}, {3}},
      {"a lone hopper between plain signals", {"", H23, "plain"}, {0, 0, 0}, {}},
      {"lower-case hopper is no hopper", {"hopper 1/3, Folge 1/1", "hopper 2/3, Folge 1/1"}, {0, 0}, {}},
      {"hop 1 of sequence 2 continues the run",
       {H13, H23, "Hopper 1/3, Folge 2/2", "Hopper 2/3, Folge 2/2"},
       {1, 1, 1, 1},
       {4}},
      {"a run ends at a plain signal", {H13, H23, "x", H33, H23}, {1, 1, 0, 1, 1}, {2, 2}},
      {"back-to-back runs", {H13, H23, H13, H23, H33}, {1, 1, 1, 1, 1}, {2, 3}},
      {"a run may start at any hop", {H23, H33}, {1, 1}, {2}},
  };
  for (const auto &C : Cases) {
    std::vector<TSignalInfo> Signals;
    for (size_t I = 0; I < C.Comments.size(); ++I)
      Signals.push_back(Sig(1000.0 * static_cast<double>((I * 7) % 5), C.Comments[I]));
    const TSignalModel M = Model(Signals, 1e6);
    EXPECT_EQ(std::vector<int>(M.FIsHopperMember.begin(), M.FIsHopperMember.end()), C.Members) << C.What;
    ASSERT_EQ(M.FHopperGroupCount, static_cast<int32_t>(C.Counts.size())) << C.What;
    for (size_t G = 0; G < C.Counts.size(); ++G)
      EXPECT_EQ(M.FHopperGroups[G].Count, C.Counts[G]) << C.What;
  }
  // Bounds: lowest and highest carrier of the members, wherever they stand in the run.
  const TSignalModel M = Model({Sig(5000, H13), Sig(-3000, H23), Sig(1000, H33), Sig(-9000, "x")}, 100e6);
  ASSERT_EQ(M.FHopperGroupCount, 1);
  EXPECT_EQ(M.FHopperGroups[0].FLoHz, 100e6 - 3000);
  EXPECT_EQ(M.FHopperGroups[0].FHiHz, 100e6 + 5000);
  // A later centre frequency moves the group with its members' markers.
  const THopperGroup Moved = M.GroupAt(0, 200e6);
  EXPECT_DOUBLE_EQ(Moved.FLoHz, 200e6 - 3000);
  EXPECT_DOUBLE_EQ(Moved.FHiHz, 200e6 + 5000);
}

TEST(SignalModel, IntervalsAndPicking) {
  struct {
    const char *What;
    TSignalInfo S;
    double Start, End;
  } Intervals[] = {
      {"delay and duration", Sig(0, "", "2s", "1,5"), 2, 3.5},
      {"no delay", Sig(0, "", "", "0.25s"), 0, 0.25},
      {"loop", Sig(0, "", "1s", "2s", true), 1, FAR_FUTURE},
      {"empty duration", Sig(0, "", "1s", "  "), 1, FAR_FUTURE},
      {"zero duration", Sig(0, "", "1s", "0s"), 1, FAR_FUTURE},
      {"unreadable duration", Sig(0, "", "1s", "abc"), 1, FAR_FUTURE},
      {"negative duration", Sig(0, "", "3s", "-1s"), 3, 2},
  };
  for (const auto &C : Intervals) {
    const TSignalModel M = Model({C.S});
    double S = -1, E = -1;
    M.SignalInterval(0, S, E);
    EXPECT_EQ(S, C.Start) << C.What;
    EXPECT_EQ(E, C.End) << C.What;
  }

  // Carriers at centre 1 MHz: 1000 Hz off each other, with times that differ.
  const TSignalModel M = Model({Sig(0, "", "2s", "1.5s"),   // 0: on 2 .. 3.5
                                Sig(1000, "", "0s", "1s"),  // 1: on 0 .. 1
                                Sig(-1000, "", "", ""),     // 2: always on
                                Sig(3000, "", "5s", "1s"),  // 3: on 5 .. 6
                                Sig(3000, "", "5s", "1s")}, // 4: same as 3
                               1e6);
  struct {
    const char *What;
    double Freq, Tol, T;
    int32_t Want;
  } Picks[] = {
      {"nothing within reach", 1e6 + 10000, 500, 0, -1},
      {"on at its start", 1e6, 10, 2.0, 0},
      {"on just before its end", 1e6 + 500, 1500, 3.49, 0},
      {"off at its end: one farther away that is on wins", 1e6 + 500, 1500, 3.5, 2},
      {"an active signal farther away beats a nearer one that is off", 1e6 + 400, 700, 0.5, 1},
      {"among active ones the nearer wins", 1e6 - 100, 1200, 0.5, 2},
      {"active ones at equal distance: the lower index", 1e6, 1000, 0.5, 1},
      {"a tie goes to the lower index", 1e6 + 3000, 10, 5.5, 3},
      {"a tie among inactive ones too", 1e6 + 3000, 10, 9, 3},
      {"within reach but none on: the nearest", 1e6 + 2900, 150, 0, 3},
      {"the tolerance is inclusive", 1e6 + 3200, 200, 5.5, 3},
  };
  for (const auto &P : Picks)
    EXPECT_EQ(M.PickSignalAt(1e6, P.Freq, P.Tol, P.T), P.Want) << P.What;
  EXPECT_EQ(Model({}).PickSignalAt(0, 0, 1e9, 0), -1);
}

TEST(SignalModel, InfoTextAndLegendCells) {
  TSignalInfo S = Sig(-125000, "Hopper 1/4, Folge 1/1", "1s", "0.25s");
  S.Index = 0;
  S.Name = "S0";
  S.Modulation = "FSK";
  S.Amplitude = 0.5;
  S.RepeatStr = "2";
  S.PauseStr = "0.5s";
  S.ParamStr = "shift=1000";
  TSignalInfo Open = Sig(0, "", "", "");
  Open.Index = -1;
  TSignalInfo Loop = Sig(1500, "", "2s", "1s", true);
  Loop.Index = 12;
  TSignalInfo Neg = Sig(-1500, "", "3,5s", "-1s");
  Neg.Index = 3;

  const TSignalModel M = Model({S, Open, Loop, Neg}, 433920000);
  struct {
    int32_t Idx;
    char Sep;
    const char *Want;
  } Infos[] = {
      {0, '.',
       "#0  S0\r\nMod: FSK\r\nFreq: 433.7950 MHz\r\nStart: 1.0000s   Ende: 1.2500s   Dauer: 0.2500s\r\n"
       "Param: shift=1000\r\nKomm: Hopper 1/4, Folge 1/1"},
      {1, ',',
       "#-1  \r\nMod: \r\nFreq: 433,9200 MHz\r\nStart: 0,0000s   Ende: unbegrenzt   Dauer: unbegrenzt (bis "
       "Ende)\r\n"
       "Param: \r\nKomm: "},
      {2, '.',
       "#12  \r\nMod: \r\nFreq: 433.9215 MHz\r\nStart: 2.0000s   Ende: Loop   Dauer: Loop\r\nParam: "
       "\r\nKomm: "},
      {3, '.',
       "#3  \r\nMod: \r\nFreq: 433.9185 MHz\r\nStart: 3.5000s   Ende: 2.5000s   Dauer: -1.0000s\r\nParam: "
       "\r\n"
       "Komm: "},
  };
  for (const auto &I : Infos)
    EXPECT_EQ(M.SignalInfoText(I.Idx, 433920000, I.Sep), I.Want) << I.Idx;

  struct {
    TSignalInfo Signal;
    double Center;
    char Sep;
    std::vector<std::string> Cells;
  } Rows[] = {
      {S,
       433920000,
       '.',
       {"0", "S0", "FSK", "2x P=0.5s D=1s", "433.7950", "-125.0", "0.5000", "shift=1000",
        "Hopper 1/4, Folge 1/1"}},
      {Open, 0, ',', {"-1", "", "", "", "0,0000", "+0,0", "0,0000", "", ""}},
      {Loop, 1e6, '.', {"12", "", "", "Loop", "1.0015", "+1.5", "0.0000", "", ""}},
      {Neg, 1e6, '.', {"3", "", "", "D=3,5s", "0.9985", "-1.5", "0.0000", "", ""}},
  };
  for (const auto &R : Rows)
    for (int32_t C = 0; C < LEGEND_COLS; ++C)
      EXPECT_EQ(LegendCellText(R.Signal, C, R.Center, R.Sep), R.Cells[static_cast<size_t>(C)])
          << R.Cells[0] << " column " << COLHEADERS[static_cast<size_t>(C)];

  struct {
    const char *Repeat, *Pause, *Delay;
    bool Loop;
    const char *Want;
  } Seqs[] = {
      {"3", "0.5s", "2s", false, "3x P=0.5s D=2s"},
      {"1", "0s", "", false, ""},
      {"", "", "", false, ""},
      {"1", "0,5s", "", false, "P=0,5s"},
      {"5", "", "0s", false, "5x"},
      {"2", "1s", "1s", true, "Loop"},
      {"x", "abc", "", false, "xx"},
  };
  for (const auto &Q : Seqs) {
    TSignalInfo T;
    T.RepeatStr = Q.Repeat;
    T.PauseStr = Q.Pause;
    T.DelayStr = Q.Delay;
    T.LoopMode = Q.Loop;
    EXPECT_EQ(SequenceText(T), Q.Want) << Q.Repeat << "|" << Q.Pause << "|" << Q.Delay;
  }

  // Tiny values round to an unsigned zero; a negative offset that shows as zero counts as zero.
  EXPECT_EQ(FormatFixed(-0.00001, 4, '.'), "0.0000");
  EXPECT_EQ(LegendCellText(Sig(-40), 5, 0, '.'), "+0.0");
  EXPECT_EQ(LegendCellText(Sig(-50.1), 5, 0, '.'), "-0.1");
}

TEST(SignalModel, CoreBuildsGroupsAndHandsOverlaysToTheRenderer) {
  TTempDir D;
  const std::string F = D.File("s.cs16");
  WriteInt16Recording(F, Sec(1, 100000));
  WriteText(D.File("s.txt"), "sample_rate_hz=100000\ncenter_freq_hz=433920000\nsignals=\n"
                             "[0] name=A modulation=FSK offset_hz=-20000 comment=Hopper 1/2, Folge 1/1\n"
                             "[1] name=B modulation=FSK offset_hz=-10000 comment=Hopper 2/2, Folge 1/1\n"
                             "[7] name=C modulation=AM offset_hz=15000 delay=0.5s duration=0.25s\n");
  TViewerRig R;
  R.Load(F);
  ASSERT_EQ(R.C.FSignalModel.FSignalCount, 3);
  ASSERT_EQ(R.C.FSignalModel.FHopperGroupCount, 1);

  TFrameInputs In = R.C.BuildFrameInputs();
  ASSERT_EQ(In.Signals.size(), 3u);
  EXPECT_EQ(In.Signals[2].FreqHz, 433935000.0);
  EXPECT_EQ(In.Signals[2].Index, 7);
  EXPECT_EQ(In.Signals[2].Modulation, "AM");
  EXPECT_TRUE(In.Signals[0].InHopperGroup);
  EXPECT_FALSE(In.Signals[2].InHopperGroup);
  ASSERT_EQ(In.HopperGroups.size(), 1u);
  EXPECT_EQ(In.HopperGroups[0].FLoHz, 433900000.0);
  EXPECT_EQ(In.HopperGroups[0].FHiHz, 433910000.0);
  EXPECT_EQ(In.HopperGroups[0].Count, 2);

  // A new centre frequency moves markers and brackets alike.
  TViewerSettings S = R.C.GetSettings();
  S.CenterFreq = 100e6;
  R.C.ApplySettings(S);
  In = R.C.BuildFrameInputs();
  EXPECT_EQ(In.Signals[0].FreqHz, 100e6 - 20000);
  EXPECT_DOUBLE_EQ(In.HopperGroups[0].FLoHz, 100e6 - 20000);

  R.C.ToggleOverlay();
  In = R.C.BuildFrameInputs();
  EXPECT_TRUE(In.Signals.empty());
  EXPECT_TRUE(In.HopperGroups.empty());
  // Without a renderer there is no plot to point at.
  EXPECT_FALSE(R.C.MouseAt(100, 100).InPlot);
}

} // namespace
