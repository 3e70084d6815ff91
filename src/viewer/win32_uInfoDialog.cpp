#include "viewer/win32_uInfoDialog.h"

#include "base/uLog.h"
#include "base/win32_uHandles.h"
#include "base/win32_uModule.h"
#include "base/win32_uPath.h"
#include "viewer/uInfoText.h"
#include "viewer/win32_uDialogs.h"
#include "viewer/win32_uViewerForm.h"

#include <cmath>
#include <string>

void ShowInfoDialog(HWND Owner, const TViewerCore &Core) {
  const double Scale = GetDpiScaleFor(Owner);
  const auto SC = [Scale](int32_t V) { return static_cast<int32_t>(std::nearbyint(V * Scale)); };
  const int32_t DlgW = SC(BASE_INFO_W), DlgH = SC(BASE_INFO_H);
  TActCtxActivation Actctx;
  const std::wstring Title = TextToWide(INFO_TITLE);
  const TKeepViewerFocus Keep(Owner); // outlives the dialog, whose end activates the host
  const unique_hwnd Dlg = CreateDialogOver(Owner, Title.c_str(), DlgW, DlgH, "ShowInfoDialog");
  if (!Dlg)
    return;
  // A read-only edit control, so that a path or a rate can be selected and copied.
  const int32_t M = SC(8);
  const std::wstring Text = TextToWide(RecordingInfoText(Core));
  CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", Text.c_str(),
                  WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, M, M,
                  DlgW - 3 * M, DlgH - SC(88), Dlg.get(), nullptr, ThisModule(), nullptr);
  const int32_t BtnW = SC(100);
  CreateWindowExW(0, L"BUTTON", L"Schlie\u00DFen", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON,
                  (DlgW - BtnW) / 2, DlgH - SC(64), BtnW, SC(28), Dlg.get(),
                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_DLG_CANCEL)), ThisModule(), nullptr);
  RunModalLoop(Owner, Dlg.get());
}
