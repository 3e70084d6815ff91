// The signal tooltip and the legend dialog on their own, over a plain host window.
#include "support/win32_TestHost.h"

#include <commctrl.h>

#include "base/win32_uModule.h"
#include "formats/fmt_fixtures.h"
#include "viewer/uHeadlessPlatform.h"
#include "viewer/uInfoText.h"
#include "viewer/uViewerCore.h"
#include "viewer/win32_uDialogs.h"
#include "viewer/win32_uInfoDialog.h"
#include "viewer/win32_uLegendDialog.h"
#include "viewer/win32_uSignalTooltip.h"
#include "viewer/win32_uViewerForm.h"

#include <string>
#include <vector>

using namespace testhost;

namespace {

void EnsureDialogClass() {
  WNDCLASSEXW Wc{};
  Wc.cbSize = sizeof(Wc);
  if (GetClassInfoExW(ThisModule(), DLG_WC, &Wc))
    return;
  Wc.lpfnWndProc = SettingsDlgWndProc;
  Wc.hInstance = ThisModule();
  Wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  Wc.lpszClassName = DLG_WC;
  RegisterClassExW(&Wc);
}

TSignalInfo Signal(int32_t Index, const char *Name, double OffsetHz, const char *Comment) {
  TSignalInfo S;
  S.Index = Index;
  S.Name = Name;
  S.Modulation = "FSK";
  S.OffsetHz = OffsetHz;
  S.Amplitude = 0.25;
  S.RepeatStr = "3";
  S.PauseStr = "0.5s";
  S.DelayStr = "2s";
  S.Comment = Comment;
  S.ParamStr = "shift=1000";
  return S;
}

class SignalsGL : public ::testing::Test {
protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX Icc{sizeof(Icc), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&Icc);
    EnsureDialogClass();
    Core.FCenterFreq = 433920000;
    Core.FSignalModel.Assign(
        {Signal(0, "A", -1500, "Hopper 1/2, Folge 1/1"), Signal(-1, "B\xE4", 0, "Hopper 2/2, Folge 1/1")},
        Core.FCenterFreq);
  }

  HostWindow Host{800, 600};
  THeadlessPlatform P;
  TViewerCore Core{P};
};

struct TLegendSeen {
  bool Seen = false, RootDisabled = false;
  RECT Dlg{}, List{};
  std::vector<int> Widths;
  std::vector<std::wstring> Titles;
  std::vector<std::vector<std::wstring>> Cells;
  HWND Root = nullptr;
};
TLegendSeen *GSeen = nullptr;

std::wstring CellText(HWND List, int Row, int Col) {
  wchar_t Buf[256] = {};
  LVITEMW It{};
  It.iSubItem = Col;
  It.pszText = Buf;
  It.cchTextMax = 256;
  SendMessageW(List, LVM_GETITEMTEXTW, static_cast<WPARAM>(Row), reinterpret_cast<LPARAM>(&It));
  return Buf;
}

void CALLBACK ReadLegend(HWND, UINT, UINT_PTR Id, DWORD) {
  HWND Dlg = FindWindowW(DLG_WC, L"Signallegende");
  if (!Dlg || !GSeen)
    return;
  KillTimer(nullptr, Id);
  TLegendSeen &S = *GSeen;
  S.Seen = true;
  S.RootDisabled = !IsWindowEnabled(S.Root);
  GetWindowRect(Dlg, &S.Dlg);
  HWND List = FindWindowExW(Dlg, nullptr, WC_LISTVIEWW, nullptr);
  if (List) {
    GetWindowRect(List, &S.List);
    HWND Header = reinterpret_cast<HWND>(SendMessageW(List, LVM_GETHEADER, 0, 0));
    const int Cols = static_cast<int>(SendMessageW(Header, HDM_GETITEMCOUNT, 0, 0));
    for (int C = 0; C < Cols; ++C) {
      wchar_t Buf[64] = {};
      LVCOLUMNW Col{};
      Col.mask = LVCF_TEXT | LVCF_WIDTH;
      Col.pszText = Buf;
      Col.cchTextMax = 64;
      SendMessageW(List, LVM_GETCOLUMNW, static_cast<WPARAM>(C), reinterpret_cast<LPARAM>(&Col));
      S.Widths.push_back(Col.cx);
      S.Titles.push_back(Buf);
    }
    const int Rows = static_cast<int>(SendMessageW(List, LVM_GETITEMCOUNT, 0, 0));
    for (int R = 0; R < Rows; ++R) {
      S.Cells.emplace_back();
      for (int C = 0; C < Cols; ++C)
        S.Cells.back().push_back(CellText(List, R, C));
    }
  }
  PostMessageW(Dlg, WM_COMMAND, MAKEWPARAM(IDC_DLG_CANCEL, BN_CLICKED), 0);
}

// Runs the legend over Root; a timer reads it and ends it.
TLegendSeen ShowAndReadLegend(HWND Root, TViewerCore &Core) {
  TLegendSeen Seen;
  Seen.Root = Root;
  GSeen = &Seen;
  SetTimer(nullptr, 0, 20, ReadLegend);
  ShowLegendDialog(Root, Core);
  GSeen = nullptr;
  return Seen;
}

std::wstring TooltipText(HWND Tip, HWND GL) {
  wchar_t Buf[128] = {};
  TTTOOLINFOW Ti{};
  Ti.cbSize = sizeof(Ti);
  Ti.hwnd = GL;
  Ti.uId = 1;
  Ti.lpszText = Buf;
  SendMessageW(Tip, TTM_GETTEXTW, 128, reinterpret_cast<LPARAM>(&Ti));
  return Buf;
}

} // namespace

TEST_F(SignalsGL, LegendListsEverySignalAndEndsByItsButton) {
  if (GetDpiScaleFor(Host.Wnd) != 1.0)
    GTEST_SKIP() << "widths are checked at 96 dots per inch";
  const TLegendSeen Seen = ShowAndReadLegend(Host.Wnd, Core);
  ASSERT_TRUE(Seen.Seen);
  EXPECT_TRUE(Seen.RootDisabled) << "the viewer is disabled while the legend runs";
  EXPECT_TRUE(IsWindowEnabled(Host.Wnd));
  EXPECT_EQ(FindWindowW(DLG_WC, L"Signallegende"), nullptr) << "the legend is gone";
  EXPECT_EQ(Seen.Dlg.right - Seen.Dlg.left, 900);
  EXPECT_EQ(Seen.Dlg.bottom - Seen.Dlg.top, 480);
  EXPECT_EQ(Seen.List.right - Seen.List.left, 900 - 24);
  EXPECT_EQ(Seen.Widths, (std::vector<int>{35, 70, 60, 120, 90, 90, 60, 220, 260}));
  EXPECT_EQ(Seen.Titles, (std::vector<std::wstring>{L"#", L"Name", L"Mod", L"Sequenz", L"Freq MHz",
                                                    L"Offset kHz", L"Ampl", L"Parameter", L"Kommentar"}));
  ASSERT_EQ(Seen.Cells.size(), 2u);
  EXPECT_EQ(Seen.Cells[0],
            (std::vector<std::wstring>{L"0", L"A", L"FSK", L"3x P=0.5s D=2s", L"433.9185", L"-1.5", L"0.2500",
                                       L"shift=1000", L"Hopper 1/2, Folge 1/1"}));
  EXPECT_EQ(Seen.Cells[1][0], L"-1");
  EXPECT_EQ(Seen.Cells[1][5], L"+0.0");
  // Sidecar text goes through the ANSI code page.
  wchar_t Want[4] = {};
  MultiByteToWideChar(CP_ACP, 0, "B\xE4", 2, Want, 4);
  EXPECT_EQ(Seen.Cells[1][1], Want);
}

// JSON metadata gives UTF-8 labels; they reach the legend and the tooltip as written, while
// a text sidecar's bytes in the ANSI code page (above) still go through that code page.
TEST_F(SignalsGL, Utf8LabelsReachLegendAndTooltipAsWritten) {
  Core.FSignalModel.Assign({Signal(0, "Schl\xC3\xBCssel \xF0\x9F\x93\xA1", 0, "\xC3\xA9t\xC3\xA9")},
                           Core.FCenterFreq);
  const TLegendSeen Seen = ShowAndReadLegend(Host.Wnd, Core);
  ASSERT_TRUE(Seen.Seen);
  ASSERT_EQ(Seen.Cells.size(), 1u);
  EXPECT_EQ(Seen.Cells[0][1], L"Schl\u00FCssel \xD83D\xDCE1");
  EXPECT_EQ(Seen.Cells[0][8], L"\u00E9t\u00E9");

  HWND GL = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 20, 30, 400, 300, Host.Wnd, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
  TSignalHover H;
  InitTooltip(H, Host.Wnd, GL, nullptr);
  ASSERT_TRUE(H.FTooltipWnd);
  ShowSignalTooltip(H, 50, 60, "#0  Schl\xC3\xBCssel");
  EXPECT_EQ(TooltipText(H.FTooltipWnd.get(), GL), L"#0  Schl\u00FCssel");
  H.FTooltipWnd.reset();
  DestroyWindow(GL);
}

TEST_F(SignalsGL, LegendWithoutSignalsShowsNothing) {
  Core.FSignalModel.Assign({}, 0);
  ShowLegendDialog(Host.Wnd, Core);
  EXPECT_EQ(FindWindowW(DLG_WC, nullptr), nullptr);
  EXPECT_TRUE(IsWindowEnabled(Host.Wnd));
}

TEST_F(SignalsGL, TooltipShowsTextBelowRightOfTheMouseAndHides) {
  HWND GL = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 20, 30, 400, 300, Host.Wnd, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
  HWND Freq = CreateWindowExW(0, L"STATIC", L"x", WS_CHILD | WS_VISIBLE, 0, 0, 100, 20, Host.Wnd, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  TSignalHover H;
  InitTooltip(H, Host.Wnd, GL, Freq);
  ASSERT_TRUE(H.FTooltipWnd);
  HWND Tip = H.FTooltipWnd.get();
  EXPECT_FALSE(IsWindowVisible(Tip));

  ShowSignalTooltip(H, 50, 60, "#0  A\r\nMod: FSK");
  HostWindow::Pump();
  EXPECT_TRUE(IsWindowVisible(Tip));
  POINT Mouse{50, 60};
  ClientToScreen(GL, &Mouse);
  RECT R{};
  GetWindowRect(Tip, &R);
  // Some tooltip implementations put the window's border, not its client area, at the point.
  EXPECT_NEAR(R.left, Mouse.x + 18, 1);
  EXPECT_NEAR(R.top, Mouse.y + 18, 1);
  EXPECT_EQ(TooltipText(Tip, GL), L"#0  A\r\nMod: FSK");
  // Two lines: the tip is at least two text lines high.
  EXPECT_GT(R.bottom - R.top, 2 * 12);

  HideSignalTooltip(H);
  HostWindow::Pump();
  EXPECT_FALSE(IsWindowVisible(Tip));

  // Without a renderer there is no plot: the move empties the readout and keeps the tip hidden.
  ShowSignalTooltip(H, 5, 5, "x");
  HandleGLMouseMoveMsg(H, Core, MAKELPARAM(static_cast<WORD>(-5), 7));
  HostWindow::Pump();
  EXPECT_EQ(H.FPoint.LastX, -5) << "client coordinates are signed 16-bit";
  EXPECT_EQ(H.FPoint.LastY, 7);
  EXPECT_EQ(WindowText(Freq), L"");
  EXPECT_FALSE(IsWindowVisible(Tip));
  // A repeated move to the same point changes nothing.
  SetWindowTextW(Freq, L"kept");
  HandleGLMouseMove(H, Core, -5, 7);
  EXPECT_EQ(WindowText(Freq), L"kept");
  // Leaving forgets the point, so the same point counts again afterwards.
  HandleGLMouseLeave(H);
  EXPECT_EQ(WindowText(Freq), L"");
  EXPECT_EQ(H.FPoint.LastX, INT32_MIN);
  SetWindowTextW(Freq, L"kept");
  HandleGLMouseMove(H, Core, -5, 7);
  EXPECT_EQ(WindowText(Freq), L"");
  H.FTooltipWnd.reset();
  DestroyWindow(GL);
}

TEST(SignalsTooltip, WithoutATooltipWindowEveryCallDoesNothing) {
  TSignalHover H;
  ShowSignalTooltip(H, 1, 2, "x");
  HideSignalTooltip(H);
  HandleGLMouseLeave(H);
  EXPECT_EQ(H.FPoint.LastX, INT32_MIN);
  const char Sep = UserDecimalSeparator();
  EXPECT_TRUE(Sep == '.' || Sep == ',') << Sep;
}

// The information box, on its own and from the legend's "Info" button: it lists the loaded
// recording's facts with their sources, disables its owner while it runs and ends by its button.
namespace {

struct TInfoSeen {
  bool Seen = false, OwnerDisabled = false, FromLegend = false;
  std::wstring Text;
  HWND Owner = nullptr;
};
TInfoSeen *GInfo = nullptr;

void CALLBACK ReadInfo(HWND, UINT, UINT_PTR Id, DWORD) {
  HWND Dlg = FindWindowW(DLG_WC, L"Information");
  if (!GInfo)
    return;
  if (!Dlg) {
    // Asked for through the legend: press its Info button once it is there.
    if (HWND Legend = GInfo->FromLegend && !GInfo->Seen ? FindWindowW(DLG_WC, L"Signallegende") : nullptr) {
      GInfo->Owner = Legend;
      PostMessageW(Legend, WM_COMMAND, MAKEWPARAM(2101, BN_CLICKED), 0);
    }
    return;
  }
  GInfo->Seen = true;
  GInfo->OwnerDisabled = !IsWindowEnabled(GInfo->Owner);
  if (HWND Edit = FindWindowExW(Dlg, nullptr, L"EDIT", nullptr)) {
    wchar_t Buf[2048] = {};
    GetWindowTextW(Edit, Buf, 2048);
    GInfo->Text = Buf;
  }
  PostMessageW(Dlg, WM_COMMAND, MAKEWPARAM(IDC_DLG_CANCEL, BN_CLICKED), 0);
  if (GInfo->FromLegend)
    if (HWND Legend = FindWindowW(DLG_WC, L"Signallegende"))
      PostMessageW(Legend, WM_COMMAND, MAKEWPARAM(IDC_DLG_CANCEL, BN_CLICKED), 0);
  KillTimer(nullptr, Id);
}

} // namespace

TEST_F(SignalsGL, InfoBoxListsTheFactsAlsoFromTheLegend) {
  TTempDir D;
  const std::string F = D.File("g001_433.92M_250k.cu8");
  WriteBytes(F, TBytes(5000, 128));
  WriteText(D.File("g001_433.92M_250k.txt"), "signals=\n[0] name=A modulation=FSK offset_hz=1000\n");
  Core.LoadFile(F);
  const std::string Want = RecordingInfoText(Core);
  for (bool FromLegend : {false, true}) {
    TInfoSeen Seen;
    Seen.Owner = Host.Wnd;
    Seen.FromLegend = FromLegend;
    GInfo = &Seen;
    SetTimer(nullptr, 0, 20, ReadInfo);
    if (FromLegend)
      ShowLegendDialog(Host.Wnd, Core);
    else
      ShowInfoDialog(Host.Wnd, Core);
    GInfo = nullptr;
    ASSERT_TRUE(Seen.Seen) << FromLegend;
    EXPECT_TRUE(Seen.OwnerDisabled) << FromLegend;
    EXPECT_TRUE(IsWindowEnabled(Host.Wnd)) << "enabled again when it ends";
    EXPECT_EQ(FindWindowW(DLG_WC, nullptr), nullptr);
    EXPECT_EQ(Seen.Text, std::wstring(Want.begin(), Want.end()));
    EXPECT_NE(Seen.Text.find(L"Sample rate: 250 kHz (file name)"), std::wstring::npos);
    EXPECT_NE(Seen.Text.find(L"Signals: 1"), std::wstring::npos);
  }
}
