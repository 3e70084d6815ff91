// End-to-end: the live viewer driven the way a user drives it (buttons, slider, settings dialog)
// inside a host window, through the plug-in DLL.
#include "support/win32_TestHost.h"

#include <commctrl.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace testhost;

namespace {

constexpr int IDC_PLAY = 1001, IDC_RESET = 1002, IDC_SETTINGS = 1003, IDC_SLIDER = 1004, IDC_STATUS = 1005,
              IDC_STEP = 1007;
const std::wstring PLAY_TEXT = L"\u25B6 Play", STOP_TEXT = L"|| Stop";

// An int16 recording of Seconds at Rate with a sidecar giving the rate: a tone in noise.
std::wstring MakeRecording(const wchar_t *Name, double Seconds, double Rate) {
  const size_t N = static_cast<size_t>(Seconds * Rate);
  std::vector<char> Bytes(N * 4);
  uint32_t Seed = 12345;
  for (size_t i = 0; i < N; ++i) {
    Seed = Seed * 1664525u + 1013904223u;
    const double Noise = static_cast<double>(Seed >> 16) / 65536.0 - 0.5;
    const double Phase = 2 * 3.14159265358979 * 0.1 * static_cast<double>(i);
    const auto I = static_cast<int16_t>(8000 * std::cos(Phase) + 500 * Noise);
    const auto Q = static_cast<int16_t>(8000 * std::sin(Phase) + 500 * Noise);
    std::memcpy(&Bytes[i * 4], &I, 2);
    std::memcpy(&Bytes[i * 4 + 2], &Q, 2);
  }
  const std::wstring Path = TempFile(Name, Bytes);
  const std::string Side =
      "sample_rate_hz=" + std::to_string(static_cast<long long>(Rate)) + "\ncenter_freq_hz=100000000\n";
  std::wstring SidePath = Path.substr(0, Path.find_last_of(L'.')) + L".txt";
  TempFile(SidePath.substr(SidePath.find_last_of(L"\\/") + 1).c_str(),
           std::vector<char>(Side.begin(), Side.end()));
  return Path;
}

class LiveViewerGL : public PluginSuite {
protected:
  void SetUp() override { ASSERT_NE(plugin->Module, nullptr) << "cannot load the plug-in beside the test"; }
  void TearDown() override {
    if (Root && IsWindow(Root))
      plugin->Close(Root);
  }

  void Open(const std::wstring &File) {
    Root = plugin->LoadW(Host.Wnd, File.c_str(), 0);
    ASSERT_NE(Root, nullptr);
    HostWindow::Pump();
  }
  std::wstring Status() const { return WindowText(GetDlgItem(Root, IDC_STATUS)); }
  std::wstring PlayText() const { return WindowText(GetDlgItem(Root, IDC_PLAY)); }
  LRESULT SliderPos() const { return SendMessageW(GetDlgItem(Root, IDC_SLIDER), TBM_GETPOS, 0, 0); }
  void Click(int Id) {
    SendMessageW(GetDlgItem(Root, Id), BM_CLICK, 0, 0);
    HostWindow::Pump();
  }
  // The user moves the slider: the control changes its position and notifies the root window.
  void Slide(int Pos, WORD Code) {
    HWND S = GetDlgItem(Root, IDC_SLIDER);
    SendMessageW(S, TBM_SETPOS, TRUE, Pos);
    SendMessageW(Root, WM_HSCROLL, MAKEWPARAM(Code, Pos), reinterpret_cast<LPARAM>(S));
  }
  // Pumps messages (timers included) until Done or TimeoutMs.
  static bool PumpUntil(const std::function<bool()> &Done, int TimeoutMs) {
    const DWORD Start = GetTickCount();
    while (!Done()) {
      if (static_cast<int>(GetTickCount() - Start) > TimeoutMs)
        return false;
      HostWindow::Pump(1);
      Sleep(5);
    }
    return true;
  }

  HostWindow Host{800, 600};
  HWND Root = nullptr;
};

bool StartsWith(const std::wstring &S, const std::wstring &P) {
  return S.compare(0, P.size(), P) == 0;
}

} // namespace

TEST_F(LiveViewerGL, StatusSliderAndButtonsFollowTheUser) {
  Open(MakeRecording(L"zb_live_a.cs16", 2.0, 100000));
  EXPECT_TRUE(StartsWith(Status(), L"Pos: 0.00/2.00s | [CPU]")) << Status();
  HWND S = GetDlgItem(Root, IDC_SLIDER);
  EXPECT_EQ(SendMessageW(S, TBM_GETRANGEMIN, 0, 0), 0);
  EXPECT_EQ(SendMessageW(S, TBM_GETRANGEMAX, 0, 0), 10000);
  EXPECT_EQ(SliderPos(), 0);

  Click(IDC_STEP);
  EXPECT_TRUE(StartsWith(Status(), L"Pos: 0.0")) << Status();
  EXPECT_FALSE(StartsWith(Status(), L"Pos: 0.00/")) << "a step moves forward: " << Status();
  EXPECT_GT(SliderPos(), 0);

  Click(IDC_PLAY);
  EXPECT_EQ(PlayText(), STOP_TEXT);
  Click(IDC_PLAY);
  EXPECT_EQ(PlayText(), PLAY_TEXT);
  EXPECT_TRUE(StartsWith(Status(), L"Stopped at ")) << Status();

  Click(IDC_RESET);
  EXPECT_EQ(Status(), L"Reset to 0.00 s");
  EXPECT_EQ(SliderPos(), 0);

  // A click on the slider's track: a settled seek to the middle.
  Slide(5000, TB_THUMBPOSITION);
  HostWindow::Pump();
  EXPECT_TRUE(StartsWith(Status(), L"Pos: 1.00/2.00s")) << Status();
}

TEST_F(LiveViewerGL, DraggingTheSliderSettlesAfterTheDragRests) {
  Open(MakeRecording(L"zb_live_b.cs16", 2.0, 100000));
  // While the thumb is dragged only the PSD follows; the waterfall is rebuilt once it rests.
  for (int Pos : {1000, 2000, 3000, 4000}) {
    Slide(Pos, TB_THUMBTRACK);
    EXPECT_TRUE(StartsWith(Status(), L"Pos: 0." + std::to_wstring(Pos / 1000 * 2) + L"0/")) << Status();
  }
  PumpUntil([] { return false; }, 300); // past the 110 ms debounce
  EXPECT_TRUE(StartsWith(Status(), L"Pos: 0.80/2.00s")) << Status();
  EXPECT_EQ(SliderPos(), 4000);
}

TEST_F(LiveViewerGL, AShortRecordingPlaysToItsEnd) {
  Open(MakeRecording(L"zb_live_c.cs16", 0.3, 100000));
  Click(IDC_PLAY);
  ASSERT_TRUE(PumpUntil([&] { return Status() == L"Playback finished"; }, 20000)) << Status();
  EXPECT_EQ(PlayText(), PLAY_TEXT);
  EXPECT_EQ(SliderPos(), 10000);
}

TEST_F(LiveViewerGL, EscapeAndCloseWhilePlaying) {
  Open(MakeRecording(L"zb_live_d.cs16", 5.0, 100000));
  Click(IDC_PLAY);
  PumpUntil([] { return false; }, 150);
  SendMessageW(Root, WM_KEYDOWN, VK_ESCAPE, 0);
  HostWindow::Pump();
  ASSERT_FALSE(Host.KeysDown.empty());
  EXPECT_EQ(Host.KeysDown.back(), static_cast<WPARAM>(VK_ESCAPE));
  plugin->Close(Root);
  EXPECT_FALSE(IsWindow(Root));
  Root = nullptr;
  // No timer of the closed viewer may fire into freed memory.
  PumpUntil([] { return false; }, 150);
}

TEST_F(LiveViewerGL, AFileTruncatedWhilePlayingStopsPlaybackAndKeepsTheViewer) {
  const std::wstring File = MakeRecording(L"zb_live_e.cs16", 3.0, 100000);
  Open(File);
  Click(IDC_PLAY);
  PumpUntil([] { return false; }, 150);
  {
    HANDLE H =
        CreateFileW(File.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(H, INVALID_HANDLE_VALUE);
    LARGE_INTEGER Size{};
    Size.QuadPart = 4 * 20000; // 0.2 s left
    SetFilePointerEx(H, Size, nullptr, FILE_BEGIN);
    SetEndOfFile(H);
    CloseHandle(H);
  }
  ASSERT_TRUE(PumpUntil([&] { return PlayText() == PLAY_TEXT; }, 20000)) << Status();
  EXPECT_TRUE(StartsWith(Status(), L"Read error at ")) << Status();
  EXPECT_NE(Status().find(L"0.20 s"), std::wstring::npos) << "says where the file now ends: " << Status();
  // The viewer stays usable.
  Click(IDC_RESET);
  EXPECT_EQ(Status(), L"Reset to 0.00 s");
}

namespace {

// Drives the settings dialog from inside its modal loop: a thread timer fires while the loop
// runs, fills the edits and presses a button.
struct TDialogScript {
  std::vector<std::pair<int, std::wstring>> Edits; // row index, new text
  int Button = 2001;                               // OK; 2002 Cancel; 0 close box
  HWND Root = nullptr;
  bool Seen = false, RootDisabled = false;
  std::vector<std::wstring> Initial;
};
TDialogScript *GScript = nullptr;

void CALLBACK DriveDialog(HWND, UINT, UINT_PTR Id, DWORD) {
  HWND Dlg = FindWindowW(L"ZembrolaDlg", L"Zembrola Settings");
  if (!Dlg || !GScript)
    return;
  KillTimer(nullptr, Id);
  TDialogScript &S = *GScript;
  S.Seen = true;
  S.RootDisabled = !IsWindowEnabled(S.Root);
  std::vector<HWND> Edits;
  for (HWND C = GetWindow(Dlg, GW_CHILD); C; C = GetWindow(C, GW_HWNDNEXT))
    if (_wcsicmp(ClassName(C).c_str(), L"Edit") == 0)
      Edits.push_back(C);
  for (HWND E : Edits)
    S.Initial.push_back(WindowText(E));
  for (const auto &[Row, Text] : S.Edits)
    if (Row < static_cast<int>(Edits.size()))
      SetWindowTextW(Edits[static_cast<size_t>(Row)], Text.c_str());
  if (S.Button == 0)
    PostMessageW(Dlg, WM_CLOSE, 0, 0);
  else
    PostMessageW(Dlg, WM_COMMAND, MAKEWPARAM(S.Button, BN_CLICKED), 0);
}

} // namespace

TEST_F(LiveViewerGL, SettingsDialogAcceptsRefusesAndCancels) {
  Open(MakeRecording(L"zb_live_f.cs16", 2.0, 100000));
  const auto RunDialog = [&](TDialogScript S) {
    S.Root = Root;
    GScript = &S;
    SetFocus(FindWindowExW(Root, nullptr, L"ZembrolaGLWnd", nullptr));
    SetTimer(nullptr, 0, 20, DriveDialog);
    Click(IDC_SETTINGS); // the button takes the keyboard, and gets it back after the dialog
    GScript = nullptr;
    if (GetForegroundWindow() == GetAncestor(Root, GA_ROOT)) { // not while another test's window is in front
      EXPECT_EQ(GetFocus(), GetDlgItem(Root, IDC_SETTINGS)) << "the keyboard stayed with the host's window";
    }
    EXPECT_TRUE(S.Seen);
    EXPECT_TRUE(S.RootDisabled) << "the viewer is disabled while its dialog runs";
    EXPECT_TRUE(IsWindowEnabled(Root));
    EXPECT_EQ(FindWindowW(L"ZembrolaDlg", nullptr), nullptr) << "the dialog is gone";
    return S;
  };
  // Opened with the values in force.
  TDialogScript First = RunDialog({{}, 2002});
  ASSERT_EQ(First.Initial.size(), 10u);
  EXPECT_EQ(First.Initial[0], L"100000");
  EXPECT_EQ(First.Initial[1], L"100000000");
  EXPECT_EQ(First.Initial[2], L"2048");
  EXPECT_EQ(First.Initial[4], L"10.0");
  EXPECT_EQ(First.Initial[9], L"1");

  // Cancelled: nothing changes, even with edited fields.
  RunDialog({{{0, L"50000"}}, 2002});
  RunDialog({{{0, L"50000"}}, 0});
  EXPECT_TRUE(StartsWith(Status(), L"Pos: 0.00/2.00s")) << Status();

  // Accepted: a new sample rate (with a decimal comma) doubles the duration; PSD NFFT 1000
  // becomes 1024; a refused field (63) keeps its value without a message.
  RunDialog({{{0, L"5,0e4"}, {2, L"1000"}, {3, L"63"}, {9, L"0"}}, 2001});
  EXPECT_TRUE(StartsWith(Status(), L"Pos: 0.00/4.00s")) << Status();
  TDialogScript After = RunDialog({{}, 2002});
  ASSERT_EQ(After.Initial.size(), 10u);
  EXPECT_EQ(After.Initial[0], L"50000");
  EXPECT_EQ(After.Initial[2], L"1024");
  EXPECT_EQ(After.Initial[9], L"1");
}

namespace {

// The tooltip window the viewer made: a popup owned by the root window's top-level window
// (an owner is always a top-level window), or null.
HWND FindTooltipOf(HWND Root) {
  const HWND Top = GetAncestor(Root, GA_ROOT);
  for (HWND W = FindWindowExW(nullptr, nullptr, TOOLTIPS_CLASSW, nullptr); W;
       W = FindWindowExW(nullptr, W, TOOLTIPS_CLASSW, nullptr))
    if (GetWindowThreadProcessId(W, nullptr) == GetCurrentThreadId() &&
        (GetWindow(W, GW_OWNER) == Root || GetWindow(W, GW_OWNER) == Top))
      return W;
  return nullptr;
}

} // namespace

TEST_F(LiveViewerGL, ReadoutAndTooltipFollowTheMouse) {
  const std::wstring File = MakeRecording(L"zb_live_g.cs16", 1.0, 100000);
  // One signal 20 kHz above the centre of the 100 kHz wide display.
  const std::string Side =
      "sample_rate_hz=100000\ncenter_freq_hz=100000000\nsignals=\n"
      "[0] name=Bake modulation=CW offset_hz=20000 amplitude=0.5 loop_mode=true repeat=0 "
      "pause=0s delay=0s duration=1s comment=Leuchtfeuer  params=x=1\n";
  TempFile(L"zb_live_g.txt", std::vector<char>(Side.begin(), Side.end()));
  Open(File);
  HWND Gl = FindWindowExW(Root, nullptr, L"ZembrolaGLWnd", nullptr);
  HWND Freq = GetWindow(GetDlgItem(Root, IDC_STATUS), GW_HWNDNEXT);
  const auto Move = [&](int X, int Y) {
    SendMessageW(Gl, WM_MOUSEMOVE, 0, MAKELPARAM(X, Y));
    HostWindow::Pump();
  };
  const auto ReadoutMHz = [&]() { return std::wcstod(WindowText(Freq).c_str(), nullptr); };

  // Outside the plots (the left margin): no readout.
  Move(2, 100);
  EXPECT_EQ(WindowText(Freq), L"");
  // Across the plot the readout rises from about 99.95 to 100.05 MHz; find the column of the signal.
  RECT Rc{};
  GetClientRect(Gl, &Rc);
  int SignalX = -1;
  double Best = 1e9;
  for (int X = 0; X < Rc.right; ++X) {
    // The readout is set while the message is handled: no need to pump for each column.
    SendMessageW(Gl, WM_MOUSEMOVE, 0, MAKELPARAM(X, 150));
    const std::wstring T = WindowText(Freq);
    if (T.empty())
      continue;
    EXPECT_NE(T.find(L" MHz"), std::wstring::npos) << T;
    const double D = std::fabs(ReadoutMHz() - 100.02);
    if (D < Best) {
      Best = D;
      SignalX = X;
    }
  }
  ASSERT_GE(SignalX, 0);
  EXPECT_LT(Best, 0.001) << "a column within 1 kHz of the signal";

  // Over the signal: the tooltip shows its description, below and right of the mouse.
  Move(SignalX + 1, 150);
  Move(SignalX, 150);
  HWND Tip = FindTooltipOf(Root);
  ASSERT_NE(Tip, nullptr);
  EXPECT_TRUE(IsWindowVisible(Tip));
  wchar_t Buf[1024] = {};
  TTTOOLINFOW Ti{};
  Ti.cbSize = sizeof(Ti);
  Ti.lpszText = Buf;
  SendMessageW(Tip, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&Ti));
  SendMessageW(Tip, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&Ti));
  EXPECT_NE(std::wstring(Buf).find(L"Bake"), std::wstring::npos) << Buf;
  RECT Tr{};
  GetWindowRect(Tip, &Tr);
  POINT P{SignalX, 150};
  ClientToScreen(Gl, &P);
  EXPECT_NEAR(Tr.left, P.x + 18, 1);
  EXPECT_NEAR(Tr.top, P.y + 18, 1);

  // Overlay off hides it; on again and away from the signal, it stays hidden.
  Click(1006);
  EXPECT_FALSE(IsWindowVisible(Tip));
  Click(1006);
  Move(SignalX > 100 ? SignalX - 60 : SignalX + 60, 150);
  EXPECT_FALSE(IsWindowVisible(Tip));
  // Leaving the drawing window hides it too.
  Move(SignalX, 150);
  SendMessageW(Gl, WM_MOUSELEAVE, 0, 0);
  HostWindow::Pump();
  EXPECT_FALSE(IsWindowVisible(Tip));
}

TEST_F(LiveViewerGL, JsonMetadataFileOpensTheRecordingBesideIt) {
  // 2 s of int16 samples at 100 kHz in the data file; rate, centre and one annotated signal
  // 20 kHz above the centre in the metadata file. The metadata file is the one opened.
  const std::wstring Data = MakeRecording(L"zb_live_j.sigmf-data", 2.0, 100000);
  const std::string Meta =
      R"({"global": {"core:datatype": "ci16_le", "core:sample_rate": 100000},
          "captures": [{"core:sample_start": 0, "core:frequency": 433920000}],
          "annotations": [{"core:sample_start": 0, "core:freq_lower_edge": 433935000,
                           "core:freq_upper_edge": 433945000, "core:label": "Funkschluessel"}]})";
  // MakeRecording's own sidecar would come first; this recording has none.
  DeleteFileW((Data.substr(0, Data.find_last_of(L'.')) + L".txt").c_str());
  const std::wstring MetaPath =
      TempFile(L"zb_live_j.sigmf-meta", std::vector<char>(Meta.begin(), Meta.end()));
  Open(MetaPath);
  EXPECT_TRUE(StartsWith(Status(), L"Pos: 0.00/2.00s")) << Status();

  HWND Gl = FindWindowExW(Root, nullptr, L"ZembrolaGLWnd", nullptr);
  HWND Freq = GetWindow(GetDlgItem(Root, IDC_STATUS), GW_HWNDNEXT);
  RECT Rc{};
  GetClientRect(Gl, &Rc);
  int SignalX = -1;
  double Best = 1e9;
  for (int X = 0; X < Rc.right; ++X) {
    SendMessageW(Gl, WM_MOUSEMOVE, 0, MAKELPARAM(X, 150));
    const std::wstring T = WindowText(Freq);
    if (T.empty())
      continue;
    const double D = std::fabs(std::wcstod(T.c_str(), nullptr) - 433.94);
    if (D < Best) {
      Best = D;
      SignalX = X;
    }
  }
  ASSERT_GE(SignalX, 0);
  EXPECT_LT(Best, 0.001) << "the readout spans the centre the metadata gives";
  SendMessageW(Gl, WM_MOUSEMOVE, 0, MAKELPARAM(SignalX + 1, 150));
  HostWindow::Pump();
  SendMessageW(Gl, WM_MOUSEMOVE, 0, MAKELPARAM(SignalX, 150));
  HostWindow::Pump();
  HWND Tip = FindTooltipOf(Root);
  ASSERT_NE(Tip, nullptr);
  wchar_t Buf[1024] = {};
  TTTOOLINFOW Ti{};
  Ti.cbSize = sizeof(Ti);
  Ti.lpszText = Buf;
  SendMessageW(Tip, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&Ti));
  SendMessageW(Tip, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&Ti));
  EXPECT_NE(std::wstring(Buf).find(L"Funkschluessel"), std::wstring::npos) << Buf;

  // The file manager's preview of the metadata file is the recording's.
  const HBITMAP Preview = plugin->PreviewW(MetaPath.c_str(), 64, 64, nullptr, 0);
  EXPECT_NE(Preview, nullptr);
  if (Preview)
    DeleteObject(Preview);
}
