#include "viewer/win32_uViewerForm.h"

#include "viewer/uOverview.h"
#include "viewer/uViewerLayout.h"
#include "viewer/win32_uDialogs.h"
#include "viewer/win32_uLegendDialog.h"
#include "viewer/win32_uSaveDialog.h"

#include "base/uLog.h"
#include "base/win32_uHandles.h"
#include "base/win32_uModule.h"
#include "base/win32_uPath.h"
#include "render/uGLRenderer.h"
#include "render/uWinGL.h"
#include "render/win32_uGdiPresent.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>

bool GClassesRegistered = false;

namespace {

// A frame drawn a little after one whose swap is under watch (see Present).
constexpr UINT_PTR TIMER_PROBE_ID = 3;
constexpr UINT TIMER_PROBE_MS = 150;

TWindowHandle Key(HWND w) {
  return reinterpret_cast<TWindowHandle>(w);
}

HWND Child(HWND parent, const wchar_t *cls, const wchar_t *text, DWORD style, int x, int y, int w, int h,
           WORD id) {
  return CreateWindowExW(0, cls, text, style, x, y, w, h, parent,
                         reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), ThisModule(), nullptr);
}

} // namespace

TViewerForm::TViewerForm(HWND AParent, const std::string &AFileName)
    : FParentWnd(AParent), FFileName(AFileName), FCore(*this) {
  // A failure part-way leaves the members built so far to release themselves, in reverse order.
  EnsureWindowClasses();
  Log("Create: EnsureWindowClasses done");
  CreateWindows();
  LogFmt("Create: CreateWindows done RootWnd=%d GLWnd=%d", FRootWnd.get(), FGLWnd);
  FRegistration = TUnregisterForm(Key(FRootWnd.get()), this);
  FCore.LoadFile(FFileName);
  FCore.CalcWFParams();
  LogFmt("Create: LoadFile done TotalSamples=%d SampleRate=%.0f", FCore.FTotalSamples, FCore.FSampleRate);
  LogFmt("Create: WF NFFT=%d History=%d Decim=%d", FCore.FWF_NFFT, FCore.FWFHistory, FCore.FWFDecimation);
  InitGL();
  LogFmt("Create: InitGL done FGLRC=%d FGLDC=%d", FGL.RC.get(), FGL.DC.get());
  FCore.ShowFirstFrame();
  Log("Create: done");
}

TViewerForm::~TViewerForm() {
  // Playback and timers stop first; then the renderer goes while its context is current, so
  // its texture goes with it. The members release the rest in reverse order.
  FCore.CloseFile();
  FCore.SetRenderer(nullptr);
  if (FRenderer && FGL && GL.wglMakeCurrent && GL.wglMakeCurrent(FGL.DC.get(), FGL.RC.get()))
    FRenderer.reset();
}

void TViewerForm::EnsureWindowClasses() {
  if (GClassesRegistered)
    return;
  Log("EnsureWindowClasses: registering");
  struct ClassDef {
    const wchar_t *Name;
    UINT Style;
    HBRUSH Background;
    WNDPROC Proc;
    const char *LogLine;
  };
  // The root class keeps its background brush for the life of the process, like the class; a
  // failed registration frees it again.
  unique_hbrush RootBrush(CreateSolidBrush(CLR_BG));
  const ClassDef defs[] = {
      {ROOT_WC, CS_HREDRAW | CS_VREDRAW, RootBrush.get(), RootWndProc,
       "EnsureWindowClasses: ROOT_WC atom=%d err=%d"},
      {GL_WC, CS_OWNDC | CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS, nullptr, GLWndProc,
       "EnsureWindowClasses: GL_WC atom=%d err=%d"},
      {DLG_WC, 0, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1)), SettingsDlgWndProc,
       "EnsureWindowClasses: DLG_WC atom=%d err=%d"},
  };
  for (const ClassDef &d : defs) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = d.Style;
    wc.lpfnWndProc = d.Proc;
    wc.hInstance = ThisModule();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = d.Background;
    wc.lpszClassName = d.Name;
    const ATOM atom = RegisterClassExW(&wc);
    LogFmt(d.LogLine, atom, GetLastError());
    if (atom != 0 && d.Background == RootBrush.get())
      (void)RootBrush.release(); // the class owns it now
  }
  // Set even after a failed registration: a retry would fail the same way.
  GClassesRegistered = true;
  Log("EnsureWindowClasses: done");
}

void TViewerForm::CreateWindows() {
  TActCtxActivation actctx;
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);

  RECT r{};
  GetClientRect(FParentWnd, &r);
  // Created at the sizes given for 96 dots per inch; later size and DPI changes re-lay out.
  const TViewerLayout L = ComputeViewerLayout(r.right - r.left, r.bottom - r.top, 1.0);
  const DWORD btn = WS_CHILD | WS_VISIBLE;
  const auto Make = [this](const wchar_t *cls, const wchar_t *text, DWORD style, const TLayoutRect &R,
                           WORD id) {
    return Child(FRootWnd.get(), cls, text, style, R.X, R.Y, R.W, R.H, id);
  };

  FRootWnd.reset(
      CreateWindowExW(0, ROOT_WC, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0,
                      r.right - r.left, r.bottom - r.top, FParentWnd, nullptr, ThisModule(), nullptr));
  if (!FRootWnd)
    throw EWindowCreation("CreateWindows: the viewer window could not be created (error " +
                          std::to_string(GetLastError()) + ")");
  FBtnPlay = Make(L"BUTTON", L"\u25B6 Play", btn, L.Buttons[0], IDC_BTN_PLAY);
  FBtnStep = Make(L"BUTTON", L"\u23ED Schritt", btn, L.Buttons[1], IDC_BTN_STEP);
  FBtnReset = Make(L"BUTTON", L"\u21BA Reset", btn, L.Buttons[2], IDC_BTN_RESET);
  FBtnOverlay = Make(L"BUTTON", L"Overlay: An", btn, L.Buttons[3], IDC_BTN_OVERLAY);
  FBtnSettings = Make(L"BUTTON", L"\u2699 Settings", btn, L.Buttons[4], IDC_BTN_SETTINGS);
  FBtnLegend = Make(L"BUTTON", L"\u2630 Legende", btn, L.Buttons[5], IDC_BTN_LEGEND);
  FGLWnd = Make(GL_WC, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, L.GL, 0);
  if (!FGLWnd)
    throw EWindowCreation("CreateWindows: the drawing window could not be created (error " +
                          std::to_string(GetLastError()) + ")");
  FSliderWnd = Make(TRACKBAR_CLASSW, nullptr, WS_CHILD | WS_VISIBLE | TBS_NOTICKS, L.Slider, IDC_SLIDER);
  SendMessageW(FSliderWnd, TBM_SETRANGE, TRUE, MAKELPARAM(0, 10000));
  SendMessageW(FSliderWnd, TBM_SETPOS, TRUE, 0);
  FStatusWnd = Make(L"STATIC", L"Loading...", WS_CHILD | WS_VISIBLE, L.Status, IDC_STATUS);
  FFreqWnd = Make(L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_RIGHT, L.Freq, 0);
  InitTooltip(FHover, FRootWnd.get(), FGLWnd, FFreqWnd);
  FCore.FDecimalSep = UserDecimalSeparator();
  FDpiScale = GetDpiScaleFor(FRootWnd.get());
}

void TViewerForm::LayoutChildren() {
  RECT r{};
  GetClientRect(FRootWnd.get(), &r);
  const TViewerLayout L = ComputeViewerLayout(r.right - r.left, r.bottom - r.top, FDpiScale);
  FToolbarHeight = L.ToolbarH;
  FSliderHeight = L.Slider.H;
  FStatusHeight = L.Status.H;
  const std::pair<HWND, TLayoutRect> Places[] = {{FBtnPlay, L.Buttons[0]},
                                                 {FBtnStep, L.Buttons[1]},
                                                 {FBtnReset, L.Buttons[2]},
                                                 {FBtnOverlay, L.Buttons[3]},
                                                 {FBtnSettings, L.Buttons[4]},
                                                 {FBtnLegend, L.Buttons[5]},
                                                 {FGLWnd, L.GL},
                                                 {FSliderWnd, L.Slider},
                                                 {FStatusWnd, L.Status},
                                                 {FFreqWnd, L.Freq}};
  for (const auto &[Wnd, R] : Places)
    SetWindowPos(Wnd, nullptr, R.X, R.Y, R.W, R.H, SWP_NOZORDER | SWP_NOACTIVATE);
  // The toolbar strip is painted by the root window itself.
  InvalidateRect(FRootWnd.get(), nullptr, FALSE);
  HandleResize();
}

void TViewerForm::InitGL() {
  Log("InitGL: start");
  if (!LoadOpenGL()) {
    Log("InitGL: LoadOpenGL FAILED");
    UpdateStatusText("Error: opengl32.dll not found");
    return;
  }
  Log("InitGL: LoadOpenGL OK");
  HWND Target = FGLWnd;
  if (GdiPresentNeeded()) {
    // Frames of a GL child window never reach the screen here: draw into a hidden window of the
    // same size instead and copy each frame onto the drawing window with GDI.
    RECT rc{};
    GetClientRect(FGLWnd, &rc);
    FRenderWnd.reset(CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, GL_WC, nullptr, WS_POPUP, 0, 0,
                                     std::max<LONG>(rc.right, 1), std::max<LONG>(rc.bottom, 1), nullptr,
                                     nullptr, ThisModule(), nullptr));
    if (FRenderWnd)
      Target = FRenderWnd.get();
  }
  FGL = CreateMSAAContext(Target, 8);
  LogFmt("InitGL: FGLRC=%d FGLDC=$%x err=%d", FGL.RC.get(), FGL.DC.get(), GetLastError());
  if (!FGL) {
    Log("InitGL: context creation FAILED");
    UpdateStatusText("Error: OpenGL context creation failed");
    return;
  }
  GL.wglMakeCurrent(FGL.DC.get(), FGL.RC.get());
  Log("InitGL: wglMakeCurrent done");
  if (GL.glEnable) {
    GL.glEnable(GL_BLEND);
    GL.glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    GL.glEnable(GL_LINE_SMOOTH);
  }
  FRenderer = std::make_unique<TGLRenderer>();
  FCore.SetRenderer(FRenderer.get());
  Log("InitGL: TGLRenderer created");
}

bool TViewerForm::MakeCurrent() {
  if (!FGL || !GL.wglMakeCurrent)
    return false;
  if (FRenderWnd) {
    // The hidden window follows the drawing window's size: it is what OpenGL draws into.
    RECT rc{}, hidden{};
    GetClientRect(FGLWnd, &rc);
    GetClientRect(FRenderWnd.get(), &hidden);
    const LONG W = std::max<LONG>(rc.right, 1), H = std::max<LONG>(rc.bottom, 1);
    if (hidden.right != W || hidden.bottom != H) {
      SetWindowPos(FRenderWnd.get(), nullptr, 0, 0, W, H, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      // The resize gives the window a new drawable; binding the context again makes it draw
      // there (making the same context current again would change nothing).
      GL.wglMakeCurrent(nullptr, nullptr);
    }
  }
  return GL.wglMakeCurrent(FGL.DC.get(), FGL.RC.get()) != FALSE;
}

void TViewerForm::DrawableSize(int32_t &W, int32_t &H) {
  RECT rc{};
  GetClientRect(FGLWnd, &rc);
  W = rc.right - rc.left;
  H = rc.bottom - rc.top;
}

bool TViewerForm::SaveFileAs(const std::string &Suggested, const std::vector<uint8_t> &Bytes,
                             std::string &Saved, std::string &Why) {
  FCore.StopPlay(); // the dialog runs its own message loop, as the settings dialog does
  const size_t Slash = FFileName.find_last_of("/\\");
  return SaveBytesWithDialog(FRootWnd.get(), Slash == std::string::npos ? "" : FFileName.substr(0, Slash),
                             Suggested, Bytes, Saved, Why);
}

void TViewerForm::Present() {
  RECT rc{};
  GetClientRect(FGLWnd, &rc);
  if (!FRenderWnd && !FSwapLost && FSwapProbe.Active() &&
      FSwapProbe.BeforeSwap(FGLWnd, rc.right - rc.left, rc.bottom - rc.top) == TSwapVerdict::Lost) {
    Log("Present: buffer swaps do not reach the screen, presenting through GDI");
    FSwapLost = true;
  }
  // A viewer that shows a still frame draws no further ones by itself: one more frame a little
  // later lets the probe see where the swap went.
  if (!FRenderWnd && !FSwapLost && FSwapProbe.Active())
    SetTimer(FRootWnd.get(), TIMER_PROBE_ID, TIMER_PROBE_MS, nullptr);
  if (FRenderWnd || FSwapLost) {
    const unique_hdc_window DC(FGLWnd);
    FPresenter.Present(DC.get(), rc.right - rc.left, rc.bottom - rc.top);
  } else {
    SwapBuffers(FGL.DC.get());
  }
}

void TViewerForm::HandleResize() {
  // A frame starts by fitting the renderer to the drawing window's client size.
  RenderFrame();
}

void TViewerForm::SetRootText(const std::string &S) {
  SetWindowTextW(FRootWnd.get(), TextToWide(S).c_str());
}

void TViewerForm::SetPlayButtonText(const std::string &S) {
  SetWindowTextW(FBtnPlay, TextToWide(S).c_str());
}

void TViewerForm::SetSliderRange(int32_t Min, int32_t Max) {
  SendMessageW(FSliderWnd, TBM_SETRANGE, TRUE, MAKELPARAM(Min, Max));
}

void TViewerForm::SetSliderPos(int32_t Pos) {
  SendMessageW(FSliderWnd, TBM_SETPOS, TRUE, Pos);
}

int32_t TViewerForm::GetSliderPos() {
  return static_cast<int32_t>(SendMessageW(FSliderWnd, TBM_GETPOS, 0, 0));
}

uintptr_t TViewerForm::StartTimer(int32_t Id, int32_t Ms) {
  return SetTimer(FRootWnd.get(), static_cast<UINT_PTR>(Id), static_cast<UINT>(Ms), nullptr);
}

void TViewerForm::KillTimer(int32_t Id) {
  ::KillTimer(FRootWnd.get(), static_cast<UINT_PTR>(Id));
}

double TViewerForm::PerfSeconds() {
  LARGE_INTEGER F{}, C{};
  QueryPerformanceFrequency(&F);
  QueryPerformanceCounter(&C);
  return F.QuadPart > 0 ? static_cast<double>(C.QuadPart) / static_cast<double>(F.QuadPart) : 0.0;
}

void TViewerForm::HandlePaint() {
  RenderFrame();
  ValidateRect(FRootWnd.get(), nullptr);
}

void TViewerForm::UpdateStatusText(const std::string &S) {
  SetWindowTextW(FStatusWnd, TextToWide(S).c_str());
}

void TViewerForm::HandleCommand(WORD ID) {
  LogFmt("HandleCommand: ID=%d", ID);
  switch (ID) {
  case IDC_BTN_PLAY:
    FCore.TogglePlay();
    break;
  case IDC_BTN_RESET:
    FCore.ResetPlay();
    break;
  case IDC_BTN_SETTINGS:
    Log("HandleCommand: opening settings dialog");
    FCore.StopPlay();
    ShowSettings();
    break;
  case IDC_BTN_OVERLAY:
    FCore.ToggleOverlay();
    SetWindowTextW(FBtnOverlay, FCore.FOverlayVisible ? L"Overlay: An" : L"Overlay: Aus");
    RefreshSignalHover(FHover, FCore);
    break;
  case IDC_BTN_STEP:
    FCore.StepOnce();
    break;
  case IDC_BTN_LEGEND:
    FCore.StopPlay();
    ShowLegendDialog(FRootWnd.get(), FCore);
    break;
  default:
    break;
  }
}

void TViewerForm::ShowSettings() {
  TSettingsTexts Texts = FormatSettingsTexts(FCore.GetSettings());
  if (!ShowSettingsDialog(FRootWnd.get(), Texts))
    return;
  TViewerSettings S = FCore.GetSettings();
  ApplySettingsTexts(S, Texts); // a refused field keeps its value, as in every dialog of the viewer
  FCore.ApplySettings(S);
  RefreshSignalHover(FHover, FCore);
}

double GetDpiScaleFor(HWND Wnd) {
  int dpi = 0;
  {
    unique_hdc_window dc(Wnd);
    if (dc.get())
      dpi = GetDeviceCaps(dc.get(), LOGPIXELSX);
  }
  if (dpi <= 0)
    dpi = 96;
  return dpi / 96.0;
}

namespace {

LRESULT RootWndProcImpl(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  TViewerForm *Form = FindForm(Key(Wnd));
  switch (Msg) {
  case WM_DESTROY:
    if (Form)
      UnregisterForm(Key(Wnd));
    break;
  case WM_SIZE:
    if (Form)
      Form->LayoutChildren();
    break;
  case WM_DPICHANGED:
  case WM_DPICHANGED_AFTERPARENT:
    if (Form) {
      // A top-level window learns the new DPI from the message; a child asks its DC.
      Form->FDpiScale =
          Msg == WM_DPICHANGED && LOWORD(WParam) > 0 ? LOWORD(WParam) / 96.0 : GetDpiScaleFor(Wnd);
      Form->LayoutChildren();
    }
    break;
  case WM_PAINT:
    if (!Form)
      break;
    {
      unique_hdc_paint dc(Wnd);
      unique_hbrush brush(CreateSolidBrush(CLR_TOOLBAR));
      RECT strip{0, 0, 4000, Form->FToolbarHeight};
      if (dc.get() && brush) // out of GDI objects: skip the strip, still draw the frame
        FillRect(dc.get(), &strip, brush.get());
    }
    Form->HandlePaint();
    return 0;
  case WM_ERASEBKGND:
    return 1;
  case WM_KEYDOWN:
    if (WParam == VK_ESCAPE) {
      // The host closes the lister on Escape; it only sees keys sent to its own window.
      PostMessageA(GetParent(Wnd), WM_KEYDOWN, WParam, LParam);
      return 0;
    }
    break;
  case WM_COMMAND:
    if (Form)
      Form->HandleCommand(LOWORD(WParam));
    break;
  case WM_TIMER:
    if (Form) {
      if (WParam == TIMER_PLAY_ID)
        Form->HandleTimer();
      else if (WParam == TIMER_SEEK_ID)
        Form->HandleSeekTimer();
      else if (WParam == TIMER_PROBE_ID) {
        KillTimer(Wnd, TIMER_PROBE_ID);
        Form->RenderFrame();
      } else if (WParam == TIMER_OVERVIEW_ID)
        Form->Core().HandleTimerId(TIMER_OVERVIEW_ID);
    }
    break;
  case WM_HSCROLL:
    if (Form && reinterpret_cast<HWND>(LParam) == Form->FSliderWnd)
      Form->HandleSliderChange(LOWORD(WParam));
    break;
  default:
    break;
  }
  return DefWindowProcW(Wnd, Msg, WParam, LParam);
}

// Modifier bits of the viewer's key table for the keys held now.
uint8_t KeyMods() {
  return static_cast<uint8_t>((GetKeyState(VK_SHIFT) < 0 ? KMOD_SHIFT : 0) |
                              (GetKeyState(VK_CONTROL) < 0 ? KMOD_CTRL : 0) |
                              (GetKeyState(VK_MENU) < 0 ? KMOD_ALT : 0));
}

LRESULT GLWndProcImpl(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  switch (Msg) {
  case WM_ERASEBKGND:
    return 1;
  case WM_PAINT:
    // An uncovered drawing window must be drawn again: its pixels are not kept anywhere, and
    // the root window does not repaint for it (it clips its children).
    if (TViewerForm *Form = FindForm(Key(GetParent(Wnd)))) {
      { unique_hdc_paint dc(Wnd); }
      Form->RenderFrame();
      return 0;
    }
    break;
  case WM_KEYDOWN:
    if (WParam == VK_ESCAPE) {
      PostMessageA(GetParent(GetParent(Wnd)), WM_KEYDOWN, WParam, LParam);
      return 0;
    }
    if (TViewerForm *Form = FindForm(Key(GetParent(Wnd))))
      if (Form->Core().HandleViewerKey(static_cast<uint32_t>(WParam), KeyMods()))
        return 0;
    break;
  case WM_MOUSEMOVE:
    if (TViewerForm *Form = FindForm(Key(GetParent(Wnd)))) {
      Form->HandleGLMouseMove(static_cast<int16_t>(LOWORD(LParam)), static_cast<int16_t>(HIWORD(LParam)));
      if (WParam & MK_LBUTTON)
        Form->Core().ButtonDrag(static_cast<int16_t>(LOWORD(LParam)), static_cast<int16_t>(HIWORD(LParam)));
    }
    return 0;
  // The view tools: wheel zoom, click markers, drag pan, double-click whole band.
  case WM_MOUSEWHEEL:
    if (TViewerForm *Form = FindForm(Key(GetParent(Wnd)))) {
      POINT Pt{static_cast<int16_t>(LOWORD(LParam)), static_cast<int16_t>(HIWORD(LParam))};
      ScreenToClient(Wnd, &Pt);
      if (Form->Core().WheelAt(Pt.x, Pt.y, GET_WHEEL_DELTA_WPARAM(WParam) / WHEEL_DELTA))
        return 0;
    }
    break;
  case WM_LBUTTONDOWN:
    if (TViewerForm *Form = FindForm(Key(GetParent(Wnd)))) {
      SetCapture(Wnd);
      Form->Core().ButtonDown(
          static_cast<int16_t>(LOWORD(LParam)), static_cast<int16_t>(HIWORD(LParam)),
          static_cast<uint8_t>((WParam & MK_SHIFT ? KMOD_SHIFT : 0) | (WParam & MK_CONTROL ? KMOD_CTRL : 0)));
    }
    return 0;
  case WM_LBUTTONUP:
    if (GetCapture() == Wnd)
      ReleaseCapture();
    if (TViewerForm *Form = FindForm(Key(GetParent(Wnd))))
      Form->Core().ButtonUp(static_cast<int16_t>(LOWORD(LParam)), static_cast<int16_t>(HIWORD(LParam)));
    return 0;
  case WM_LBUTTONDBLCLK:
    if (TViewerForm *Form = FindForm(Key(GetParent(Wnd))))
      Form->Core().DoubleClickAt(static_cast<int16_t>(LOWORD(LParam)), static_cast<int16_t>(HIWORD(LParam)));
    return 0;
  case WM_MOUSELEAVE:
    if (TViewerForm *Form = FindForm(Key(GetParent(Wnd))))
      Form->HandleGLMouseLeave();
    return 0;
  default:
    break;
  }
  return DefWindowProcW(Wnd, Msg, WParam, LParam);
}

} // namespace

namespace {
// Nothing may unwind into the host's message loop.
template <LRESULT (*Impl)(HWND, UINT, WPARAM, LPARAM)>
LRESULT Guarded(const char *Name, HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) noexcept {
  try {
    return Impl(Wnd, Msg, WParam, LParam);
  } catch (const std::exception &e) {
    LogFmt("%s EXCEPTION: %s", Name, e.what());
  } catch (...) {
    LogFmt("%s EXCEPTION", Name);
  }
  return 0;
}
} // namespace

LRESULT CALLBACK RootWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  return Guarded<RootWndProcImpl>("RootWndProc", Wnd, Msg, WParam, LParam);
}

LRESULT CALLBACK GLWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  return Guarded<GLWndProcImpl>("GLWndProc", Wnd, Msg, WParam, LParam);
}
