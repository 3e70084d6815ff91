// The viewer's modal dialogs: the dialog window class's procedure, the modal message loop
// they share, and the settings dialog.
#pragma once

#include <windows.h>

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
// Ends the dialog running over Root, if any, as its close box would (result 0). Its loop
// returns once the message being handled now is done.
void CloseDialogOver(HWND Root);

// The settings dialog over Root, opened with Texts; on OK, Texts holds what the user entered
// and the result is true. False when cancelled or when the window could not be made.
bool ShowSettingsDialog(HWND Root, TSettingsTexts &Texts);
