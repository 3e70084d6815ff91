// TViewerForm: one open viewer, the window tree the host embeds and everything it shows.
#pragma once

#include <windows.h>

#include "base/uGlobals.h"
#include "base/win32_uHandles.h"
#include "render/wgl_uWGLUtils.h"
#include "render/win32_uGdiPresent.h"
#include "viewer/uFormRegistry.h"

#include <cstdint>
#include <memory>
#include <string>

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

inline constexpr int32_t TOOLBAR_H = 32;
inline constexpr int32_t SLIDER_H = 26;
inline constexpr int32_t STATUS_H = 22;
inline constexpr int32_t FREQ_STATUS_W = 150;
inline constexpr COLORREF CLR_BG = 0x1E1E2E;
inline constexpr COLORREF CLR_TOOLBAR = 0x2A2A3E;

inline constexpr UINT_PTR TIMER_PLAY = 1;
inline constexpr UINT_PTR TIMER_SEEK = 2;

class TGLRenderer;

extern bool GClassesRegistered;

class TViewerForm {
public:
  // Builds and shows a complete viewer inside AParent; on failure everything built so far
  // is released again and the failure passed on.
  TViewerForm(HWND AParent, const std::string &AFileName);
  virtual ~TViewerForm();
  TViewerForm(const TViewerForm &) = delete;
  TViewerForm &operator=(const TViewerForm &) = delete;

  HWND RootWnd() const { return FRootWnd.get(); }

  void HandleCommand(WORD ID);
  void HandleResize();
  // Moves the child windows to the places the root window's client size and FDpiScale give,
  // then fits the renderer and draws a frame.
  void LayoutChildren();
  void HandlePaint();
  void HandleTimer() {}
  void HandleSeekTimer() {}
  void HandleSliderChange(WORD ScrollCode) { (void)ScrollCode; }
  void HandleGLMouseMove(int32_t X, int32_t Y) {
    FLastMouseX = X;
    FLastMouseY = Y;
  }
  void HandleGLMouseLeave() {}
  void UpdateStatusText(const std::string &S);
  void RenderFrame();
  // Shows the frame just drawn: a buffer swap, or through GDI where swaps of child windows
  // never reach the screen.
  void Present();

  // Fields, in the order and with the initial values the viewer's parts rely on. Owners are
  // released in reverse order of declaration: renderer, GL context, tooltip, registration,
  // and last the root window with every child window.
  HWND FParentWnd = nullptr;
  unique_hwnd FRootWnd;
  HWND FToolbarWnd = nullptr; // never created: the toolbar is the painted strip of the root
  HWND FGLWnd = nullptr;
  HWND FSliderWnd = nullptr;
  HWND FStatusWnd = nullptr;
  HWND FFreqWnd = nullptr;
  TUnregisterForm FRegistration;
  unique_hwnd FTooltipWnd; // a top-level window: not destroyed with the root
  int32_t FLastMouseX = INT32_MIN;
  int32_t FLastMouseY = INT32_MIN;
  HWND FBtnPlay = nullptr, FBtnReset = nullptr, FBtnSettings = nullptr;
  HWND FBtnOverlay = nullptr, FBtnStep = nullptr, FBtnLegend = nullptr;
  unique_hwnd FRenderWnd; // hidden window drawn into where frames are presented through GDI
  TGLContext FGL;         // device and rendering context of the drawing (or hidden) window
  TGdiPresenter FPresenter;
  std::string FFileName;
  int64_t FTotalSamples = 0;
  double FDurationSec = 0.0;
  double FSampleRate = DEF_SAMPLE_RATE;
  double FCenterFreq = 0.0;
  bool FHasCenterFreq = false;
  int32_t FPSD_NFFT = DEF_PSD_NFFT;
  int32_t FWF_NFFT = DEF_WF_NFFT;
  int32_t FWFHistory = DEF_WF_HISTORY;
  double FWFOverlap = DEF_WF_OVERLAP;
  int32_t FWFDecimation = 1;
  double FWFWindowSec = DEF_PREVIEW_SEC;
  double FMagMinDb = DEF_MAG_MIN_DB;
  double FMagMaxDb = DEF_MAG_MAX_DB;
  double FPlayChunkSec = DEF_PLAY_CHUNK_SEC;
  int32_t FAvgSegments = DEF_AVG_SEGMENTS;
  bool FPlaying = false;
  int64_t FPlayPosition = 0;
  UINT_PTR FPlayTimerID = 0, FSeekTimerID = 0;
  bool FSliderUpdating = false;
  TRowBuffer FWaterfallBuf;
  int32_t FWFWriteIdx = 0, FWFRowCount = 0;
  TFloatArray FPSDFreqs, FPSDDb;
  std::unique_ptr<TGLRenderer> FRenderer;
  bool FOverlayVisible = true;
  int32_t FSignalCount = 0;
  int32_t FToolbarHeight = TOOLBAR_H;
  int32_t FSliderHeight = SLIDER_H;
  int32_t FStatusHeight = STATUS_H;
  double FDpiScale = 1.0; // the root window's dots per inch / 96, for the layout

private:
  static void EnsureWindowClasses();
  void CreateWindows();
  void InitGL();
  void StopPlay();
};

LRESULT CALLBACK RootWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
LRESULT CALLBACK GLWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);

// Horizontal dots per inch of a window divided by 96; dialogs scale their sizes by it.
double GetDpiScaleFor(HWND Wnd);
