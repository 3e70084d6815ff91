// The viewer's modal dialogs as GTK dialogs: settings and legend. Their rows, texts and rules
// come from the core; these only show them.
#pragma once

#include <gtk/gtk.h>

#include "viewer/uViewerSettings.h"

#include <cstdint>
#include <string>
#include <vector>

class TViewerCore;

// The settings dialog over Root's window, opened with Texts; on OK, Texts holds what the user
// entered and the result is true. False when cancelled or closed.
bool RunSettingsDialog(GtkWidget *Root, TSettingsTexts &Texts);

// The legend of Core's signals over Root's window; returns when it is closed.
void RunLegendDialog(GtkWidget *Root, const TViewerCore &Core);

// The information box about Core's recording over Root's window; returns when it is closed.
void RunInfoDialog(GtkWidget *Root, const TViewerCore &Core);

// Asks where to save Bytes (Suggested offered in Folder, an existing file only after the user
// agrees to replace it) and writes them there. False when cancelled (Why empty) or when the
// file cannot be written (Why says so); Saved: the path written.
bool RunSaveDialog(GtkWidget *Root, const std::string &Folder, const std::string &Suggested,
                   const std::vector<uint8_t> &Bytes, std::string &Saved, std::string &Why);
