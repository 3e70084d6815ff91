#include "viewer/win32_uViewerForm.h"

#include "viewer/uOverview.h"
#include "viewer/uViewerController.h"
#include "viewer/uViewerKeys.h"
#include "viewer/uViewerLayout.h"
#include "viewer/win32_uDialogs.h"
#include "viewer/win32_uInfoDialog.h"
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

using unique_hglobal = TUniqueHandle<HGLOBAL, GlobalFree>;

// Subclass identifiers of the controls whose keys the viewer passes on.
constexpr UINT_PTR SUBCLASS_SLIDER = 1;
constexpr UINT_PTR SUBCLASS_BUTTON = 2;

// The keys a control uses itself: the slider's arrows, pages, Home and End; a button's Space.
bool ControlKey(UINT_PTR Kind, WPARAM Vk) {
  if (Kind == SUBCLASS_BUTTON)
    return Vk == VK_SPACE;
  switch (Vk) {
  case VK_LEFT:
  case VK_RIGHT:
  case VK_UP:
  case VK_DOWN:
  case VK_PRIOR:
  case VK_NEXT:
  case VK_HOME:
  case VK_END:
    return true;
  default:
    return false;
  }
}

// A clicked button or the slider keeps the keyboard focus: the keys it does not use go where
// those of the root window go, so that the host's keys work whichever control was used last.
LRESULT CALLBACK ControlKeysProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR Kind,
                                 DWORD_PTR Ref) noexcept {
  try {
    auto *Form = reinterpret_cast<TViewerForm *>(Ref);
    switch (Msg) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if ((Msg == WM_SYSKEYDOWN || !ControlKey(Kind, WParam)) && Form->HandleKey(Msg, WParam, LParam))
        return 0;
      break;
    case WM_SYSCHAR:
      return 0; // the host's window gets its own from the key posted there
    case WM_NCDESTROY:
      RemoveWindowSubclass(Wnd, ControlKeysProc, Kind);
      break;
    default:
      break;
    }
  } catch (...) {
    // Nothing may unwind into the host's message loop; the control goes on as it is.
  }
  return DefSubclassProc(Wnd, Msg, WParam, LParam);
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
  FFormProp = TRemoveFormProp(FRootWnd.get(), this);
  FCore.OpenRecording(FFileName);
  InitGL();
  LogFmt("Create: InitGL done FGLRC=%d FGLDC=%d", FGL.RC.get(), FGL.DC.get());
  // The host's thread only draws: the window's rows come from worker threads.
  FCore.FBackgroundFill = true;
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
  const auto Text = [](TViewerButton B) { return TextToWide(ViewerButtonTexts()[static_cast<size_t>(B)]); };
  FBtnPlay = Make(L"BUTTON", Text(TViewerButton::Play).c_str(), btn, L.Buttons[0], IDC_BTN_PLAY);
  FBtnStep = Make(L"BUTTON", Text(TViewerButton::Step).c_str(), btn, L.Buttons[1], IDC_BTN_STEP);
  FBtnReset = Make(L"BUTTON", Text(TViewerButton::Reset).c_str(), btn, L.Buttons[2], IDC_BTN_RESET);
  FBtnOverlay = Make(L"BUTTON", Text(TViewerButton::Overlay).c_str(), btn, L.Buttons[3], IDC_BTN_OVERLAY);
  FBtnSettings = Make(L"BUTTON", Text(TViewerButton::Settings).c_str(), btn, L.Buttons[4], IDC_BTN_SETTINGS);
  FBtnLegend = Make(L"BUTTON", Text(TViewerButton::Legend).c_str(), btn, L.Buttons[5], IDC_BTN_LEGEND);
  FGLWnd = Make(GL_WC, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, L.GL, 0);
  if (!FGLWnd)
    throw EWindowCreation("CreateWindows: the drawing window could not be created (error " +
                          std::to_string(GetLastError()) + ")");
  FSliderWnd = Make(TRACKBAR_CLASSW, nullptr, WS_CHILD | WS_VISIBLE | TBS_NOTICKS, L.Slider, IDC_SLIDER);
  FStatusWnd = Make(L"STATIC", L"Loading...", WS_CHILD | WS_VISIBLE, L.Status, IDC_STATUS);
  FFreqWnd = Make(L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_RIGHT, L.Freq, 0);
  InitTooltip(FHover, FRootWnd.get(), FGLWnd, FFreqWnd);
  if (FSliderWnd)
    SetWindowSubclass(FSliderWnd, ControlKeysProc, SUBCLASS_SLIDER, reinterpret_cast<DWORD_PTR>(this));
  for (HWND B : {FBtnPlay, FBtnStep, FBtnReset, FBtnOverlay, FBtnSettings, FBtnLegend})
    if (B)
      SetWindowSubclass(B, ControlKeysProc, SUBCLASS_BUTTON, reinterpret_cast<DWORD_PTR>(this));
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
  const TKeepViewerFocus Keep(FRootWnd.get());
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
  if (FCapture && GL.glReadPixels && rc.right > 0 && rc.bottom > 0) {
    // The back buffer holds what the swap or the GDI copy below puts on the screen.
    FCapturedW = rc.right;
    FCapturedH = rc.bottom;
    FCaptured.resize(static_cast<size_t>(FCapturedW) * static_cast<size_t>(FCapturedH) * 4);
    GL.glReadPixels(0, 0, FCapturedW, FCapturedH, GL_BGRA, GL_UNSIGNED_BYTE, FCaptured.data());
  }
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

void TViewerForm::WakeForFill() noexcept {
  // Posting is the one thing a worker may do with a window: the root window outlives every
  // worker, which the core joins before the form lets it go.
  PostMessageW(FRootWnd.get(), WM_ZB_FILL_DONE, 0, 0);
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
  // The buttons' rules live in the core's controller; the form only opens what it asks for.
  static constexpr std::pair<WORD, TViewerButton> Buttons[] = {
      {IDC_BTN_PLAY, TViewerButton::Play},         {IDC_BTN_STEP, TViewerButton::Step},
      {IDC_BTN_RESET, TViewerButton::Reset},       {IDC_BTN_OVERLAY, TViewerButton::Overlay},
      {IDC_BTN_SETTINGS, TViewerButton::Settings}, {IDC_BTN_LEGEND, TViewerButton::Legend}};
  for (const auto &[Id, B] : Buttons) {
    if (Id != ID)
      continue;
    switch (PressViewerButton(FCore, B)) {
    case TButtonFollowUp::None:
      break;
    case TButtonFollowUp::OverlayText:
      SetWindowTextW(FBtnOverlay, TextToWide(OverlayButtonText(FCore.FOverlayVisible)).c_str());
      RefreshSignalHover(FHover, FCore);
      break;
    case TButtonFollowUp::OpenSettings:
      ShowSettings();
      break;
    case TButtonFollowUp::OpenLegend:
      ShowLegendDialog(FRootWnd.get(), FCore);
      break;
    }
  }
}

bool TViewerForm::LoadNext(const std::string &AFileName) noexcept {
  if (!FCore.OpenNext(AFileName))
    return false;
  // A dialog of the previous file must not apply to the next one: it ends as if cancelled.
  CloseDialogOver(FRootWnd.get());
  RefreshSignalHover(FHover, FCore);
  try {
    FFileName = AFileName;
  } catch (...) {
    // Only a copy of the name for the log; the file is shown.
  }
  return true;
}

bool TViewerForm::CopyFrameToClipboard() noexcept {
  try {
    FCapture = true;
    FCaptured.clear();
    FCore.RenderFrame();
    FCapture = false;
    if (FCaptured.empty())
      return false;
    const size_t W = static_cast<size_t>(FCapturedW), H = static_cast<size_t>(FCapturedH);
    // 24 bits a pixel: a 32-bit DIB would hand other programs OpenGL's alpha as transparency.
    const size_t Stride = (W * 3 + 3) & ~size_t{3};
    unique_hglobal Mem(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(BITMAPINFOHEADER) + Stride * H));
    if (!Mem)
      return false;
    auto *Hdr = static_cast<BITMAPINFOHEADER *>(GlobalLock(Mem.get()));
    if (!Hdr)
      return false;
    Hdr->biSize = sizeof(BITMAPINFOHEADER);
    Hdr->biWidth = FCapturedW;
    Hdr->biHeight = FCapturedH; // bottom-up, like OpenGL's rows
    Hdr->biPlanes = 1;
    Hdr->biBitCount = 24;
    Hdr->biCompression = BI_RGB;
    Hdr->biSizeImage = static_cast<DWORD>(Stride * H);
    auto *Dst = reinterpret_cast<uint8_t *>(Hdr + 1);
    for (size_t Y = 0; Y < H; ++Y)
      for (size_t X = 0; X < W; ++X) {
        const uint8_t *P = &FCaptured[(Y * W + X) * 4];
        uint8_t *Q = &Dst[Y * Stride + X * 3];
        Q[0] = P[0];
        Q[1] = P[1];
        Q[2] = P[2];
      }
    GlobalUnlock(Mem.get());
    if (!OpenClipboard(FRootWnd.get()))
      return false;
    EmptyClipboard();
    const bool Ok = SetClipboardData(CF_DIB, Mem.get()) != nullptr;
    if (Ok)
      (void)Mem.release(); // the clipboard owns it now
    CloseClipboard();
    return Ok;
  } catch (...) {
    FCapture = false;
    return false;
  }
}

bool TViewerForm::HandleKey(UINT Msg, WPARAM WParam, LPARAM LParam) {
  const auto Vk = static_cast<uint32_t>(WParam);
  // A modifier on its own means nothing yet; the host reads the modifiers with the key.
  if (Vk == VK_SHIFT || Vk == VK_CONTROL || Vk == VK_MENU || Vk == VK_LWIN || Vk == VK_RWIN)
    return false;
  uint8_t Mods = KMOD_NONE;
  if (GetKeyState(VK_SHIFT) < 0)
    Mods |= KMOD_SHIFT;
  if (GetKeyState(VK_CONTROL) < 0)
    Mods |= KMOD_CTRL;
  if ((Msg == WM_SYSKEYDOWN && (LParam & (LPARAM{1} << 29)) != 0) || GetKeyState(VK_MENU) < 0)
    Mods |= KMOD_ALT;
  if (const TViewerKey *K = FindViewerKey(Vk, Mods)) {
    switch (K->Action) {
    case TViewerAction::None:
      break;
    case TViewerAction::ShowInfo:
      FCore.StopPlay();
      ShowInfoDialog(RootWnd(), FCore);
      break;
    default: // the view tools live in the core
      FCore.HandleViewerKey(Vk, Mods);
      break;
    }
    return true;
  }
  // The host only sees keys sent to its own window: its next/previous-file keys, Escape (which
  // closes the lister), its mode keys and shortcuts. The same message, so that Alt combinations
  // stay system keys there.
  PostMessageW(GetParent(FRootWnd.get()), Msg, WParam, LParam);
  return true;
}

void TViewerForm::ShowSettings() {
  TSettingsTexts Texts = SettingsDialogTexts(FCore);
  if (!ShowSettingsDialog(FRootWnd.get(), Texts))
    return;
  ApplySettingsDialog(FCore, Texts);
  RefreshSignalHover(FHover, FCore);
}

TViewerForm *FormOfRoot(HWND Root) {
  return Root ? static_cast<TViewerForm *>(GetPropW(Root, PROP_FORM)) : nullptr;
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

// Keys of a window whose viewer is gone or not yet there: Escape still reaches the host.
bool ForwardEscape(HWND Host, UINT Msg, WPARAM WParam, LPARAM LParam) {
  if (Msg != WM_KEYDOWN || WParam != VK_ESCAPE)
    return false;
  PostMessageW(Host, Msg, WParam, LParam);
  return true;
}

LRESULT RootWndProcImpl(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  TViewerForm *Form = FormOfRoot(Wnd);
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
  case WM_SYSKEYDOWN:
    if (Form ? Form->HandleKey(Msg, WParam, LParam) : ForwardEscape(GetParent(Wnd), Msg, WParam, LParam))
      return 0;
    break;
  case WM_SYSCHAR:
    // The host's window gets its own from the key posted there; a second would open its menu twice.
    if (Form)
      return 0;
    break;
  case WM_NCDESTROY:
    RemovePropW(Wnd, PROP_FORM);
    break;
  case WM_COMMAND:
    if (Form)
      Form->HandleCommand(LOWORD(WParam));
    break;
  case WM_TIMER:
    if (Form) {
      if (WParam == TIMER_PROBE_ID) {
        KillTimer(Wnd, TIMER_PROBE_ID);
        Form->RenderFrame();
      } else {
        Form->Core().HandleTimerId(static_cast<int32_t>(WParam));
      }
    }
    break;
  case WM_ZB_FILL_DONE:
    if (Form)
      Form->Core().DrainWindowFill();
    break;
  case WM_HSCROLL:
    if (Form && reinterpret_cast<HWND>(LParam) == Form->FSliderWnd)
      Form->Core().HandleSliderChange(LOWORD(WParam));
    break;
  default:
    break;
  }
  return DefWindowProcW(Wnd, Msg, WParam, LParam);
}

LRESULT GLWndProcImpl(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  switch (Msg) {
  case WM_ERASEBKGND:
    return 1;
  case WM_PAINT:
    // An uncovered drawing window must be drawn again: its pixels are not kept anywhere, and
    // the root window does not repaint for it (it clips its children).
    if (TViewerForm *Form = FormOfRoot(GetParent(Wnd))) {
      { unique_hdc_paint dc(Wnd); }
      Form->RenderFrame();
      return 0;
    }
    break;
  case WM_KEYDOWN:
  case WM_SYSKEYDOWN: {
    TViewerForm *Form = FormOfRoot(GetParent(Wnd));
    if (Form ? Form->HandleKey(Msg, WParam, LParam)
             : ForwardEscape(GetParent(GetParent(Wnd)), Msg, WParam, LParam))
      return 0;
    break;
  }
  case WM_SYSCHAR:
    if (FormOfRoot(GetParent(Wnd)))
      return 0;
    break;
  case WM_MOUSEMOVE:
    if (TViewerForm *Form = FormOfRoot(GetParent(Wnd))) {
      Form->HandleGLMouseMove(static_cast<int16_t>(LOWORD(LParam)), static_cast<int16_t>(HIWORD(LParam)));
      if (WParam & MK_LBUTTON)
        Form->Core().ButtonDrag(static_cast<int16_t>(LOWORD(LParam)), static_cast<int16_t>(HIWORD(LParam)));
    }
    return 0;
  // The view tools: wheel zoom, click markers, drag pan, double-click whole band.
  case WM_MOUSEWHEEL:
    if (TViewerForm *Form = FormOfRoot(GetParent(Wnd))) {
      POINT Pt{static_cast<int16_t>(LOWORD(LParam)), static_cast<int16_t>(HIWORD(LParam))};
      ScreenToClient(Wnd, &Pt);
      if (Form->Core().WheelAt(Pt.x, Pt.y, GET_WHEEL_DELTA_WPARAM(WParam) / WHEEL_DELTA))
        return 0;
    }
    break;
  case WM_LBUTTONDOWN:
    if (TViewerForm *Form = FormOfRoot(GetParent(Wnd))) {
      SetCapture(Wnd);
      Form->Core().ButtonDown(
          static_cast<int16_t>(LOWORD(LParam)), static_cast<int16_t>(HIWORD(LParam)),
          static_cast<uint8_t>((WParam & MK_SHIFT ? KMOD_SHIFT : 0) | (WParam & MK_CONTROL ? KMOD_CTRL : 0)));
    }
    return 0;
  case WM_LBUTTONUP:
    if (GetCapture() == Wnd)
      ReleaseCapture();
    if (TViewerForm *Form = FormOfRoot(GetParent(Wnd)))
      Form->Core().ButtonUp(static_cast<int16_t>(LOWORD(LParam)), static_cast<int16_t>(HIWORD(LParam)));
    return 0;
  case WM_LBUTTONDBLCLK:
    if (TViewerForm *Form = FormOfRoot(GetParent(Wnd)))
      Form->Core().DoubleClickAt(static_cast<int16_t>(LOWORD(LParam)), static_cast<int16_t>(HIWORD(LParam)));
    return 0;
  case WM_MOUSELEAVE:
    if (TViewerForm *Form = FormOfRoot(GetParent(Wnd)))
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
