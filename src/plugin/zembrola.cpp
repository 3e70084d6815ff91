// The plug-in's exports: what the file manager calls.
#include <windows.h>

#include "base/uFileStream.h"
#include "base/uGlobals.h"
#include "base/uLog.h"
#include "base/win32_uPath.h"
#include "thumbnail/win32_uThumbnail.h"
#include "viewer/uWindowFill.h"
#include "viewer/win32_uViewerForm.h"

#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <typeinfo>

namespace {
constexpr int LISTPLUGIN_OK = 0;
constexpr int LISTPLUGIN_ERROR = 1;
// ListSendCommand's commands.
constexpr int lc_copy = 1;
constexpr int lc_newparams = 2;
constexpr int lc_selectall = 3;
constexpr int lc_setpercent = 4;

// How long unloading waits for a fill's workers to finish the piece they are on.
constexpr double UNLOAD_FILL_WAIT_S = 1.0;

constexpr char WLX_DETECT_STRING[] =
    "EXT=\"IQ\" | EXT=\"RAW\" | EXT=\"CF32\" | EXT=\"CS8\" | EXT=\"CS16\" | EXT=\"SDRIQ\"";
static_assert(sizeof(WLX_DETECT_STRING) - 1 == 72);
} // namespace

wchar_t GDllPath[261] = {};

BOOL WINAPI DllMain(HINSTANCE Inst, DWORD Reason, LPVOID Reserved) {
  if (Reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(Inst);
    // Only the module path and the (inert) log here: anything heavier waits for the first
    // export call, outside the loader lock.
    GetModuleFileNameW(Inst, GDllPath, 260);
    LogInit(TcPathToString(GDllPath));
    Log("DLL loaded (begin block)");
  } else if (Reason == DLL_PROCESS_DETACH) {
    GProcessDetach = true;
    // FreeLibrary while a viewer is still open (the host closes its viewers first; this is the
    // last line): its fill's workers must be out of this code before it is unmapped. They are
    // cancelled and waited for, briefly, but not joined: a thread's exit takes the loader lock,
    // which this thread holds. At process exit (Reserved set) the other threads are gone already.
    if (Reserved == nullptr && !CancelAllWindowFills(UNLOAD_FILL_WAIT_S))
      Log("DLL unloaded with a window fill still reading");
  }
  return TRUE;
}

extern "C" {

void WINAPI ListSetDefaultParams(void *dps) {
  (void)dps;
}

HBITMAP WINAPI ListGetPreviewBitmap(char *FileToLoad, int Width, int Height, char *, int) {
  return PreviewBitmapA(FileToLoad, Width, Height);
}

HBITMAP WINAPI ListGetPreviewBitmapW(WCHAR *FileToLoad, int Width, int Height, char *, int) {
  return PreviewBitmapW(FileToLoad, Width, Height);
}

HWND WINAPI ListLoadW(HWND ParentWin, WCHAR *FileToLoad, int ShowFlags) {
  (void)ShowFlags;
  HWND Result = nullptr;
  try {
    const std::string FN = TcPathToString(FileToLoad);
    const bool exists = FileExists(FN);
    LogFmt("ListLoadW: FN=[%s] Exists=%s", FN, exists ? "True" : "False");
    if (!exists) {
      Log("ListLoadW: file not found");
      return nullptr;
    }
    auto Form = std::make_unique<TViewerForm>(ParentWin, FN);
    LogFmt("ListLoadW: TViewerForm created RootWnd=%d", Form->RootWnd());
    if (Form->RootWnd() == nullptr) {
      Log("ListLoadW: RootWnd=0");
      return nullptr;
    }
    if (!SetPropW(Form->RootWnd(), PROP_FORM, Form.get())) {
      // Without the binding the host could never close it: give up now instead of leaking.
      Log("ListLoadW: SetProp failed");
      return nullptr;
    }
    // From here the window property owns the viewer; ListCloseWindow takes it back.
    Result = Form.release()->RootWnd();
    LogFmt("ListLoadW: OK HWND=%d", Result);
  } catch (const std::exception &e) {
    LogFmt("ListLoadW EXCEPTION %s: %s", typeid(e).name(), e.what());
    Result = nullptr;
  } catch (...) {
    LogFmt("ListLoadW EXCEPTION %s: %s", "unknown", "");
    Result = nullptr;
  }
  return Result;
}

HWND WINAPI ListLoad(HWND ParentWin, char *FileToLoad, int ShowFlags) {
  try {
    std::wstring W = AnsiToWide(FileToLoad);
    return ListLoadW(ParentWin, W.data(), ShowFlags);
  } catch (...) {
    // Only the conversion can fail here (allocation); ListLoadW catches its own.
    return nullptr;
  }
}

void WINAPI ListCloseWindow(HWND ListWin) {
  Log("ListCloseWindow");
  if (GProcessDetach)
    return;
  auto *Form = static_cast<TViewerForm *>(GetPropW(ListWin, PROP_FORM));
  if (Form == nullptr)
    return;
  RemovePropW(ListWin, PROP_FORM);
  const std::unique_ptr<TViewerForm> Owned(Form); // freed here; the destructor never throws
}

int WINAPI ListLoadNextW(HWND ParentWin, HWND ListWin, WCHAR *FileToLoad, int ShowFlags) {
  (void)ParentWin;
  (void)ShowFlags;
  try {
    if (GProcessDetach)
      return LISTPLUGIN_ERROR;
    auto *Form = static_cast<TViewerForm *>(GetPropW(ListWin, PROP_FORM));
    const std::string FN = TcPathToString(FileToLoad);
    const bool exists = FileExists(FN);
    LogFmt("ListLoadNextW: FN=[%s] Exists=%s", FN, exists ? "True" : "False");
    // The host closes the viewer and loads the file anew when this one cannot show it.
    if (Form == nullptr || !exists)
      return LISTPLUGIN_ERROR;
    return Form->LoadNext(FN) ? LISTPLUGIN_OK : LISTPLUGIN_ERROR;
  } catch (...) {
    return LISTPLUGIN_ERROR;
  }
}

int WINAPI ListLoadNext(HWND ParentWin, HWND ListWin, char *FileToLoad, int ShowFlags) {
  try {
    std::wstring W = AnsiToWide(FileToLoad);
    return ListLoadNextW(ParentWin, ListWin, W.data(), ShowFlags);
  } catch (...) {
    return LISTPLUGIN_ERROR;
  }
}

int WINAPI ListSendCommand(HWND ListWin, int Command, int Parameter) {
  (void)Parameter;
  try {
    auto *Form = static_cast<TViewerForm *>(GetPropW(ListWin, PROP_FORM));
    if (Form == nullptr || GProcessDetach)
      return LISTPLUGIN_ERROR;
    switch (Command) {
    case lc_copy:
      return Form->CopyFrameToClipboard() ? LISTPLUGIN_OK : LISTPLUGIN_ERROR;
    case lc_newparams:  // nothing of the viewer depends on the host's view parameters
    case lc_selectall:  // a frame has no selection
    case lc_setpercent: // the slider is the viewer's own
      return LISTPLUGIN_OK;
    default:
      return LISTPLUGIN_ERROR;
    }
  } catch (...) {
    return LISTPLUGIN_ERROR;
  }
}

int WINAPI ListGetDetectString(char *DetectString, int MaxLen) {
  if (DetectString != nullptr && MaxLen > 0) {
    const size_t n = std::min(static_cast<size_t>(MaxLen - 1), sizeof(WLX_DETECT_STRING) - 1);
    std::memcpy(DetectString, WLX_DETECT_STRING, n);
    DetectString[n] = '\0';
  }
  return 0;
}

} // extern "C"
