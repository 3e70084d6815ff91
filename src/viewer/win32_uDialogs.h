// The viewer's modal dialogs: the dialog window class's procedure, the modal message loop
// they share, and the settings dialog.
#pragma once

#include <windows.h>

#include "base/win32_uHandles.h"
#include "viewer/uViewerSettings.h"

#include <cstdint>

inline constexpr WORD IDC_DLG_OK = 2001;
inline constexpr WORD IDC_DLG_CANCEL = 2002;

// Outcome of the dialog that ran last: done flag and result (1 = OK, 0 otherwise).
extern bool GDlgDone;
extern int32_t GDlgResult;

// Window procedure of the dialog class: the close box, Cancel and IDCANCEL end the dialog with
// 0, OK with 1.
LRESULT CALLBACK SettingsDlgWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);

// Runs Dlg modally over Root (disabled meanwhile) until it ends; returns its result. Messages of
// every window of the thread keep flowing, so the viewer keeps painting and its timers run. A
// quit message ends the loop with 0 and is posted again for the host. Dialogs of several viewers
// may nest: each ends by its own buttons only.
int32_t RunModalLoop(HWND Root, HWND Dlg);

// A dialog window of the dialog class, W x H pixels, titled Title and centred over Owner; null
// (and logged with What) when it cannot be made. Make the TKeepViewerFocus before it.
unique_hwnd CreateDialogOver(HWND Owner, const wchar_t *Title, int32_t W, int32_t H, const char *What);

// Held while a modal dialog over Root exists (made before the dialog's window, so that it ends
// after it): disabling the viewer takes the keyboard from it and the dialog's end activates the
// host's window, so the viewer's window that had it gets it back and its keys go on working.
class TKeepViewerFocus {
public:
  explicit TKeepViewerFocus(HWND Root);
  ~TKeepViewerFocus();
  TKeepViewerFocus(const TKeepViewerFocus &) = delete;
  TKeepViewerFocus &operator=(const TKeepViewerFocus &) = delete;

private:
  HWND FFocus = nullptr;
};
// Ends the dialog running over Root, if any, as its close box would (result 0). Its loop
// returns once the message being handled now is done.
void CloseDialogOver(HWND Root);

// The settings dialog over Root, opened with Texts; on OK, Texts holds what the user entered
// and the result is true. False when cancelled or when the window could not be made.
bool ShowSettingsDialog(HWND Root, TSettingsTexts &Texts);
