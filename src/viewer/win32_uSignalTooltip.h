// The signal tooltip and frequency readout of one viewer's drawing window: a tracking tooltip
// that shows the description of the signal under the mouse 18 pixels right of and below it,
// and the readout text of the frequency under the mouse.
#pragma once

#include <windows.h>

#include "base/win32_uHandles.h"
#include "viewer/uViewerController.h"

#include <cstdint>
#include <string>

inline constexpr int32_t TOOLTIP_OFFSET = 18;  // pixels right of and below the mouse
inline constexpr UINT_PTR TOOLTIP_TOOL_ID = 1; // the tooltip's one tool, on the drawing window

// What the hover handling keeps per viewer. The form owns one and hands it its windows.
struct TSignalHover {
  unique_hwnd FTooltipWnd; // empty when it could not be created: no tooltip, readout still works
  HWND FGLWnd = nullptr;   // the drawing window, owner of the tool
  HWND FFreqWnd = nullptr; // the frequency readout (a static text); may be null
  THoverState FPoint;      // the last point seen
};

// Creates the tooltip (owned by Root) with its tool on GLWnd and remembers the windows.
// Common controls must be initialised beforehand.
void InitTooltip(TSignalHover &H, HWND Root, HWND GLWnd, HWND FreqWnd);
// Shows Text (ANSI code page) at client point (X, Y) of the drawing window plus the offset.
void ShowSignalTooltip(const TSignalHover &H, int32_t X, int32_t Y, const std::string &Text);
void HideSignalTooltip(const TSignalHover &H);

// WM_MOUSEMOVE at client point (X, Y): readout and tooltip from Core.MouseAt. A move to the
// point seen last does nothing.
void HandleGLMouseMove(TSignalHover &H, const TViewerCore &Core, int32_t X, int32_t Y) noexcept;
// The same with the message's LParam (client coordinates as signed 16-bit values).
void HandleGLMouseMoveMsg(TSignalHover &H, const TViewerCore &Core, LPARAM LParam) noexcept;
// WM_MOUSELEAVE: readout emptied, tooltip hidden, last point forgotten.
void HandleGLMouseLeave(TSignalHover &H) noexcept;
// Evaluates the last point again, for changes under a resting mouse (overlay switched, new
// settings); nothing when the mouse is not over the drawing window.
void RefreshSignalHover(TSignalHover &H, const TViewerCore &Core) noexcept;

// The user's decimal separator as one ANSI character ('.' when it cannot be read).
char UserDecimalSeparator();
