// The viewer's modal dialogs as GTK dialogs: settings and legend. Their rows, texts and rules
// come from the core; these only show them.
#pragma once

#include <gtk/gtk.h>

#include "viewer/uViewerSettings.h"

class TViewerCore;

// The settings dialog over Root's window, opened with Texts; on OK, Texts holds what the user
// entered and the result is true. False when cancelled or closed.
bool RunSettingsDialog(GtkWidget *Root, TSettingsTexts &Texts);

// The legend of Core's signals over Root's window; returns when it is closed.
void RunLegendDialog(GtkWidget *Root, const TViewerCore &Core);
