// The save dialog of the frame export: the common "Save As" dialog, loaded from comdlg32 when
// first needed (the plug-in imports only the system libraries every viewer loads anyway).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Asks for a PNG file name (offering Suggested in Folder) and writes Bytes there. False when the
// user cancels (Why empty) or the dialog or the write fails (Why says which). Saved: the name
// written, UTF-8.
bool SaveBytesWithDialog(HWND Owner, const std::string &Folder, const std::string &Suggested,
                         const std::vector<uint8_t> &Bytes, std::string &Saved, std::string &Why);
