// TViewerForm: one open viewer, the window tree the host embeds and everything it shows.
#pragma once

#include <windows.h>

#include "base/uGlobals.h"
#include "base/win32_uHandles.h"
#include "render/wgl_uWGLUtils.h"
#include "render/win32_uGdiPresent.h"
#include "viewer/uFormRegistry.h"
#include "viewer/uViewerCore.h"
#include "viewer/win32_uSignalTooltip.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

inline constexpr const wchar_t *ROOT_WC = L"ZembrolaRoot";
inline constexpr const wchar_t *GL_WC = L"ZembrolaGLWnd";
inline constexpr const wchar_t *DLG_WC = L"ZembrolaDlg";
inline constexpr const wchar_t *PROP_FORM = L"ZembrolaForm";

inline constexpr WORD IDC_BTN_PLAY = 1001;
inline constexpr WORD IDC_BTN_RESET = 1002;
inline constexpr WORD IDC_BTN_SETTINGS = 1003;
inline constexpr WORD IDC_SLIDER = 1004;
inline constexpr WORD IDC_STATUS = 1005;
inline constexpr WORD IDC_BTN_OVERLAY = 1006;
inline constexpr WORD IDC_BTN_STEP = 1007;
inline constexpr WORD IDC_BTN_LEGEND = 1008;

// Posted to the root window by a worker thread whose waterfall fill has finished.
inline constexpr UINT WM_ZB_FILL_DONE = WM_APP + 1;

inline constexpr int32_t TOOLBAR_H = 32;
inline constexpr int32_t SLIDER_H = 26;
inline constexpr int32_t STATUS_H = 22;
inline constexpr int32_t FREQ_STATUS_W = 150;
inline constexpr COLORREF CLR_BG = 0x1E1E2E;
inline constexpr COLORREF CLR_TOOLBAR = 0x2A2A3E;

class TGLRenderer;

// A window the viewer cannot do without could not be created (ListLoadW then returns 0).
class EWindowCreation : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

extern bool GClassesRegistered;

// The property PROP_FORM on a viewer's root window, through which its window procedures find
// the viewer; removed again before the windows go (move-only).
class TRemoveFormProp {
public:
  TRemoveFormProp() = default;
  TRemoveFormProp(HWND AWnd, void *AForm) : FWnd(SetPropW(AWnd, PROP_FORM, AForm) ? AWnd : nullptr) {}
  TRemoveFormProp(const TRemoveFormProp &) = delete;
  TRemoveFormProp &operator=(const TRemoveFormProp &) = delete;
  TRemoveFormProp(TRemoveFormProp &&o) noexcept : FWnd(o.FWnd) { o.FWnd = nullptr; }
  TRemoveFormProp &operator=(TRemoveFormProp &&o) noexcept {
    if (this != &o) {
      Reset();
      FWnd = o.FWnd;
      o.FWnd = nullptr;
    }
    return *this;
  }
  ~TRemoveFormProp() { Reset(); }

private:
  void Reset() {
    if (FWnd && IsWindow(FWnd))
      RemovePropW(FWnd, PROP_FORM);
    FWnd = nullptr;
  }
  HWND FWnd = nullptr;
};

// The Win32 side of one viewer: its windows, OpenGL context and dialogs. Everything the viewer
// knows and does beyond that lives in the portable TViewerCore, which reaches the windows
// through this class's IViewerPlatform methods.
class TViewerForm : public IViewerPlatform {
public:
  // Builds and shows a complete viewer inside AParent; on failure everything built so far
  // is released again and the failure passed on.
  TViewerForm(HWND AParent, const std::string &AFileName);
  ~TViewerForm() override;
  TViewerForm(const TViewerForm &) = delete;
  TViewerForm &operator=(const TViewerForm &) = delete;

  HWND RootWnd() const { return FRootWnd.get(); }
  TViewerCore &Core() { return FCore; }

  void HandleCommand(WORD ID);
  void HandleResize();
  // Moves the child windows to the places the root window's client size and FDpiScale give,
  // then fits the renderer and draws a frame.
  void LayoutChildren();
  void HandlePaint();
  // Frequency readout and the tooltip of the signal under the mouse.
  void HandleGLMouseMove(int32_t X, int32_t Y) { ::HandleGLMouseMove(FHover, FCore, X, Y); }
  void HandleGLMouseLeave() { ::HandleGLMouseLeave(FHover); }
  void UpdateStatusText(const std::string &S);
  void RenderFrame() { FCore.RenderFrame(); }
  // Shows another file in this viewer (the host flips through a folder): windows, context,
  // renderer and settings stay, the open dialogs close. False when the file cannot be opened;
  // the previous file is then still shown as it was.
  bool LoadNext(const std::string &AFileName) noexcept;
  // Draws the frame again and puts it on the clipboard as a 24-bit DIB, the same pixels the
  // drawing window shows. False when no frame could be drawn or the clipboard refused it.
  bool CopyFrameToClipboard() noexcept;
  // A key pressed in the root or drawing window (WM_KEYDOWN or WM_SYSKEYDOWN): a key of the
  // viewer's table is handled here, any other is posted to the host's window. True when the
  // message is done with.
  bool HandleKey(UINT Msg, WPARAM WParam, LPARAM LParam);

  // IViewerPlatform
  void SetStatusText(const std::string &S) override { UpdateStatusText(S); }
  void SetRootText(const std::string &S) override;
  void SetPlayButtonText(const std::string &S) override;
  void SetSliderRange(int32_t Min, int32_t Max) override;
  void SetSliderPos(int32_t Pos) override;
  int32_t GetSliderPos() override;
  uintptr_t StartTimer(int32_t Id, int32_t Ms) override;
  void KillTimer(int32_t Id) override;
  double PerfSeconds() override;
  bool MakeCurrent() override;
  void DrawableSize(int32_t &W, int32_t &H) override;
  // A buffer swap, or through GDI where swaps of child windows never reach the screen.
  void Present() override;
  void WakeForFill() noexcept override;
  bool SaveFileAs(const std::string &Suggested, const std::vector<uint8_t> &Bytes, std::string &Saved,
                  std::string &Why) override;

  // Fields, in the order and with the initial values the viewer's parts rely on. Owners are
  // released in reverse order of declaration: renderer, core (its timers), GL context, hidden
  // window, tooltip, registration, and last the root window with every child window.
  HWND FParentWnd = nullptr;
  unique_hwnd FRootWnd;
  HWND FGLWnd = nullptr;
  HWND FSliderWnd = nullptr;
  HWND FStatusWnd = nullptr;
  HWND FFreqWnd = nullptr;
  TUnregisterForm FRegistration;
  TRemoveFormProp FFormProp; // set with the registration: the window procedures look here
  TSignalHover FHover;       // the tooltip window (owned) and the last mouse position
  HWND FBtnPlay = nullptr, FBtnReset = nullptr, FBtnSettings = nullptr;
  HWND FBtnOverlay = nullptr, FBtnStep = nullptr, FBtnLegend = nullptr;
  unique_hwnd FRenderWnd; // hidden window drawn into where frames are presented through GDI
  TGLContext FGL;         // device and rendering context of the drawing (or hidden) window
  TGdiPresenter FPresenter;
  TSwapProbe FSwapProbe;  // the first swaps of a driver not known to need GDI
  bool FSwapLost = false; // the probe found that swaps never reach the screen
  std::string FFileName;
  TViewerCore FCore;
  std::unique_ptr<TGLRenderer> FRenderer;
  int32_t FToolbarHeight = TOOLBAR_H;
  int32_t FSliderHeight = SLIDER_H;
  int32_t FStatusHeight = STATUS_H;
  double FDpiScale = 1.0; // the root window's dots per inch / 96, for the layout
  // Set while CopyFrameToClipboard draws: Present keeps the frame's pixels (BGRA, bottom row first).
  bool FCapture = false;
  std::vector<uint8_t> FCaptured;
  int32_t FCapturedW = 0, FCapturedH = 0;

private:
  static void EnsureWindowClasses();
  void CreateWindows();
  void InitGL();
  void ShowSettings();
};

// The viewer a root window belongs to, through its window property (every viewer has one, also
// those the registry has no room for); nullptr for a window without one.
TViewerForm *FormOfRoot(HWND Root);

LRESULT CALLBACK RootWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
LRESULT CALLBACK GLWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);

// Horizontal dots per inch of a window divided by 96; dialogs scale their sizes by it.
double GetDpiScaleFor(HWND Wnd);
