// End-to-end: the plug-in DLL driven as the file manager drives it.
#include "support/win32_Resources.h"
#include "support/win32_TestHost.h"

#include <GL/gl.h>
#include <commctrl.h>

#include <cstring>
#include <memory>

using namespace testhost;

namespace {

constexpr const char *kDetect =
    "EXT=\"IQ\" | EXT=\"RAW\" | EXT=\"CF32\" | EXT=\"CS8\" | EXT=\"CS16\" | EXT=\"SDRIQ\"";

class PluginTest : public PluginSuite {
protected:
  void SetUp() override { ASSERT_NE(plugin->Module, nullptr) << "cannot load the plug-in beside the test"; }

  static std::wstring Recording() {
    std::vector<char> bytes(4096);
    for (size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<char>((i * 37) & 0xFF);
    return TempFile(L"zb_e2e.cs16", bytes);
  }

  // A viewer of a fresh recording inside `host`.
  static HWND Open(HostWindow &host) {
    const std::wstring file = Recording();
    HWND root = plugin->LoadW(host.Wnd, file.c_str(), 0);
    HostWindow::Pump();
    return root;
  }
};

// Tests that open viewers, and so OpenGL contexts; suites named *GL run in small batches.
class ViewerGL : public PluginTest {};

} // namespace

TEST_F(PluginTest, ExportsCarryTheirOrdinals) {
  const char *names[] = {"ListSetDefaultParams",
                         "ListGetPreviewBitmap",
                         "ListGetPreviewBitmapW",
                         "ListCloseWindow",
                         "ListLoad",
                         "ListLoadW",
                         "ListGetDetectString",
                         "ListLoadNext",
                         "ListLoadNextW",
                         "ListSendCommand"};
  for (int ord = 1; ord <= 10; ++ord) {
    FARPROC byName = GetProcAddress(plugin->Module, names[ord - 1]);
    FARPROC byOrdinal = GetProcAddress(plugin->Module, MAKEINTRESOURCEA(ord));
    EXPECT_NE(byName, nullptr) << names[ord - 1];
    EXPECT_EQ(byName, byOrdinal) << names[ord - 1];
  }
  EXPECT_EQ(GetProcAddress(plugin->Module, MAKEINTRESOURCEA(11)), nullptr);
}

TEST_F(PluginTest, DetectStringIsCutToTheBuffer) {
  char buf[128];
  std::memset(buf, 'x', sizeof(buf));
  EXPECT_EQ(plugin->Detect(buf, sizeof(buf)), 0);
  EXPECT_STREQ(buf, kDetect);
  EXPECT_EQ(std::strlen(buf), 72u);

  std::memset(buf, 'x', sizeof(buf));
  plugin->Detect(buf, 10);
  EXPECT_EQ(std::string(buf), std::string(kDetect, 9));
  EXPECT_EQ(buf[10], 'x') << "wrote past MaxLen";

  std::memset(buf, 'x', sizeof(buf));
  plugin->Detect(buf, 73);
  EXPECT_STREQ(buf, kDetect);

  buf[0] = 'x';
  plugin->Detect(buf, 0); // nothing may be written for an empty buffer
  EXPECT_EQ(buf[0], 'x');
  plugin->SetDefaults(nullptr); // accepted and ignored
}

TEST_F(PluginTest, LoadRefusesMissingEmptyNilAndOverlongNames) {
  HostWindow host(640, 480);
  EXPECT_EQ(plugin->LoadW(host.Wnd, L"C:\\no\\such\\file.cs16", 0), nullptr);
  EXPECT_EQ(plugin->LoadW(host.Wnd, L"", 0), nullptr);
  EXPECT_EQ(plugin->LoadW(host.Wnd, nullptr, 0), nullptr);
  EXPECT_EQ(plugin->Load(host.Wnd, "", 0), nullptr);
  EXPECT_EQ(plugin->Load(host.Wnd, nullptr, 0), nullptr);
  std::wstring longName = L"C:\\" + std::wstring(300, L'a') + L".cs16";
  EXPECT_EQ(plugin->LoadW(host.Wnd, longName.c_str(), 0), nullptr);
  // A folder is not a recording.
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  EXPECT_EQ(plugin->LoadW(host.Wnd, dir, 0), nullptr);
  EXPECT_EQ(GetWindow(host.Wnd, GW_CHILD), nullptr) << "a refused load left a window behind";
}

TEST_F(ViewerGL, WindowTreeMatchesTheLayoutFor640x480) {
  HostWindow host(640, 480);
  HWND root = Open(host);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(GetParent(root), host.Wnd);
  EXPECT_NE(GetPropW(root, L"ZembrolaForm"), nullptr);
  EXPECT_EQ(ClassName(root), L"ZembrolaRoot");
  RECT rr = RectInParent(root);
  EXPECT_EQ(rr.right - rr.left, 640);
  EXPECT_EQ(rr.bottom - rr.top, 480);

  struct Expect {
    const wchar_t *Class;
    const wchar_t *Text;
    int Id, X, Y, W, H;
  };
  const Expect table[] = {
      {L"Button", L"\u25B6 Play", 1001, 4, 4, 80, 24},
      {L"Button", L"\u23ED Schritt", 1007, 88, 4, 80, 24},
      {L"Button", L"\u21BA Reset", 1002, 172, 4, 80, 24},
      {L"Button", L"Overlay: An", 1006, 256, 4, 110, 24},
      {L"Button", L"\u2699 Settings", 1003, 370, 4, 90, 24},
      {L"Button", L"\u2630 Legende", 1008, 464, 4, 90, 24},
      {L"ZembrolaGLWnd", L"", 0, 0, 32, 640, 400},
      {L"msctls_trackbar32", L"", 1004, 0, 432, 640, 26},
      {L"Static", nullptr, 1005, 4, 458, 482, 22},
      {L"Static", L"", 0, 486, 458, 150, 22},
  };
  HWND child = GetWindow(root, GW_CHILD);
  std::vector<HWND> children;
  for (; child; child = GetWindow(child, GW_HWNDNEXT))
    children.push_back(child);
  // Z order is creation order for siblings created without an insert-after.
  ASSERT_GE(children.size(), std::size(table));
  for (size_t i = 0; i < std::size(table); ++i) {
    const Expect &e = table[i];
    HWND w = children[i];
    SCOPED_TRACE(testing::Message() << "child " << i);
    EXPECT_EQ(_wcsicmp(ClassName(w).c_str(), e.Class), 0);
    if (e.Text) {
      EXPECT_EQ(WindowText(w), e.Text);
    }
    EXPECT_EQ(GetDlgCtrlID(w), e.Id);
    RECT r = RectInParent(w);
    EXPECT_EQ(r.left, e.X);
    EXPECT_EQ(r.top, e.Y);
    EXPECT_EQ(r.right - r.left, e.W);
    EXPECT_EQ(r.bottom - r.top, e.H);
    EXPECT_TRUE(IsWindowVisible(w));
  }
  HWND slider = GetDlgItem(root, 1004);
  EXPECT_EQ(SendMessageW(slider, TBM_GETRANGEMIN, 0, 0), 0);
  EXPECT_EQ(SendMessageW(slider, TBM_GETRANGEMAX, 0, 0), 10000);
  EXPECT_EQ(SendMessageW(slider, TBM_GETPOS, 0, 0), 0);
  EXPECT_TRUE(GetWindowLongW(slider, GWL_STYLE) & TBS_NOTICKS);
  EXPECT_TRUE(GetWindowLongW(children[9], GWL_STYLE) & SS_RIGHT);
  plugin->Close(root);
}

TEST_F(ViewerGL, ControlsAreCommonControlsVersion6) {
  HostWindow host(640, 480);
  HWND root = Open(host);
  ASSERT_NE(root, nullptr);
  // A control's window procedure lives in the comctl32 that made it; ask that module its version.
  auto module_of = [](HWND w) {
    HMODULE m = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(GetWindowLongPtrW(w, GWLP_WNDPROC)), &m);
    return m;
  };
  HMODULE slider_module = module_of(GetDlgItem(root, 1004));
  ASSERT_NE(slider_module, nullptr);
  // Version 6 is the side-by-side assembly; the version-5 library sits in the system folder.
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(slider_module, path, MAX_PATH);
  std::wstring lower(path);
  for (auto &c : lower)
    c = towlower(c);
  EXPECT_NE(lower.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6."), std::wstring::npos) << path;
  // Version 6 brings its own buttons; without it they would come from user32.
  EXPECT_EQ(module_of(GetDlgItem(root, 1001)), slider_module);
  plugin->Close(root);
}

TEST_F(ViewerGL, EscapeReachesTheHostFromRootAndDrawingWindow) {
  HostWindow host(640, 480);
  HWND root = Open(host);
  ASSERT_NE(root, nullptr);
  HWND gl = FindWindowExW(root, nullptr, L"ZembrolaGLWnd", nullptr);
  ASSERT_NE(gl, nullptr);
  EXPECT_EQ(SendMessageW(root, WM_KEYDOWN, VK_ESCAPE, 0x00010001), 0);
  HostWindow::Pump();
  ASSERT_EQ(host.KeysDown.size(), 1u);
  EXPECT_EQ(host.KeysDown[0], static_cast<WPARAM>(VK_ESCAPE));
  EXPECT_EQ(SendMessageW(gl, WM_KEYDOWN, VK_ESCAPE, 0x00010001), 0);
  HostWindow::Pump();
  ASSERT_EQ(host.KeysDown.size(), 2u);
  // So do the host's other keys (the viewer claims none of them).
  SendMessageW(root, WM_KEYDOWN, 'A', 0);
  SendMessageW(gl, WM_KEYDOWN, 'A', 0);
  HostWindow::Pump();
  EXPECT_EQ(host.KeysDown.size(), 4u);
  plugin->Close(root);
}

TEST_F(ViewerGL, OverlayButtonTogglesItsText) {
  HostWindow host(640, 480);
  HWND root = Open(host);
  ASSERT_NE(root, nullptr);
  HWND btn = GetDlgItem(root, 1006);
  SendMessageW(btn, BM_CLICK, 0, 0);
  EXPECT_EQ(WindowText(btn), L"Overlay: Aus");
  SendMessageW(btn, BM_CLICK, 0, 0);
  EXPECT_EQ(WindowText(btn), L"Overlay: An");
  plugin->Close(root);
}

// A parent that is gone: the viewer's windows cannot be created, so there is no viewer, and
// nothing (no window, no GDI object, no screen DC handed to OpenGL) is left behind.
TEST_F(ViewerGL, NoViewerWhenItsWindowsCannotBeCreated) {
  HWND Gone = nullptr;
  {
    HostWindow host(200, 100);
    Gone = host.Wnd;
  }
  ASSERT_FALSE(IsWindow(Gone));
  const std::wstring file = Recording();
  ASSERT_EQ(plugin->LoadW(Gone, file.c_str(), 0), nullptr); // warm-up: classes and OpenGL loaded
  const TResources Before = TResources::Now();
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(plugin->LoadW(Gone, file.c_str(), 0), nullptr);
  HostWindow::Pump();
  const TResources After = TResources::Now();
  EXPECT_EQ(After.Gdi, Before.Gdi);
  EXPECT_EQ(After.User, Before.User);
  // The plug-in still works for a parent that exists.
  HostWindow host(640, 480);
  HWND root = Open(host);
  ASSERT_NE(root, nullptr);
  plugin->Close(root);
}

TEST_F(ViewerGL, CloseDestroysTheTreeOnce) {
  HostWindow host(640, 480);
  HWND root = Open(host);
  ASSERT_NE(root, nullptr);
  HWND gl = FindWindowExW(root, nullptr, L"ZembrolaGLWnd", nullptr);
  plugin->Close(root);
  EXPECT_FALSE(IsWindow(root));
  EXPECT_FALSE(IsWindow(gl));
  plugin->Close(root);     // the second call finds nothing to do
  plugin->Close(host.Wnd); // a window without a viewer
  EXPECT_TRUE(IsWindow(host.Wnd));
}

TEST_F(ViewerGL, AnsiAndWideLoadAgree) {
  HostWindow host(640, 480);
  const std::wstring file = Recording();
  char ansi[MAX_PATH];
  WideCharToMultiByte(CP_ACP, 0, file.c_str(), -1, ansi, MAX_PATH, nullptr, nullptr);
  HWND a = plugin->Load(host.Wnd, ansi, 0);
  HWND w = plugin->LoadW(host.Wnd, file.c_str(), 0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(ClassName(a), ClassName(w));
  plugin->Close(a);
  plugin->Close(w);
}

TEST_F(ViewerGL, ThirtyFourViewersAtOnceAllWork) {
#ifndef _WIN64
  // 32-bit Wine under qemu's user-mode emulation (kernels without i386 support) draws with
  // Mesa's plain rasteriser, and there the fifth simultaneous GL context dies with an X error
  // inside the driver stack (64-bit passes with either rasteriser). Skip rather than abort
  // the whole executable.
  char Driver[64] = {};
  if (GetEnvironmentVariableA("GALLIUM_DRIVER", Driver, sizeof(Driver)) &&
      std::strcmp(Driver, "softpipe") == 0)
    GTEST_SKIP() << "32-bit software GL under emulation holds at most four contexts";
#endif
  HostWindow host(640, 480);
  const std::wstring file = Recording();
  std::vector<HWND> roots;
  for (int i = 0; i < 33; ++i) {
    HWND r = plugin->LoadW(host.Wnd, file.c_str(), 0);
    ASSERT_NE(r, nullptr) << i;
    roots.push_back(r);
  }
  // The registry holds 32; the ones past it find their viewer through the window property all
  // the same: commands, painting and keys work in every viewer.
  for (int i : {0, 31, 32}) {
    HWND btn = GetDlgItem(roots[i], 1006);
    SendMessageW(btn, BM_CLICK, 0, 0);
    EXPECT_EQ(WindowText(btn), L"Overlay: Aus") << i;
  }
  HWND extra = plugin->LoadW(host.Wnd, file.c_str(), 0);
  ASSERT_NE(extra, nullptr);
  SendMessageW(GetDlgItem(extra, 1006), BM_CLICK, 0, 0);
  EXPECT_EQ(WindowText(GetDlgItem(extra, 1006)), L"Overlay: Aus") << "34th";
  SendMessageW(GetDlgItem(extra, 1001), BM_CLICK, 0, 0);
  EXPECT_EQ(WindowText(GetDlgItem(extra, 1001)), L"|| Stop") << "34th plays";
  SendMessageW(GetDlgItem(extra, 1001), BM_CLICK, 0, 0);
  roots.push_back(extra);
  for (HWND r : roots) {
    plugin->Close(r);
    EXPECT_FALSE(IsWindow(r));
  }
  // All slots are free again.
  HWND again = plugin->LoadW(host.Wnd, file.c_str(), 0);
  ASSERT_NE(again, nullptr);
  HWND btn = GetDlgItem(again, 1006);
  SendMessageW(btn, BM_CLICK, 0, 0);
  EXPECT_EQ(WindowText(btn), L"Overlay: Aus");
  plugin->Close(again);
}

namespace {

// The screen pixel of a window at client (x, y), as a person sees it.
struct TRGBPixel {
  int R, G, B;
};
TRGBPixel ScreenPixel(HWND w, int x, int y) {
  int width = 0, height = 0;
  const std::vector<uint8_t> px = ScreenPixels(w, width, height);
  if (x < 0 || y < 0 || x >= width || y >= height)
    return {-1, -1, -1};
  const uint8_t *p = &px[(static_cast<size_t>(y) * width + x) * 3];
  return {p[0], p[1], p[2]};
}

// The frame's background where nothing is drawn, then something darker inside the PSD plot.
void ExpectFrameOnScreen(HWND gl, int plotX, int plotY) {
  const TRGBPixel corner = ScreenPixel(gl, 2, 2), plot = ScreenPixel(gl, plotX, plotY);
  EXPECT_NEAR(corner.R, 30, 1);
  EXPECT_NEAR(corner.G, 30, 1);
  EXPECT_NEAR(corner.B, 46, 1);
  EXPECT_LT(plot.R + plot.G + plot.B, corner.R + corner.G + corner.B);
}

} // namespace

TEST_F(ViewerGL, DrawingWindowShowsAFrame) {
  HostWindow host(640, 480);
  HWND root = Open(host);
  ASSERT_NE(root, nullptr);
  HWND gl = FindWindowExW(root, nullptr, L"ZembrolaGLWnd", nullptr);
  HostWindow::Pump();
  // Read from the screen: the frame must have been presented, not only rendered.
  ExpectFrameOnScreen(gl, 320, 200);
  // The viewer leaves its context current on the UI thread after a frame.
  EXPECT_NE(wglGetCurrentContext(), nullptr);
  plugin->Close(root);
  EXPECT_EQ(wglGetCurrentContext(), nullptr) << "closing left a context current";
}

TEST_F(ViewerGL, ResizedAndUncoveredDrawingWindowIsDrawnAgain) {
  HostWindow host(1000, 800);
  HWND root = Open(host);
  ASSERT_NE(root, nullptr);
  HWND gl = FindWindowExW(root, nullptr, L"ZembrolaGLWnd", nullptr);
  MoveWindow(root, 0, 0, 640, 480, TRUE);
  HostWindow::Pump();
  MoveWindow(root, 0, 0, 900, 700, TRUE);
  HostWindow::Pump();
  // Inside the PSD plot of the larger frame, beyond where the first frame reached.
  ExpectFrameOnScreen(gl, 800, 250);
  // A window over the viewer, then gone again: the uncovered part is drawn anew.
  HWND cover = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 2000, 1500,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  HostWindow::Pump();
  DestroyWindow(cover);
  HostWindow::Pump();
  ExpectFrameOnScreen(gl, 800, 250);
  plugin->Close(root);
}

namespace {

struct TChildRects {
  RECT GL, Slider, Status, Freq, Play;
};

TChildRects ChildRects(HWND root) {
  return {RectInParent(FindWindowExW(root, nullptr, L"ZembrolaGLWnd", nullptr)),
          RectInParent(GetDlgItem(root, 1004)), RectInParent(GetDlgItem(root, 1005)),
          RectInParent(GetWindow(GetDlgItem(root, 1005), GW_HWNDNEXT)), RectInParent(GetDlgItem(root, 1001))};
}

void ExpectRect(const RECT &r, int x, int y, int w, int h, const char *what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(r.left, x);
  EXPECT_EQ(r.top, y);
  EXPECT_EQ(r.right - r.left, w);
  EXPECT_EQ(r.bottom - r.top, h);
}

} // namespace

TEST_F(ViewerGL, ChildrenFollowTheHostsSize) {
  HostWindow host(640, 480);
  HWND root = Open(host);
  ASSERT_NE(root, nullptr);
  struct Step {
    int W, H;
  };
  for (const Step s : {Step{1280, 900}, Step{300, 200}, Step{640, 480}}) {
    SCOPED_TRACE(testing::Message() << s.W << "x" << s.H);
    // What the host does when its lister window changes size.
    MoveWindow(root, 0, 0, s.W, s.H, TRUE);
    HostWindow::Pump();
    const TChildRects c = ChildRects(root);
    ExpectRect(c.GL, 0, 32, s.W, s.H - 80, "drawing window");
    ExpectRect(c.Slider, 0, s.H - 48, s.W, 26, "slider");
    ExpectRect(c.Status, 4, s.H - 22, s.W - 158, 22, "status");
    ExpectRect(c.Freq, s.W - 154, s.H - 22, 150, 22, "frequency readout");
    ExpectRect(c.Play, 4, 4, 80, 24, "play button");
    // The frame drawn after the resize covers the new client area.
    GLint viewport[4] = {};
    ASSERT_NE(wglGetCurrentContext(), nullptr);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], s.W);
    EXPECT_EQ(viewport[3], s.H - 80);
  }
  // Too low for the strips: the drawing window keeps a height of 0 instead of a negative one.
  MoveWindow(root, 0, 0, 200, 60, TRUE);
  HostWindow::Pump();
  EXPECT_EQ(ChildRects(root).GL.bottom - ChildRects(root).GL.top, 0);
  plugin->Close(root);
}

TEST_F(ViewerGL, DpiChangeRelaysOutAtTheNewScale) {
  HostWindow host(1000, 700);
  HWND root = Open(host);
  ASSERT_NE(root, nullptr);
  RECT suggested{0, 0, 1000, 700};
  SendMessageW(root, WM_DPICHANGED, MAKEWPARAM(120, 120), reinterpret_cast<LPARAM>(&suggested));
  HostWindow::Pump();
  const TChildRects c = ChildRects(root);
  ExpectRect(c.GL, 0, 40, 1000, 600, "drawing window");
  ExpectRect(c.Slider, 0, 640, 1000, 32, "slider");
  ExpectRect(c.Status, 5, 672, 802, 28, "status");
  ExpectRect(c.Freq, 807, 672, 188, 28, "frequency readout");
  ExpectRect(c.Play, 5, 5, 100, 30, "play button");
  SendMessageW(root, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&suggested));
  HostWindow::Pump();
  ExpectRect(ChildRects(root).GL, 0, 32, 1000, 620, "drawing window back at 96 dpi");
  plugin->Close(root);
}
