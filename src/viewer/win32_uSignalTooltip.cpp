#include "viewer/win32_uSignalTooltip.h"

#include <commctrl.h>

#include "base/uLog.h"
#include "base/win32_uModule.h"
#include "base/win32_uPath.h"
#include "viewer/uViewerCore.h"

namespace {

// The tooltip wraps at CR LF only when it has a maximum width; wide enough that it never
// wraps a line of its own accord.
constexpr LPARAM TIP_MAX_WIDTH = 4000;

TTTOOLINFOW ToolInfo(const TSignalHover &H, wchar_t *Text) {
  TTTOOLINFOW Ti{};
  Ti.cbSize = sizeof(Ti);
  Ti.hwnd = H.FGLWnd;
  Ti.uId = TOOLTIP_TOOL_ID;
  Ti.lpszText = Text;
  return Ti;
}

void SetReadout(const TSignalHover &H, const std::string &S) {
  if (H.FFreqWnd)
    SetWindowTextW(H.FFreqWnd, TextToWide(S).c_str());
}

// Readout and tooltip as the controller's view of the point says.
void Show(const TSignalHover &H, const THoverView &V) {
  if (!V.Changed)
    return;
  SetReadout(H, V.Readout);
  if (V.ShowTip)
    ShowSignalTooltip(H, H.FPoint.LastX, H.FPoint.LastY, V.TipText);
  else
    HideSignalTooltip(H);
}

} // namespace

void InitTooltip(TSignalHover &H, HWND Root, HWND GLWnd, HWND FreqWnd) {
  H.FGLWnd = GLWnd;
  H.FFreqWnd = FreqWnd;
  TActCtxActivation Actctx;
  H.FTooltipWnd.reset(CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                      WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                                      CW_USEDEFAULT, CW_USEDEFAULT, Root, nullptr, ThisModule(), nullptr));
  if (!H.FTooltipWnd) {
    LogFmt("InitTooltip: FAILED err=%d", GetLastError());
    return;
  }
  HWND Tip = H.FTooltipWnd.get();
  SetWindowPos(Tip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  wchar_t Blank[] = L" ";
  TTTOOLINFOW Ti = ToolInfo(H, Blank);
  Ti.uFlags = TTF_TRACK | TTF_ABSOLUTE;
  SendMessageW(Tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&Ti));
  SendMessageW(Tip, TTM_SETMAXTIPWIDTH, 0, TIP_MAX_WIDTH);
}

void ShowSignalTooltip(const TSignalHover &H, int32_t X, int32_t Y, const std::string &Text) {
  if (!H.FTooltipWnd)
    return;
  HWND Tip = H.FTooltipWnd.get();
  std::wstring W = TextToWide(Text);
  TTTOOLINFOW Ti = ToolInfo(H, W.data());
  SendMessageW(Tip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&Ti));
  POINT P{X, Y};
  ClientToScreen(H.FGLWnd, &P);
  SendMessageW(Tip, TTM_TRACKPOSITION, 0, MAKELPARAM(P.x + TOOLTIP_OFFSET, P.y + TOOLTIP_OFFSET));
  SendMessageW(Tip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&Ti));
}

void HideSignalTooltip(const TSignalHover &H) {
  if (!H.FTooltipWnd)
    return;
  TTTOOLINFOW Ti = ToolInfo(H, nullptr);
  SendMessageW(H.FTooltipWnd.get(), TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&Ti));
}

void HandleGLMouseMove(TSignalHover &H, const TViewerCore &Core, int32_t X, int32_t Y) noexcept {
  const THoverView V = HoverMove(H.FPoint, Core, X, Y);
  if (!V.Changed)
    return;
  try {
    TRACKMOUSEEVENT Tme{sizeof(Tme), TME_LEAVE, H.FGLWnd, 0};
    TrackMouseEvent(&Tme);
    Show(H, V);
  } catch (...) {
    // Out of memory for a text: the readout and tooltip stay as they were.
  }
}

void HandleGLMouseMoveMsg(TSignalHover &H, const TViewerCore &Core, LPARAM LParam) noexcept {
  HandleGLMouseMove(H, Core, static_cast<int16_t>(LOWORD(LParam)), static_cast<int16_t>(HIWORD(LParam)));
}

void HandleGLMouseLeave(TSignalHover &H) noexcept {
  try {
    Show(H, HoverLeave(H.FPoint));
  } catch (...) {
    HideSignalTooltip(H);
  }
}

void RefreshSignalHover(TSignalHover &H, const TViewerCore &Core) noexcept {
  try {
    Show(H, HoverRefresh(H.FPoint, Core));
  } catch (...) {
  }
}

char UserDecimalSeparator() {
  char Buf[8] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, Buf, sizeof Buf) > 1 && Buf[1] == '\0')
    return Buf[0];
  return '.';
}
