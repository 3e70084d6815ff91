#include "viewer/win32_uLegendDialog.h"

#include <commctrl.h>

#include "base/uLog.h"
#include "base/win32_uHandles.h"
#include "base/win32_uModule.h"
#include "base/win32_uPath.h"
#include "viewer/uViewerCore.h"
#include "viewer/win32_uDialogs.h"
#include "viewer/win32_uInfoDialog.h"
#include "viewer/win32_uViewerForm.h"

#include <cmath>
#include <string>

namespace {

// An empty text still goes as a pointer to an empty string, never as null.
void SetCell(HWND List, int32_t Row, int32_t Col, const std::string &Text) {
  std::wstring W = TextToWide(Text);
  LVITEMW It{};
  It.mask = LVIF_TEXT;
  It.iItem = Row;
  It.iSubItem = Col;
  It.pszText = W.data();
  SendMessageW(List, LVM_SETITEMTEXTW, static_cast<WPARAM>(Row), reinterpret_cast<LPARAM>(&It));
}

// The legend runs on the shared dialog procedure; its "Info" button is answered here and the
// rest passed on.
constexpr WORD IDC_LEGEND_INFO = 2101;
constexpr const wchar_t *PROP_LEGEND_CORE = L"ZembrolaLegendCore";
WNDPROC GDlgProc = nullptr;

LRESULT CALLBACK LegendWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  if (Msg == WM_COMMAND && LOWORD(WParam) == IDC_LEGEND_INFO) {
    if (const auto *Core = static_cast<const TViewerCore *>(GetPropW(Wnd, PROP_LEGEND_CORE)))
      ShowInfoDialog(Wnd, *Core);
    return 0;
  }
  if (Msg == WM_NCDESTROY)
    RemovePropW(Wnd, PROP_LEGEND_CORE);
  return CallWindowProcW(GDlgProc, Wnd, Msg, WParam, LParam);
}

} // namespace

void ShowLegendDialog(HWND Root, const TViewerCore &Core) {
  const TSignalModel &Model = Core.FSignalModel;
  if (Model.FSignalCount <= 0)
    return;
  const double Scale = GetDpiScaleFor(Root);
  // Every size is given at 96 dots per inch and rounded on its own, halves to even.
  const auto SC = [Scale](int32_t V) { return static_cast<int32_t>(std::nearbyint(V * Scale)); };
  const int32_t DlgW = SC(BASE_DLG_W), DlgH = SC(BASE_DLG_H);
  TActCtxActivation Actctx;
  Log("ShowLegendDialog: creating DlgWnd");
  const TKeepViewerFocus Keep(Root); // outlives the dialog, whose end activates the host
  const unique_hwnd Dlg = CreateDialogOver(Root, LEGEND_TITLE, DlgW, DlgH, "ShowLegendDialog");
  if (!Dlg)
    return;

  const int32_t M = SC(8);
  HWND List =
      CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL,
                      M, M, DlgW - 3 * M, DlgH - SC(80), Dlg.get(), nullptr, ThisModule(), nullptr);
  SendMessageW(List, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  for (int32_t C = 0; C < LEGEND_COLS; ++C) {
    std::wstring Title = TextToWide(COLHEADERS[static_cast<size_t>(C)]);
    LVCOLUMNW Col{};
    Col.mask = LVCF_WIDTH | LVCF_TEXT;
    Col.cx = SC(BASECOLWIDTHS[static_cast<size_t>(C)]);
    Col.pszText = Title.data();
    SendMessageW(List, LVM_INSERTCOLUMNW, static_cast<WPARAM>(C), reinterpret_cast<LPARAM>(&Col));
  }
  const char Sep = Core.FDecimalSep;
  for (int32_t I = 0; I < Model.FSignalCount; ++I) {
    const TSignalInfo &S = Model.FSignals[static_cast<size_t>(I)];
    std::wstring First = TextToWide(LegendCellText(S, 0, Core.FCenterFreq, Sep));
    LVITEMW It{};
    It.mask = LVIF_TEXT;
    It.iItem = I;
    It.pszText = First.data();
    SendMessageW(List, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&It));
    for (int32_t C = 1; C < LEGEND_COLS; ++C)
      SetCell(List, I, C, LegendCellText(S, C, Core.FCenterFreq, Sep));
  }
  const int32_t BtnW = SC(BASE_BTN_W);
  CreateWindowExW(0, L"BUTTON", L"Schlie\u00DFen", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON,
                  (DlgW - BtnW) / 2, DlgH - SC(56), BtnW, SC(BASE_BTN_H), Dlg.get(),
                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_DLG_CANCEL)), ThisModule(), nullptr);
  CreateWindowExW(0, L"BUTTON", L"Info", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, DlgW - 2 * M - BtnW,
                  DlgH - SC(56), BtnW, SC(BASE_BTN_H), Dlg.get(),
                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_LEGEND_INFO)), ThisModule(), nullptr);
  SetPropW(Dlg.get(), PROP_LEGEND_CORE, const_cast<TViewerCore *>(&Core));
  GDlgProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(Dlg.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LegendWndProc)));

  RunModalLoop(Root, Dlg.get());
}
