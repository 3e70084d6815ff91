// End-to-end through the plug-in DLL: the wheel over the drawing window narrows the band around
// the pointer (the readout shows it), a drag pans it, a key and a double-click restore it, and
// the host's keys are not taken.
#include "support/win32_TestHost.h"

#include <cmath>
#include <string>
#include <vector>

using namespace testhost;

namespace {

constexpr int IDC_STATUS = 1005;

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
