#include "viewer/gtk2_uDialogs.h"

#include "base/uText.h"
#include "viewer/uInfoText.h"
#include "viewer/uSignalModel.h"
#include "viewer/uViewerController.h"
#include "viewer/uViewerCore.h"

#include <string>

namespace {

std::string ToGtk(const std::string &S) {
  return IsValidUtf8(S) ? S : Cp1252ToUtf8(S);
}

GtkWindow *TopOf(GtkWidget *W) {
  GtkWidget *Top = W ? gtk_widget_get_toplevel(W) : nullptr;
  return Top && gtk_widget_is_toplevel(Top) ? GTK_WINDOW(Top) : nullptr;
}

// Shows View scrolled in Dlg's content area and runs Dlg until it is closed; then destroys it.
void RunScrolled(GtkWidget *Dlg, GtkWidget *View) {
  GtkWidget *Scroll = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(Scroll), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
  gtk_container_add(GTK_CONTAINER(Scroll), View);
  gtk_container_set_border_width(GTK_CONTAINER(Scroll), 8);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(Dlg))), Scroll, TRUE, TRUE, 0);
  gtk_widget_show_all(Dlg);
  g_object_ref(Dlg); // still ours to destroy if something destroys it meanwhile
  gtk_dialog_run(GTK_DIALOG(Dlg));
  gtk_widget_destroy(Dlg);
  g_object_unref(Dlg);
}

} // namespace

bool RunSettingsDialog(GtkWidget *Root, TSettingsTexts &Texts) {
  GtkWidget *Dlg = gtk_dialog_new_with_buttons(
      SETTINGS_TITLE, TopOf(Root), static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL), SETTINGS_OK,
      GTK_RESPONSE_OK, SETTINGS_CANCEL, GTK_RESPONSE_CANCEL, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(Dlg), GTK_RESPONSE_OK);
  GtkWidget *Table = gtk_table_new(sfCount, 2, FALSE);
  gtk_container_set_border_width(GTK_CONTAINER(Table), 10);
  gtk_table_set_row_spacings(GTK_TABLE(Table), 6);
  gtk_table_set_col_spacings(GTK_TABLE(Table), 5);
  GtkWidget *Edits[sfCount] = {};
  for (int32_t F = 0; F < sfCount; ++F) {
    const auto R = static_cast<guint>(F);
    GtkWidget *Label = gtk_label_new(SettingsFieldLabel(static_cast<TSettingsField>(F)));
    gtk_misc_set_alignment(GTK_MISC(Label), 0.0f, 0.5f);
    gtk_table_attach(GTK_TABLE(Table), Label, 0, 1, R, R + 1, GTK_FILL, GTK_FILL, 0, 0);
    Edits[F] = gtk_entry_new();
    gtk_entry_set_max_length(GTK_ENTRY(Edits[F]), 255);
    gtk_entry_set_activates_default(GTK_ENTRY(Edits[F]), TRUE);
    gtk_entry_set_text(GTK_ENTRY(Edits[F]), ToGtk(Texts[static_cast<size_t>(F)]).c_str());
    gtk_table_attach(GTK_TABLE(Table), Edits[F], 1, 2, R, R + 1, GTK_FILL, GTK_FILL, 0, 0);
  }
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(Dlg))), Table, TRUE, TRUE, 0);
  gtk_widget_show_all(Dlg);
  g_object_ref(Dlg); // still ours to read and destroy if something destroys it meanwhile
  const bool Ok = gtk_dialog_run(GTK_DIALOG(Dlg)) == GTK_RESPONSE_OK;
  if (Ok)
    for (int32_t F = 0; F < sfCount; ++F)
      Texts[static_cast<size_t>(F)] = gtk_entry_get_text(GTK_ENTRY(Edits[F]));
  gtk_widget_destroy(Dlg);
  g_object_unref(Dlg);
  return Ok;
}

void RunLegendDialog(GtkWidget *Root, const TViewerCore &Core) {
  const TSignalModel &Model = Core.FSignalModel;
  if (Model.FSignalCount <= 0)
    return;
  GtkWidget *Dlg = gtk_dialog_new_with_buttons(LEGEND_TITLE_UTF8, TopOf(Root),
                                               static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL),
                                               LEGEND_CLOSE_UTF8, GTK_RESPONSE_CLOSE, nullptr);
  gtk_window_set_default_size(GTK_WINDOW(Dlg), 900, 480);
  GType Types[LEGEND_COLS];
  for (GType &T : Types)
    T = G_TYPE_STRING;
  GtkListStore *Store = gtk_list_store_newv(LEGEND_COLS, Types);
  const char Sep = Core.FDecimalSep;
  for (int32_t I = 0; I < Model.FSignalCount; ++I) {
    const TSignalInfo &S = Model.FSignals[static_cast<size_t>(I)];
    GtkTreeIter It;
    gtk_list_store_append(Store, &It);
    for (int32_t C = 0; C < LEGEND_COLS; ++C)
      gtk_list_store_set(Store, &It, C, ToGtk(LegendCellText(S, C, Core.FCenterFreq, Sep)).c_str(), -1);
  }
  GtkWidget *View = gtk_tree_view_new_with_model(GTK_TREE_MODEL(Store));
  g_object_unref(Store); // the view holds it now
  gtk_tree_view_set_grid_lines(GTK_TREE_VIEW(View), GTK_TREE_VIEW_GRID_LINES_BOTH);
  for (int32_t C = 0; C < LEGEND_COLS; ++C) {
    GtkCellRenderer *Cell = gtk_cell_renderer_text_new();
    GtkTreeViewColumn *Col = gtk_tree_view_column_new_with_attributes(COLHEADERS[static_cast<size_t>(C)],
                                                                      Cell, "text", C, nullptr);
    gtk_tree_view_column_set_sizing(Col, GTK_TREE_VIEW_COLUMN_FIXED);
    gtk_tree_view_column_set_fixed_width(Col, BASECOLWIDTHS[static_cast<size_t>(C)]);
    gtk_tree_view_column_set_resizable(Col, TRUE);
    gtk_tree_view_append_column(GTK_TREE_VIEW(View), Col);
  }
  RunScrolled(Dlg, View);
}

void RunInfoDialog(GtkWidget *Root, const TViewerCore &Core) {
  GtkWidget *Dlg =
      gtk_dialog_new_with_buttons(INFO_TITLE, TopOf(Root), static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL),
                                  LEGEND_CLOSE_UTF8, GTK_RESPONSE_CLOSE, nullptr);
  gtk_window_set_default_size(GTK_WINDOW(Dlg), 560, 320);
  // Read-only text, so that a path or a rate can be selected and copied.
  std::string Text;
  for (const TInfoRow &R : RecordingInfoRows(Core))
    Text += ToGtk(R.Label) + ": " + ToGtk(R.Value) + "\n";
  GtkWidget *View = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(View), FALSE);
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(View)), Text.c_str(), -1);
  RunScrolled(Dlg, View);
}

bool RunSaveDialog(GtkWidget *Root, const std::string &Folder, const std::string &Suggested,
                   const std::vector<uint8_t> &Bytes, std::string &Saved, std::string &Why) {
  Why.clear();
  GtkWidget *Dlg =
      gtk_file_chooser_dialog_new("Save As", TopOf(Root), GTK_FILE_CHOOSER_ACTION_SAVE, GTK_STOCK_CANCEL,
                                  GTK_RESPONSE_CANCEL, GTK_STOCK_SAVE, GTK_RESPONSE_ACCEPT, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(Dlg), GTK_RESPONSE_ACCEPT);
  gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(Dlg), TRUE);
  if (!Folder.empty())
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(Dlg), Folder.c_str());
  gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(Dlg), ToGtk(Suggested).c_str());
  GtkFileFilter *Png = gtk_file_filter_new();
  gtk_file_filter_set_name(Png, "PNG (*.png)");
  gtk_file_filter_add_pattern(Png, "*.png");
  gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(Dlg), Png); // the chooser owns it now
  gtk_widget_show_all(Dlg);
  g_object_ref(Dlg);
  std::string Path;
  if (gtk_dialog_run(GTK_DIALOG(Dlg)) == GTK_RESPONSE_ACCEPT)
    if (gchar *F = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(Dlg))) {
      Path = F;
      g_free(F);
    }
  gtk_widget_destroy(Dlg);
  g_object_unref(Dlg);
  if (Path.empty())
    return false;
  GError *Err = nullptr;
  // Written to a temporary file and renamed, so that a failed write leaves no half a picture.
  if (!g_file_set_contents(Path.c_str(), reinterpret_cast<const gchar *>(Bytes.data()),
                           static_cast<gssize>(Bytes.size()), &Err)) {
    Why = "cannot write " + Path + (Err ? std::string(": ") + Err->message : std::string());
    if (Err)
      g_error_free(Err);
    return false;
  }
  Saved = Path;
  return true;
}
