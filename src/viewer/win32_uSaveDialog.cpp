#include "viewer/win32_uSaveDialog.h"

#include "base/win32_uHandles.h"
#include "base/win32_uPath.h"

#include <commdlg.h>

namespace {

using TGetSaveFileNameW = BOOL(WINAPI *)(LPOPENFILENAMEW);
using TCommDlgExtendedError = DWORD(WINAPI *)();

// The dialog's entry points, looked up rather than imported so that the plug-in loads where the
// host's system lacks comdlg32. The module stays loaded for the process: the dialog's code may
// be in use by a later dialog.
struct TDialogEntries {
  TGetSaveFileNameW Ask = nullptr;
  TCommDlgExtendedError LastError = nullptr;
};

const TDialogEntries &DialogEntries() {
  static const TDialogEntries Entries = [] {
    TDialogEntries E;
    if (HMODULE M = LoadLibraryW(L"comdlg32.dll")) {
      E.Ask = reinterpret_cast<TGetSaveFileNameW>(
          reinterpret_cast<void *>(GetProcAddress(M, "GetSaveFileNameW")));
      E.LastError = reinterpret_cast<TCommDlgExtendedError>(
          reinterpret_cast<void *>(GetProcAddress(M, "CommDlgExtendedError")));
    }
    return E;
  }();
  return Entries;
}

} // namespace

bool SaveBytesWithDialog(HWND Owner, const std::string &Folder, const std::string &Suggested,
                         const std::vector<uint8_t> &Bytes, std::string &Saved, std::string &Why) {
  Why.clear();
  const TDialogEntries &Dlg = DialogEntries();
  if (!Dlg.Ask) {
    Why = "no save dialog on this system";
    return false;
  }
  std::wstring Name = CodePageToWide(CP_UTF8, Suggested);
  Name.resize(32768, L'\0');
  const std::wstring Dir = CodePageToWide(CP_UTF8, Folder);
  OPENFILENAMEW Ofn{};
  Ofn.lStructSize = sizeof(Ofn);
  Ofn.hwndOwner = Owner;
  Ofn.lpstrFilter = L"PNG (*.png)\0*.png\0";
  Ofn.lpstrFile = Name.data();
  Ofn.nMaxFile = static_cast<DWORD>(Name.size());
  Ofn.lpstrInitialDir = Dir.empty() ? nullptr : Dir.c_str();
  Ofn.lpstrDefExt = L"png";
  Ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (!Dlg.Ask(&Ofn)) {
    if (Dlg.LastError && Dlg.LastError() != 0)
      Why = "the save dialog failed";
    return false;
  }
  const wchar_t *Path = Name.c_str();
  HANDLE Raw = CreateFileW(Path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  const unique_handle H(Raw == INVALID_HANDLE_VALUE ? nullptr : Raw);
  if (!H) {
    Why = "cannot create " + TcPathToString(Path);
    return false;
  }
  DWORD Done = 0;
  const bool Ok = WriteFile(H.get(), Bytes.data(), static_cast<DWORD>(Bytes.size()), &Done, nullptr) &&
                  Done == Bytes.size();
  if (!Ok) {
    Why = "cannot write " + TcPathToString(Path);
    return false;
  }
  Saved = TcPathToString(Path);
  return true;
}
