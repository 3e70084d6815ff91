// End-to-end through the plug-in DLL: the wheel over the drawing window narrows the band around
// the pointer (the readout shows it), a drag pans it, a key and a double-click restore it, and
// the host's keys are not taken; a click places a marker; Ctrl+S saves the frame through the
// system's save dialog, driven through its controls.
#include "support/win32_TestHost.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

using namespace testhost;

namespace {

constexpr int IDC_STATUS = 1005;
constexpr int IDC_BTN_STEP = 1007;
using ListSendCommand_t = int(WINAPI *)(HWND, int, int);

// Per column, how many pixels of rows Y0..Y1 differ between two frames of width W.
std::vector<int> ChangedColumns(const std::vector<uint8_t> &A, const std::vector<uint8_t> &B, int W, int Y0,
                                int Y1) {
  std::vector<int> N(static_cast<size_t>(W), 0);
  for (int Y = Y0; Y < Y1; ++Y)
    for (int X = 0; X < W; ++X) {
      const size_t I = (static_cast<size_t>(Y) * W + X) * 3;
      N[X] += !std::equal(&A[I], &A[I] + 3, &B[I]);
    }
  return N;
}
int MostChanged(const std::vector<int> &N) {
  return static_cast<int>(std::max_element(N.begin(), N.end()) - N.begin());
}
int FirstChanged(const std::vector<int> &N) {
  return static_cast<int>(std::find_if(N.begin(), N.end(), [](int C) { return C > 0; }) - N.begin());
}

BOOL CALLBACK PickDialog(HWND W, LPARAM L) {
  auto &Q = *reinterpret_cast<std::pair<HWND, HWND> *>(L);
  if (ClassName(W) != L"#32770" || !IsWindowVisible(W) || (Q.first && GetWindow(W, GW_OWNER) != Q.first))
    return TRUE;
  Q.second = W;
  return FALSE;
}
// A visible dialog of thread Tid owned by Owner (any owner when null).
HWND DialogOf(DWORD Tid, HWND Owner) {
  std::pair<HWND, HWND> Q{Owner, nullptr};
  EnumThreadWindows(Tid, PickDialog, reinterpret_cast<LPARAM>(&Q));
  return Q.second;
}

// The file-name field: a combo box (cmb13) or an edit (edt1), depending on the dialog's template.
HWND NameField(HWND Dlg) {
  for (int Id : {0x47C, 0x480})
    if (HWND C = GetDlgItem(Dlg, Id); C && IsWindowVisible(C))
      return C;
  return FindWindowExW(Dlg, nullptr, L"Edit", nullptr);
}

std::string ReadFile(const std::wstring &Path) {
  std::ifstream F(std::filesystem::path(Path), std::ios::binary);
  return {std::istreambuf_iterator<char>(F), {}};
}

uint32_t BigEndian32(const std::string &S, size_t At) {
  uint32_t V = 0;
  for (size_t I = At; I < At + 4 && I < S.size(); ++I)
    V = V << 8 | static_cast<uint8_t>(S[I]);
  return V;
}

// What the save dialog showed and what was done in it.
struct TDialogRun {
  bool Seen = false, Prompted = false, Stuck = false;
  std::wstring Suggested;
};

class LiveViewTools : public PluginSuite {
protected:
  void SetUp() override {
    ASSERT_NE(plugin->Module, nullptr) << "cannot load the plug-in beside the test";
    // 0.5 s of silence at 100 kHz around 100 MHz: the band is 99.95 .. 100.05 MHz.
    const std::wstring File = TempFile(L"zb_tools_a.cs16", std::vector<char>(200000, 0));
    const std::string Side = "sample_rate_hz=100000\ncenter_freq_hz=100000000\n";
    TempFile(L"zb_tools_a.txt", std::vector<char>(Side.begin(), Side.end()));
    Root = plugin->LoadW(Host.Wnd, File.c_str(), 0);
    ASSERT_NE(Root, nullptr);
    HostWindow::Pump();
    Gl = FindWindowExW(Root, nullptr, L"ZembrolaGLWnd", nullptr);
    ASSERT_NE(Gl, nullptr);
    Freq = GetWindow(GetDlgItem(Root, IDC_STATUS), GW_HWNDNEXT);
  }
  void TearDown() override {
    if (Root && IsWindow(Root))
      plugin->Close(Root);
  }
  // The readout at client point (X, 150) of the drawing window, MHz.
  double At(int X) {
    SendMessageW(Gl, WM_MOUSEMOVE, 0, MAKELPARAM(X, 150));
    return std::wcstod(WindowText(Freq).c_str(), nullptr);
  }
  void Wheel(int X, int Notches) {
    POINT P{X, 150};
    ClientToScreen(Gl, &P);
    SendMessageW(Gl, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(Notches * WHEEL_DELTA)),
                 MAKELPARAM(P.x, P.y));
    HostWindow::Pump();
  }
  void Mouse(UINT Msg, int X, WPARAM Keys = 0) {
    SendMessageW(Gl, Msg, Keys, MAKELPARAM(X, 150));
    HostWindow::Pump();
  }

  // The frame as the host's copy command (lc_copy) puts it on the clipboard, RGB top row first;
  // copied again should another test's process have taken the clipboard in between.
  std::vector<uint8_t> Frame(int &W, int &H) {
    const auto Send = reinterpret_cast<ListSendCommand_t>(
        reinterpret_cast<void *>(GetProcAddress(plugin->Module, "ListSendCommand")));
    RECT Rc{};
    GetClientRect(Gl, &Rc);
    std::vector<uint8_t> F;
    for (int Try = 0; Try < 3 && (F.empty() || W != Rc.right || H != Rc.bottom); ++Try)
      F = Send && Send(Root, 1, 0) == 0 ? ClipboardRgb(Root, W, H) : std::vector<uint8_t>{};
    return F;
  }
  void Key(WPARAM Vk, bool Ctrl = false) {
    BYTE State[256];
    GetKeyboardState(State);
    State[VK_CONTROL] = Ctrl ? 0x80 : 0;
    SetKeyboardState(State);
    SendMessageW(Gl, WM_KEYDOWN, Vk, 0);
    State[VK_CONTROL] = 0;
    SetKeyboardState(State);
    HostWindow::Pump();
  }
  // Ctrl+S, with the save dialog it opens on this thread driven from a second one as a person
  // would: wait for it (10 s at most), read the suggested name, type Path (or cancel when it is
  // empty), press the button and answer Yes to a prompt. Whatever is still open after 20 s is
  // cancelled, so a stuck dialog fails the test instead of hanging it.
  TDialogRun SaveThroughDialog(const std::wstring &Path) {
    TDialogRun R;
    const DWORD Tid = GetCurrentThreadId();
    const HWND Owner = GetAncestor(Root, GA_ROOT);
    std::atomic<bool> Back{false};
    std::thread Driver([&] {
      const DWORD Start = GetTickCount();
      const auto Wait = [&](auto Ready, DWORD Ms) {
        while (!Ready() && GetTickCount() - Start < Ms)
          Sleep(20);
        return Ready();
      };
      HWND Dlg = nullptr, Field = nullptr, Box = nullptr;
      if (Wait([&] { return (Dlg = DialogOf(Tid, Owner)) && (Field = NameField(Dlg)); }, 10000)) {
        R.Seen = true;
        Wait([&] { return !(R.Suggested = WindowText(Field)).empty(); }, 10000);
        if (!Path.empty())
          SetWindowTextW(Field, Path.c_str());
        PostMessageW(GetDlgItem(Dlg, Path.empty() ? IDCANCEL : IDOK), BM_CLICK, 0, 0);
        if (Wait([&] { return !IsWindow(Dlg) || (Box = DialogOf(Tid, Dlg)); }, 20000) && Box) {
          R.Prompted = true;
          PostMessageW(GetDlgItem(Box, IDYES), BM_CLICK, 0, 0);
        }
        if (Wait([&] { return Back.load(); }, 20000))
          return;
      }
      // Stuck or not found: whatever dialog this thread shows is cancelled (a prompt answered
      // No) until Ctrl+S returns.
      R.Stuck = R.Seen;
      while (!Back && GetTickCount() - Start < 40000) {
        if (HWND D = DialogOf(Tid, nullptr))
          PostMessageW(D, WM_COMMAND, ClassName(GetWindow(D, GW_OWNER)) == L"#32770" ? IDNO : IDCANCEL, 0);
        Sleep(200);
      }
    });
    Key('S', true);
    Back = true;
    Driver.join();
    return R;
  }

  HostWindow Host{800, 600};
  HWND Root = nullptr, Gl = nullptr, Freq = nullptr;
};

TEST_F(LiveViewTools, WheelDragKeyAndDoubleClick) {
  const double Full = At(600) - At(200);
  ASSERT_GT(Full, 0.03);
  const double Pointer = At(300);
  Wheel(300, 2);
  EXPECT_NEAR(At(600) - At(200), Full * 0.64, Full * 0.01);
  EXPECT_NEAR(At(300), Pointer, Full / 400); // the frequency under the pointer stays
  // Dragging right by 100 pixels shows lower frequencies.
  const double Before = At(300);
  Mouse(WM_LBUTTONDOWN, 300, MK_LBUTTON);
  Mouse(WM_MOUSEMOVE, 350, MK_LBUTTON);
  Mouse(WM_MOUSEMOVE, 400, MK_LBUTTON);
  Mouse(WM_LBUTTONUP, 400);
  EXPECT_LT(At(300), Before - Full * 0.05);
  // The key 0 gives the whole band back; + narrows it again, a double-click restores it.
  SendMessageW(Gl, WM_KEYDOWN, '0', 0);
  HostWindow::Pump();
  EXPECT_NEAR(At(600) - At(200), Full, Full * 0.01);
  SendMessageW(Gl, WM_KEYDOWN, VK_ADD, 0);
  HostWindow::Pump();
  EXPECT_NEAR(At(600) - At(200), Full * 0.8, Full * 0.01);
  Mouse(WM_LBUTTONDBLCLK, 300, MK_LBUTTON);
  Mouse(WM_LBUTTONUP, 300);
  EXPECT_NEAR(At(600) - At(200), Full, Full * 0.01);
  // A wheel over the margin left of the plots is not the viewer's and changes nothing.
  Wheel(20, 3);
  EXPECT_NEAR(At(600) - At(200), Full, Full * 0.01);
}

} // namespace

namespace {

// A click places marker 1 at the frequency under the pointer, a Shift+click marker 2: each is a
// line at the clicked column, still at the frequency the readout gave there once the whole band
// is back; the readout in the status line grows by the second marker and the difference; C takes
// both away. The marker readout is drawn into the frame only, so the frames tell: the host's copy
// command gives them as shown.
TEST_F(LiveViewTools, ClicksPlaceMarkersAndCClearsThem) {
  int W = 0, H = 0;
  const std::vector<uint8_t> Whole = Frame(W, H);
  ASSERT_EQ(Whole.size(), static_cast<size_t>(W) * H * 3);
  ASSERT_GT(H, 100);
  const double Pixel = (At(600) - At(200)) / 400;
  Wheel(300, 2); // zoomed: the click's frequency goes through the band's view too
  const std::vector<uint8_t> None = Frame(W, H);
  const double F1 = At(250), F2 = At(520);
  Mouse(WM_LBUTTONDOWN, 250, MK_LBUTTON);
  Mouse(WM_LBUTTONUP, 250);
  const std::vector<uint8_t> One = Frame(W, H);
  Mouse(WM_LBUTTONDOWN, 520, MK_LBUTTON | MK_SHIFT);
  Mouse(WM_LBUTTONUP, 520, MK_SHIFT);
  const std::vector<uint8_t> Two = Frame(W, H);
  ASSERT_EQ(One.size(), None.size());
  ASSERT_EQ(Two.size(), None.size());
  // The readout is in the status line, the last rows below the plots.
  const int Status = H - 12;
  EXPECT_NEAR(MostChanged(ChangedColumns(None, One, W, 0, Status)), 250, 1);
  EXPECT_NEAR(MostChanged(ChangedColumns(One, Two, W, 0, Status)), 520, 1);
  const int Text1 = FirstChanged(ChangedColumns(None, One, W, Status, H));
  const int Text2 = FirstChanged(ChangedColumns(None, Two, W, Status, H));
  EXPECT_GT(Text1, W / 2) << "the readout is right-aligned";
  EXPECT_LT(Text1, W - 100) << "no readout of marker 1";
  EXPECT_LT(Text2, Text1 - 100) << "the readout did not grow by marker 2 and the difference";
  Key('0');
  const std::vector<int> Lines = ChangedColumns(Whole, Frame(W, H), W, 0, Status);
  const int L1 = MostChanged({Lines.begin(), Lines.begin() + W / 2});
  const int L2 = W / 2 + MostChanged({Lines.begin() + W / 2, Lines.end()});
  EXPECT_GT(Lines[L1], H / 2);
  EXPECT_GT(Lines[L2], H / 2);
  EXPECT_NEAR(At(L1), F1, 1.5 * Pixel);
  EXPECT_NEAR(At(L2), F2, 1.5 * Pixel);
  Key('C');
  EXPECT_TRUE(Frame(W, H) == Whole) << "C left something of the markers";
}

// Ctrl+S: the dialog suggests the recording's name and position; a typed name gets the frame as
// PNG of the drawing window's size (an existing file after a Yes to the prompt), and the status
// line says so; Cancel writes nothing and says nothing. The viewer has the keyboard back after.
TEST_F(LiveViewTools, CtrlSSavesTheFrameThroughTheDialog) {
  SendMessageW(Root, WM_COMMAND, MAKEWPARAM(IDC_BTN_STEP, BN_CLICKED), 0); // off the start
  HostWindow::Pump();
  double Pos = -1;
  ASSERT_EQ(swscanf(WindowText(GetDlgItem(Root, IDC_STATUS)).c_str(), L"Pos: %lf", &Pos), 1);
  ASSERT_GT(Pos, 0);
  const std::wstring Path = TempFile(L"zb_tools_saved.png", {});
  DeleteFileW(Path.c_str());
  RECT Rc{};
  GetClientRect(Gl, &Rc);
  const struct {
    std::wstring Typed;
    bool Exists;
  } Rows[] = {{Path, false}, {Path, true}, {L"", false}};
  for (const auto &Row : Rows) {
    SCOPED_TRACE(Row.Exists ? "over an existing file" : Row.Typed.empty() ? "cancelled" : "new file");
    if (Row.Exists)
      TempFile(L"zb_tools_saved.png", {'o', 'l', 'd'});
    const std::wstring StatusBefore = WindowText(GetDlgItem(Root, IDC_STATUS));
    SetFocus(Gl);
    const TDialogRun Run = SaveThroughDialog(Row.Typed);
    ASSERT_TRUE(Run.Seen) << "no save dialog within 10 s";
    EXPECT_FALSE(Run.Stuck) << "the dialog did not close; cancelled";
    double Suggested = -1;
    EXPECT_EQ(swscanf(Run.Suggested.c_str(), L"zb_tools_a_%lfs.png", &Suggested), 1) << Run.Suggested;
    EXPECT_NEAR(Suggested, Pos, 0.006) << Run.Suggested;
    EXPECT_EQ(Run.Prompted, Row.Exists);
    if (GetForegroundWindow() == Host.Wnd) { // not while another test's window is in front
      EXPECT_EQ(GetFocus(), Gl) << "the keyboard stayed with the host's window";
    }
    const std::wstring Status = WindowText(GetDlgItem(Root, IDC_STATUS));
    if (Row.Typed.empty()) {
      EXPECT_EQ(Status, StatusBefore);
      EXPECT_EQ(GetFileAttributesW((Path.substr(0, Path.rfind(L'\\') + 1) + Run.Suggested).c_str()),
                INVALID_FILE_ATTRIBUTES);
      continue;
    }
    EXPECT_EQ(Status, L"Saved " + Path);
    const std::string Png = ReadFile(Path);
    EXPECT_EQ(Png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(Png.substr(12, 4), "IHDR");
    EXPECT_EQ(BigEndian32(Png, 16), static_cast<uint32_t>(Rc.right));
    EXPECT_EQ(BigEndian32(Png, 20), static_cast<uint32_t>(Rc.bottom));
  }
  DeleteFileW(Path.c_str());
}

} // namespace
