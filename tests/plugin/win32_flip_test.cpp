// End-to-end: flipping through a folder in one viewer (ListLoadNext), the frame on the clipboard
// (ListSendCommand) and the keys the host gets from the viewer.
#include "support/win32_TestHost.h"

#include <commctrl.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace testhost;

namespace {

using ListLoadNextW_t = int(WINAPI *)(HWND, HWND, const wchar_t *, int);
using ListLoadNext_t = int(WINAPI *)(HWND, HWND, const char *, int);
using ListSendCommand_t = int(WINAPI *)(HWND, int, int);

void Put16(std::vector<char> &B, int V) {
  B.push_back(static_cast<char>(V & 0xFF));
  B.push_back(static_cast<char>((V >> 8) & 0xFF));
}
void Put32(std::vector<char> &B, uint32_t V) {
  Put16(B, static_cast<int>(V & 0xFFFF));
  Put16(B, static_cast<int>(V >> 16));
}

// N samples of a tone at Cycles per sample (plus a little of a second one), as int16 I/Q.
std::vector<char> Int16Tone(size_t N, double Cycles) {
  std::vector<char> B;
  B.reserve(N * 4);
  for (size_t I = 0; I < N; ++I) {
    const double P = 2 * 3.14159265358979 * Cycles * static_cast<double>(I);
    Put16(B, static_cast<int>(7000 * std::cos(P) + 300 * std::cos(3.1 * P)));
    Put16(B, static_cast<int>(7000 * std::sin(P)));
  }
  return B;
}

struct TRecording {
  std::wstring Path;
  double DurationSec;
};

// Five recordings of different formats and lengths; the first with a sidecar that gives rate,
// centre and a signal.
std::vector<TRecording> FiveRecordings() {
  std::vector<TRecording> R;
  const std::string Side =
      "sample_rate_hz=500000\ncenter_freq_hz=433920000\n"
      "signals=\n[0] name=Beacon modulation=CW offset_hz=62500 amplitude=0.3 loop_mode=true repeat=1 "
      "pause=0s delay=0s duration=0s comment=steady  params=\n";
  TempFile(L"zb_flip_a.txt", std::vector<char>(Side.begin(), Side.end()));
  R.push_back({TempFile(L"zb_flip_a.cs16", Int16Tone(600000, 0.125)), 1.2});
  {
    std::vector<char> B(2 * 3000000); // int8, no sidecar: 2 MS/s
    for (size_t I = 0; I < B.size(); ++I)
      B[I] = static_cast<char>(60 * std::sin(0.7 * static_cast<double>(I / 2) + (I % 2 ? 1.57 : 0)));
    R.push_back({TempFile(L"zb_flip_b.cs8", B), 1.5});
  }
  {
    std::vector<char> B; // float32 at 2 MS/s
    for (size_t I = 0; I < 1000000; ++I) {
      const float V[2] = {0.3f * std::cos(0.2f * static_cast<float>(I)),
                          0.3f * std::sin(0.2f * static_cast<float>(I))};
      B.insert(B.end(), reinterpret_cast<const char *>(V), reinterpret_cast<const char *>(V) + 8);
    }
    R.push_back({TempFile(L"zb_flip_c.cf32", B), 0.5});
  }
  {
    std::vector<char> B; // the 28-byte header gives 1 MS/s
    Put32(B, 1000000);
    B.resize(28, 0);
    const std::vector<char> S = Int16Tone(2500000, 0.31);
    B.insert(B.end(), S.begin(), S.end());
    R.push_back({TempFile(L"zb_flip_d.sdriq", B), 2.5});
  }
  {
    const std::vector<char> S = Int16Tone(250000, 0.05); // two-channel WAV at 250 kHz
    std::vector<char> B = {'R', 'I', 'F', 'F'};
    Put32(B, static_cast<uint32_t>(36 + S.size()));
    B.insert(B.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(B, 16);
    Put16(B, 1);
    Put16(B, 2);
    Put32(B, 250000);
    Put32(B, 250000 * 4);
    Put16(B, 4);
    Put16(B, 16);
    B.insert(B.end(), {'d', 'a', 't', 'a'});
    Put32(B, static_cast<uint32_t>(S.size()));
    B.insert(B.end(), S.begin(), S.end());
    R.push_back({TempFile(L"zb_flip_e.iq", B), 1.0});
  }
  return R;
}

class FlipGL : public PluginSuite {
protected:
  void SetUp() override {
    ASSERT_NE(plugin->Module, nullptr);
    NextW = reinterpret_cast<ListLoadNextW_t>(
        reinterpret_cast<void *>(GetProcAddress(plugin->Module, "ListLoadNextW")));
    Next = reinterpret_cast<ListLoadNext_t>(
        reinterpret_cast<void *>(GetProcAddress(plugin->Module, "ListLoadNext")));
    Send = reinterpret_cast<ListSendCommand_t>(
        reinterpret_cast<void *>(GetProcAddress(plugin->Module, "ListSendCommand")));
    ASSERT_NE(NextW, nullptr);
    ASSERT_NE(Next, nullptr);
    ASSERT_NE(Send, nullptr);
  }

  // The frame the viewer puts on the clipboard, RGB top row first.
  std::vector<uint8_t> Copy(HWND Root, int &W, int &H) {
    EXPECT_EQ(Send(Root, 1, 0), 0);
    return ClipboardRgb(Root, W, H);
  }
  std::vector<uint8_t> Copy(HWND Root) {
    int W = 0, H = 0;
    return Copy(Root, W, H);
  }
  // The frame of a fresh viewer of File in a host of the same size.
  std::vector<uint8_t> FreshFrame(const std::wstring &File) {
    HostWindow Host(640, 480);
    HWND Root = plugin->LoadW(Host.Wnd, File.c_str(), 0);
    EXPECT_NE(Root, nullptr);
    HostWindow::Pump();
    std::vector<uint8_t> F = Copy(Root);
    plugin->Close(Root);
    return F;
  }

  // The status line once the window has filled (a large window fills after the first frame).
  static std::wstring Status(HWND Root) {
    std::wstring S = WindowText(GetDlgItem(Root, 1005));
    for (const DWORD Start = GetTickCount();
         S.rfind(L"Filling waterfall ", 0) == 0 && GetTickCount() - Start < 60000;
         S = WindowText(GetDlgItem(Root, 1005)))
      HostWindow::Pump(5);
    return S;
  }
  static std::wstring StatusStart(double Dur) {
    wchar_t B[64];
    swprintf(B, 64, L"Pos: 0.00/%.2fs", Dur);
    return B;
  }

  ListLoadNextW_t NextW = nullptr;
  ListLoadNext_t Next = nullptr;
  ListSendCommand_t Send = nullptr;
};

} // namespace

// Each flip keeps the window tree and shows what a fresh viewer of the file shows: the same frame
// (PSD, waterfall, header, overlays), status line and slider.
TEST_F(FlipGL, FlipThroughFiveRecordingsOfDifferentFormats) {
  const std::vector<TRecording> Files = FiveRecordings();
  std::vector<std::vector<uint8_t>> Fresh;
  for (const TRecording &F : Files)
    Fresh.push_back(FreshFrame(F.Path));
  HostWindow Host(640, 480);
  HWND Root = plugin->LoadW(Host.Wnd, Files.back().Path.c_str(), 0);
  ASSERT_NE(Root, nullptr);
  HWND Gl = FindWindowExW(Root, nullptr, L"ZembrolaGLWnd", nullptr);
  HWND Slider = GetDlgItem(Root, 1004);
  for (size_t I = 0; I < Files.size(); ++I) {
    SCOPED_TRACE(I);
    EXPECT_EQ(NextW(Host.Wnd, Root, Files[I].Path.c_str(), 0), 0);
    HostWindow::Pump();
    EXPECT_EQ(FindWindowExW(Root, nullptr, L"ZembrolaGLWnd", nullptr), Gl);
    EXPECT_EQ(Status(Root).rfind(StatusStart(Files[I].DurationSec), 0), 0u) << Status(Root).c_str();
    EXPECT_EQ(SendMessageW(Slider, TBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(SendMessageW(Slider, TBM_GETRANGEMAX, 0, 0), 10000);
    int W = 0, H = 0;
    const std::vector<uint8_t> Frame = Copy(Root, W, H);
    EXPECT_TRUE(Frame == Fresh[I]) << "frame differs from a fresh viewer's";
    if (I > 0) {
      EXPECT_FALSE(Fresh[I] == Fresh[I - 1]);
    }
  }
  plugin->Close(Root);
}

// A file that cannot be shown: 1, and the viewer shows the previous file as before. So does a
// window without a viewer.
TEST_F(FlipGL, UnshowableFileKeepsThePreviousOne) {
  const std::vector<TRecording> Files = FiveRecordings();
  HostWindow Host(640, 480);
  HWND Root = plugin->LoadW(Host.Wnd, Files[0].Path.c_str(), 0);
  ASSERT_NE(Root, nullptr);
  HostWindow::Pump();
  const std::wstring Before = Status(Root);
  const std::vector<uint8_t> Frame = Copy(Root);
  // Held without sharing: the viewer cannot open it.
  const std::wstring Locked = TempFile(L"zb_flip_locked.cs16", Int16Tone(10000, 0.1));
  HANDLE Lock = CreateFileW(Locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(Lock, INVALID_HANDLE_VALUE);
  const std::wstring Missing = Files[0].Path + L".gone";
  for (const std::wstring &Bad : {Missing, Locked, std::wstring()}) {
    EXPECT_EQ(NextW(Host.Wnd, Root, Bad.c_str(), 0), 1);
    HostWindow::Pump();
    EXPECT_EQ(Status(Root), Before);
    EXPECT_TRUE(Copy(Root) == Frame);
  }
  EXPECT_EQ(NextW(Host.Wnd, Root, nullptr, 0), 1);
  EXPECT_EQ(Next(Host.Wnd, Root, "Z:\\no\\such\\file.cs16", 0), 1);
  CloseHandle(Lock);
  EXPECT_EQ(NextW(Host.Wnd, Host.Wnd, Files[1].Path.c_str(), 0), 1);
  // The ANSI form shows a file the wide one would.
  char Ansi[MAX_PATH];
  WideCharToMultiByte(CP_ACP, 0, Files[1].Path.c_str(), -1, Ansi, MAX_PATH, nullptr, nullptr);
  EXPECT_EQ(Next(Host.Wnd, Root, Ansi, 0), 0);
  EXPECT_EQ(Status(Root).rfind(StatusStart(Files[1].DurationSec), 0), 0u) << Status(Root).c_str();
  plugin->Close(Root);
}

// Flipping while playing, and while a drag waits for its settling: nothing of the previous file
// goes on afterwards; the next file stands at 0 with the play button back to "Play".
TEST_F(FlipGL, FlipWhilePlayingAndWhileADragSettles) {
  const std::vector<TRecording> Files = FiveRecordings();
  const std::vector<uint8_t> Fresh = FreshFrame(Files[2].Path);
  HostWindow Host(640, 480);
  HWND Root = plugin->LoadW(Host.Wnd, Files[3].Path.c_str(), 0);
  ASSERT_NE(Root, nullptr);
  HWND Play = GetDlgItem(Root, 1001), Slider = GetDlgItem(Root, 1004);
  for (int Case = 0; Case < 2; ++Case) {
    SCOPED_TRACE(Case == 0 ? "playing" : "drag");
    ASSERT_EQ(NextW(Host.Wnd, Root, Files[3].Path.c_str(), 0), 0);
    if (Case == 0) {
      SendMessageW(Play, BM_CLICK, 0, 0);
      for (int I = 0; I < 10; ++I)
        HostWindow::Pump();
      ASSERT_NE(SendMessageW(Slider, TBM_GETPOS, 0, 0), 0) << "playback did not move";
    } else {
      SendMessageW(Slider, TBM_SETPOS, TRUE, 5000);
      SendMessageW(Root, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 5000), reinterpret_cast<LPARAM>(Slider));
    }
    EXPECT_EQ(NextW(Host.Wnd, Root, Files[2].Path.c_str(), 0), 0);
    for (int I = 0; I < 100; ++I) // past the drag's settling time and several play ticks
      HostWindow::Pump();
    EXPECT_EQ(WindowText(Play), L"\u25B6 Play");
    EXPECT_EQ(SendMessageW(Slider, TBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(Status(Root).rfind(StatusStart(Files[2].DurationSec), 0), 0u) << Status(Root).c_str();
    EXPECT_TRUE(Copy(Root) == Fresh);
  }
  plugin->Close(Root);
}

namespace {

// What the host's timer needs to flip while the dialog's loop runs.
struct TDialogFlip {
  HWND Root = nullptr;
  ListLoadNextW_t NextW = nullptr;
  std::wstring Target;
  int Result = -1;
} GDialogFlip;

void CALLBACK FlipFromTheHost(HWND W, UINT, UINT_PTR Id, DWORD) {
  KillTimer(W, Id);
  GDialogFlip.Result =
      GDialogFlip.NextW(GetParent(GDialogFlip.Root), GDialogFlip.Root, GDialogFlip.Target.c_str(), 0);
}

// Only where the flip did not end the dialog: the test then fails instead of hanging.
void CALLBACK CloseLeftoverDialog(HWND W, UINT, UINT_PTR Id, DWORD) {
  KillTimer(W, Id);
  if (HWND Dlg = FindWindowW(L"ZembrolaDlg", nullptr))
    PostMessageW(Dlg, WM_CLOSE, 0, 0);
}

} // namespace

// A dialog open over the viewer when the host flips ends as if cancelled.
TEST_F(FlipGL, FlipClosesTheOpenDialog) {
  const std::vector<TRecording> Files = FiveRecordings();
  HostWindow Host(640, 480);
  HWND Root = plugin->LoadW(Host.Wnd, Files[0].Path.c_str(), 0);
  ASSERT_NE(Root, nullptr);
  GDialogFlip = {Root, NextW, Files[1].Path, -1};
  // The flip arrives from the host's side while the dialog's loop runs, as a host's key would.
  SetTimer(Host.Wnd, 7, 300, FlipFromTheHost);
  SetTimer(Host.Wnd, 8, 5000, CloseLeftoverDialog);
  SendMessageW(Root, WM_COMMAND, MAKEWPARAM(1003, BN_CLICKED), 0); // returns when the dialog ends
  KillTimer(Host.Wnd, 8);
  EXPECT_EQ(GDialogFlip.Result, 0);
  EXPECT_EQ(FindWindowW(L"ZembrolaDlg", nullptr), nullptr);
  EXPECT_TRUE(IsWindowEnabled(Root));
  EXPECT_EQ(Status(Root).rfind(StatusStart(Files[1].DurationSec), 0), 0u);
  plugin->Close(Root);
}

// lc_copy: a bitmap of the drawing window's size with the pixels the screen shows; the other
// commands are accepted and change nothing; unknown ones and windows without a viewer get 1.
TEST_F(FlipGL, CopyPutsTheFrameAsShownOnTheClipboard) {
  const std::vector<TRecording> Files = FiveRecordings();
  HostWindow Host(640, 480);
  HWND Root = plugin->LoadW(Host.Wnd, Files[0].Path.c_str(), 0);
  ASSERT_NE(Root, nullptr);
  HWND Gl = FindWindowExW(Root, nullptr, L"ZembrolaGLWnd", nullptr);
  HostWindow::Pump();
  int W = 0, H = 0;
  const std::vector<uint8_t> Clip = Copy(Root, W, H);
  HostWindow::Pump();
  int SW = 0, SH = 0;
  const std::vector<uint8_t> Screen = ScreenPixels(Gl, SW, SH);
  RECT Rc{};
  GetClientRect(Gl, &Rc);
  EXPECT_EQ(W, Rc.right);
  EXPECT_EQ(H, Rc.bottom);
  ASSERT_EQ(Clip.size(), Screen.size());
  EXPECT_TRUE(Clip == Screen) << "the copy differs from the screen";
  const std::wstring StatusBefore = Status(Root);
  for (int Cmd : {2, 3, 4})
    EXPECT_EQ(Send(Root, Cmd, 50), 0) << Cmd;
  EXPECT_EQ(Status(Root), StatusBefore);
  EXPECT_TRUE(Copy(Root) == Clip);
  EXPECT_EQ(Send(Root, 0, 0), 1);
  EXPECT_EQ(Send(Root, 99, 0), 1);
  EXPECT_EQ(Send(Host.Wnd, 1, 0), 1);
  plugin->Close(Root);
  EXPECT_EQ(Send(Root, 1, 0), 1);
}

// Keys the viewer does not use reach the host's window from the root and the drawing window,
// as the same message (system keys stay system keys); modifiers alone and characters do not.
// N and P are the host's next and previous file, Escape closes its lister.
TEST_F(FlipGL, KeysTheViewerDoesNotUseReachTheHost) {
  const std::vector<TRecording> Files = FiveRecordings();
  HostWindow Host(640, 480);
  HWND Root = plugin->LoadW(Host.Wnd, Files[0].Path.c_str(), 0);
  ASSERT_NE(Root, nullptr);
  HWND Gl = FindWindowExW(Root, nullptr, L"ZembrolaGLWnd", nullptr);
  for (HWND Target : {Root, Gl}) {
    Host.KeysDown.clear();
    for (WPARAM K :
         {WPARAM{'N'}, WPARAM{'P'}, WPARAM{VK_ESCAPE}, WPARAM{'3'}, WPARAM{VK_F2}, WPARAM{VK_NEXT}})
      EXPECT_EQ(SendMessageW(Target, WM_KEYDOWN, K, 0x00010001), 0);
    SendMessageW(Target, WM_KEYDOWN, VK_SHIFT, 0);
    SendMessageW(Target, WM_CHAR, 'n', 0);
    HostWindow::Pump();
    EXPECT_EQ(Host.KeysDown, (std::vector<WPARAM>{'N', 'P', VK_ESCAPE, '3', VK_F2, VK_NEXT}));
    Host.SysKeysDown.clear();
    EXPECT_EQ(SendMessageW(Target, WM_SYSKEYDOWN, 'X', 0x20010001), 0); // Alt+X
    EXPECT_EQ(SendMessageW(Target, WM_SYSCHAR, 'x', 0x20010001), 0);
    HostWindow::Pump();
    EXPECT_EQ(Host.SysKeysDown, std::vector<WPARAM>{'X'});
  }
  // A button or the slider that kept the focus after a click passes on what it does not use
  // itself: the slider keeps its arrows, a button its Space.
  HWND Slider = GetDlgItem(Root, 1004), Play = GetDlgItem(Root, 1001);
  Host.KeysDown.clear();
  SendMessageW(Slider, WM_KEYDOWN, 'N', 0x00310001);
  SendMessageW(Slider, WM_KEYDOWN, VK_RIGHT, 0x014D0001);
  SendMessageW(Play, WM_KEYDOWN, 'P', 0x00190001);
  SendMessageW(Play, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  HostWindow::Pump();
  EXPECT_EQ(Host.KeysDown, (std::vector<WPARAM>{'N', 'P', VK_ESCAPE}));
  EXPECT_GT(SendMessageW(Slider, TBM_GETPOS, 0, 0), 0) << "the slider's own key moved it";
  plugin->Close(Root);
}

namespace {

std::string ReadAll(const std::wstring &Path) {
  std::ifstream In(std::filesystem::path(Path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), {});
}

} // namespace

// The stand-in file manager flips with --next (a file it cannot show gets 1 and the flips go
// on) and writes the copied frame as a PNG.
TEST_F(FlipGL, ListerhostFlipsAndCopies) {
  const std::vector<TRecording> Files = FiveRecordings();
  const std::wstring Out = Files[0].Path + L".stdout", Png = Files[0].Path + L".copy.png";
  DeleteFileW(Png.c_str());
  std::wstring Cmd = L"\"" + ExeDir() + L"listerhost.exe\" --plugin \"" + PluginPath() + L"\" \"" +
                     Files[0].Path + L"\" --next \"" + Files[1].Path + L"\" --next \"" + Files[1].Path +
                     L".gone\" --next \"" + Files[4].Path + L"\" --after-ms 200 --copy \"" + Png + L"\"";
  SECURITY_ATTRIBUTES Sa{sizeof Sa, nullptr, TRUE};
  HANDLE Log = CreateFileW(Out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &Sa, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(Log, INVALID_HANDLE_VALUE);
  STARTUPINFOW Si{};
  Si.cb = sizeof Si;
  Si.dwFlags = STARTF_USESTDHANDLES;
  Si.hStdOutput = Log;
  Si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION Pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, Cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &Si, &Pi));
  CloseHandle(Log);
  CloseHandle(Pi.hThread);
  ASSERT_EQ(WaitForSingleObject(Pi.hProcess, 120000), WAIT_OBJECT_0);
  DWORD Code = 1;
  GetExitCodeProcess(Pi.hProcess, &Code);
  CloseHandle(Pi.hProcess);
  EXPECT_EQ(Code, 0u);
  std::string Text = ReadAll(Out);
  std::erase(Text, '\r'); // written in text mode
  size_t At = 0;
  for (const char *Line : {".cs8: 0\n", ".cs8.gone: 1\n", ".iq: 0\n", "copy: 0\n"}) {
    const size_t Found = Text.find(Line, At);
    EXPECT_NE(Found, std::string::npos) << Line << " in order in:\n" << Text;
    At = Found == std::string::npos ? At : Found;
  }
  EXPECT_EQ(ReadAll(Png).substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}
