#include "viewer/win32_uDialogs.h"

#include "base/uLog.h"
#include "base/win32_uHandles.h"
#include "base/win32_uModule.h"
#include "base/win32_uPath.h"
#include "viewer/win32_uViewerForm.h"

#include <cmath>
#include <string>

bool GDlgDone = false;
int32_t GDlgResult = 0;

namespace {

// Each running dialog keeps its own outcome, so that a dialog of another viewer opened while
// this one runs cannot end this one's loop.
struct TDlgState {
  bool Done = false;
  int32_t Result = 0;
};
constexpr const wchar_t *PROP_DLG_STATE = L"ZembrolaDlgState";
// On the viewer's root window: the dialog running over it, so that it can be closed from outside.
constexpr const wchar_t *PROP_DLG_OPEN = L"ZembrolaDlgOpen";

void FinishDialog(HWND Wnd, int32_t Result) {
  GDlgResult = Result;
  GDlgDone = true;
  if (auto *State = static_cast<TDlgState *>(GetPropW(Wnd, PROP_DLG_STATE))) {
    State->Result = Result;
    State->Done = true;
  }
}

// At most 255 characters, in the ANSI code page like every string inside the viewer.
std::string GetEditText(HWND Wnd) {
  wchar_t Buf[256] = {};
  const int N = GetWindowTextW(Wnd, Buf, 256);
  if (N <= 0)
    return {};
  const int M = WideCharToMultiByte(CP_ACP, 0, Buf, N, nullptr, 0, nullptr, nullptr);
  std::string S(static_cast<size_t>(M > 0 ? M : 0), '\0');
  if (M > 0)
    WideCharToMultiByte(CP_ACP, 0, Buf, N, S.data(), M, nullptr, nullptr);
  return S;
}

} // namespace

LRESULT CALLBACK SettingsDlgWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  switch (Msg) {
  case WM_CLOSE:
    FinishDialog(Wnd, 0);
    return 0;
  case WM_COMMAND: {
    const int16_t Id = static_cast<int16_t>(LOWORD(WParam));
    if (Id == IDCANCEL || Id == static_cast<int16_t>(IDC_DLG_CANCEL)) {
      FinishDialog(Wnd, 0);
      return 0;
    }
    if (Id == static_cast<int16_t>(IDC_DLG_OK)) {
      FinishDialog(Wnd, 1);
      return 0;
    }
    break;
  }
  default:
    break;
  }
  return DefWindowProcW(Wnd, Msg, WParam, LParam);
}

TKeepViewerFocus::TKeepViewerFocus(HWND Root) {
  const HWND Focus = GetFocus();
  if (Focus && (Focus == Root || IsChild(Root, Focus)))
    FFocus = Focus;
}

TKeepViewerFocus::~TKeepViewerFocus() {
  if (FFocus && IsWindow(FFocus))
    SetFocus(FFocus);
}

unique_hwnd CreateDialogOver(HWND Owner, const wchar_t *Title, int32_t W, int32_t H, const char *What) {
  unique_hwnd Dlg(CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, DLG_WC, Title,
                                  WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU, 0, 0, W, H, Owner, nullptr,
                                  ThisModule(), nullptr));
  if (!Dlg) {
    Log(std::string(What) + ": FAILED to create dialog window");
    return Dlg;
  }
  RECT R{};
  GetWindowRect(Owner, &R);
  SetWindowPos(Dlg.get(), nullptr, R.left + (R.right - R.left - W) / 2, R.top + (R.bottom - R.top - H) / 2, 0,
               0, SWP_NOSIZE | SWP_NOZORDER);
  return Dlg;
}

int32_t RunModalLoop(HWND Root, HWND Dlg) {
  TDlgState State;
  SetPropW(Dlg, PROP_DLG_STATE, &State);
  HANDLE Outer = GetPropW(Root, PROP_DLG_OPEN);
  SetPropW(Root, PROP_DLG_OPEN, Dlg);
  GDlgDone = false;
  GDlgResult = 0;
  EnableWindow(Root, FALSE);
  while (!State.Done) {
    MSG M;
    const BOOL R = GetMessageA(&M, nullptr, 0, 0);
    if (R == 0) {
      // The host is quitting: hand it its quit message again and let the dialog go.
      PostQuitMessage(0);
      State.Result = 0;
      break;
    }
    if (R < 0)
      break;
    if (!IsDialogMessageA(Dlg, &M)) {
      TranslateMessage(&M);
      DispatchMessageA(&M);
    }
  }
  RemovePropW(Dlg, PROP_DLG_STATE);
  if (Outer)
    SetPropW(Root, PROP_DLG_OPEN, Outer);
  else
    RemovePropW(Root, PROP_DLG_OPEN);
  EnableWindow(Root, TRUE);
  SetForegroundWindow(Root);
  GDlgDone = true;
  GDlgResult = State.Result;
  return State.Result;
}

void CloseDialogOver(HWND Root) {
  if (HWND Dlg = static_cast<HWND>(GetPropW(Root, PROP_DLG_OPEN)))
    SendMessageW(Dlg, WM_CLOSE, 0, 0);
}

bool ShowSettingsDialog(HWND Root, TSettingsTexts &Texts) {
  const double Scale = GetDpiScaleFor(Root);
  // Every size is given at 96 dots per inch and rounded on its own, halves to even.
  const auto SC = [Scale](int32_t V) { return static_cast<int32_t>(std::nearbyint(V * Scale)); };
  const int32_t DlgW = SC(320), DlgH0 = SC(370);
  Log("ShowSettingsDialog: creating DlgWnd");
  const TKeepViewerFocus Keep(Root); // outlives the dialog, whose end activates the host
  const unique_hwnd Dlg = CreateDialogOver(Root, L"Zembrola Settings", DlgW, DlgH0, "ShowSettingsDialog");
  if (!Dlg)
    return false;

  const auto Make = [&](DWORD ExStyle, const wchar_t *Cls, const std::wstring &Text, DWORD Style, int32_t X,
                        int32_t Y, int32_t W, int32_t H, WORD Id) {
    return CreateWindowExW(ExStyle, Cls, Text.c_str(), Style, X, Y, W, H, Dlg.get(),
                           reinterpret_cast<HMENU>(static_cast<UINT_PTR>(Id)), ThisModule(), nullptr);
  };
  HWND Edits[sfCount] = {};
  int32_t Y = SC(10);
  for (int32_t F = 0; F < sfCount; ++F) {
    Make(0, L"STATIC", TextToWide(SettingsFieldLabel(static_cast<TSettingsField>(F))), WS_CHILD | WS_VISIBLE,
         SC(10), Y, SC(140), SC(20), 0);
    Edits[F] = Make(WS_EX_CLIENTEDGE, L"EDIT", TextToWide(Texts[static_cast<size_t>(F)]),
                    WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, SC(155), Y, SC(140), SC(22), 0);
    Y += F + 1 < sfCount ? SC(28) : SC(32);
  }
  Make(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, SC(60), Y, SC(80), SC(28), IDC_DLG_OK);
  Make(0, L"BUTTON", L"Cancel", WS_CHILD | WS_VISIBLE, SC(170), Y, SC(80), SC(28), IDC_DLG_CANCEL);
  SetWindowPos(Dlg.get(), nullptr, 0, 0, DlgW, Y + SC(66), SWP_NOMOVE | SWP_NOZORDER);

  const bool Ok = RunModalLoop(Root, Dlg.get()) == 1;
  if (Ok)
    for (int32_t F = 0; F < sfCount; ++F)
      Texts[static_cast<size_t>(F)] = GetEditText(Edits[F]);
  return Ok;
}
