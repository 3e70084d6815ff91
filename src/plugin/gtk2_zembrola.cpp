// The Linux plug-in's exports (GTK2 hosts): what the file manager calls. Windows handles become
// GTK widgets: the host's container comes in, the viewer's own container goes back. File names
// are UTF-8 (ListLoad) or UTF-16 (ListLoadW) and stay UTF-8 inside.
#include <gtk/gtk.h>

#include "base/uFileStream.h"
#include "base/uLog.h"
#include "base/uText.h"
#include "viewer/gtk2_uViewerWidget.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <typeinfo>

#define ZB_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr char WLX_DETECT_STRING[] =
    "EXT=\"IQ\" | EXT=\"RAW\" | EXT=\"CF32\" | EXT=\"CS8\" | EXT=\"CS16\" | EXT=\"SDRIQ\"";
static_assert(sizeof(WLX_DETECT_STRING) - 1 == 72);

constexpr int LISTPLUGIN_OK = 0;
constexpr int LISTPLUGIN_ERROR = 1;
// ListSendCommand's commands.
constexpr int LC_COPY = 1;
constexpr int LC_NEWPARAMS = 2;
constexpr int LC_SELECTALL = 3;
constexpr int LC_SETPERCENT = 4;

constexpr const char *PROP_FORM = "ZembrolaForm";

double Now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// UTF-16 (the host's 16-bit characters) to UTF-8; an unpaired surrogate makes the name empty,
// since no file can carry it.
std::string Utf16ToUtf8(const uint16_t *W) {
  std::string Out;
  if (!W)
    return Out;
  for (size_t I = 0; W[I]; ++I) {
    uint32_t Cp = W[I];
    if (Cp >= 0xD800 && Cp <= 0xDBFF) {
      const uint32_t Lo = W[I + 1];
      if (Lo < 0xDC00 || Lo > 0xDFFF)
        return {};
      Cp = 0x10000 + ((Cp - 0xD800) << 10) + (Lo - 0xDC00);
      ++I;
    } else if (Cp >= 0xDC00 && Cp <= 0xDFFF) {
      return {};
    }
    AppendUtf8(Out, Cp);
  }
  return Out;
}

TGtkViewer *ViewerOf(void *ListWin) {
  if (!ListWin || !GTK_IS_WIDGET(ListWin))
    return nullptr;
  return static_cast<TGtkViewer *>(g_object_get_data(G_OBJECT(ListWin), PROP_FORM));
}

void *Load(void *ParentWin, const std::string &FN, double T0) noexcept {
  try {
    const bool Exists = FileExists(FN);
    LogFmt("ListLoadW: FN=[%s] Exists=%s", FN, Exists ? "True" : "False");
    if (!Exists) {
      Log("ListLoadW: file not found");
      return nullptr;
    }
    // The viewer belongs to its widgets from here on: it goes when the host destroys them.
    auto *V = new TGtkViewer(static_cast<GtkWidget *>(ParentWin), FN, T0);
    LogFmt("ListLoadW: OK widget=%p", static_cast<void *>(V->Root()));
    return V->Root();
  } catch (const std::exception &E) {
    LogFmt("ListLoadW EXCEPTION %s: %s", typeid(E).name(), E.what());
  } catch (...) {
    Log("ListLoadW EXCEPTION");
  }
  return nullptr;
}

int LoadNext(void *PluginWin, const std::string &FN, double T0) noexcept {
  try {
    TGtkViewer *V = ViewerOf(PluginWin);
    if (!V || !FileExists(FN))
      return LISTPLUGIN_ERROR;
    return V->LoadNext(FN, T0) ? LISTPLUGIN_OK : LISTPLUGIN_ERROR;
  } catch (...) {
    return LISTPLUGIN_ERROR;
  }
}

} // namespace

ZB_EXPORT void ListSetDefaultParams(void *dps) {
  (void)dps;
}

ZB_EXPORT void *ListLoad(void *ParentWin, char *FileToLoad, int ShowFlags) {
  (void)ShowFlags;
  const double T0 = Now();
  try {
    return Load(ParentWin, FileToLoad ? std::string(FileToLoad) : std::string(), T0);
  } catch (...) {
    return nullptr;
  }
}

ZB_EXPORT void *ListLoadW(void *ParentWin, uint16_t *FileToLoad, int ShowFlags) {
  (void)ShowFlags;
  const double T0 = Now();
  try {
    return Load(ParentWin, Utf16ToUtf8(FileToLoad), T0);
  } catch (...) {
    return nullptr;
  }
}

ZB_EXPORT int ListLoadNext(void *ParentWin, void *PluginWin, char *FileToLoad, int ShowFlags) {
  (void)ParentWin;
  (void)ShowFlags;
  const double T0 = Now();
  try {
    return LoadNext(PluginWin, FileToLoad ? std::string(FileToLoad) : std::string(), T0);
  } catch (...) {
    return LISTPLUGIN_ERROR;
  }
}

ZB_EXPORT int ListLoadNextW(void *ParentWin, void *PluginWin, uint16_t *FileToLoad, int ShowFlags) {
  (void)ParentWin;
  (void)ShowFlags;
  const double T0 = Now();
  try {
    return LoadNext(PluginWin, Utf16ToUtf8(FileToLoad), T0);
  } catch (...) {
    return LISTPLUGIN_ERROR;
  }
}

ZB_EXPORT void ListCloseWindow(void *ListWin) {
  Log("ListCloseWindow");
  try {
    if (ViewerOf(ListWin)) {
      g_object_set_data(G_OBJECT(ListWin), PROP_FORM, nullptr);
      gtk_widget_destroy(GTK_WIDGET(ListWin)); // the viewer goes with its widgets
    }
  } catch (...) {
  }
}

ZB_EXPORT int ListGetDetectString(char *DetectString, int MaxLen) {
  if (DetectString && MaxLen > 0) {
    const size_t N = std::min(static_cast<size_t>(MaxLen - 1), sizeof(WLX_DETECT_STRING) - 1);
    std::memcpy(DetectString, WLX_DETECT_STRING, N);
    DetectString[N] = '\0';
  }
  return 0;
}

ZB_EXPORT int ListSendCommand(void *ListWin, int Command, int Parameter) {
  (void)Parameter;
  try {
    TGtkViewer *V = ViewerOf(ListWin);
    if (!V)
      return LISTPLUGIN_ERROR;
    switch (Command) {
    case LC_COPY:
      return V->CopyFrame() ? LISTPLUGIN_OK : LISTPLUGIN_ERROR;
    case LC_NEWPARAMS:  // nothing of the viewer depends on the host's view parameters
    case LC_SELECTALL:  // a frame has no selection
    case LC_SETPERCENT: // the slider is the viewer's own
      return LISTPLUGIN_OK;
    default:
      return LISTPLUGIN_ERROR;
    }
  } catch (...) {
    return LISTPLUGIN_ERROR;
  }
}
