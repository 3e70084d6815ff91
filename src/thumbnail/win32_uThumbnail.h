// Preview bitmaps for the host: the Win32 side of the thumbnail painter.
#pragma once

#include <windows.h>

#include <string>

// The preview of a recording as a 24-bit bottom-up DIB section of Width x Height pixels, or 0
// when none is made. Never throws; the caller owns the bitmap.
HBITMAP GenerateThumbnail(const std::string &FileName, int Width, int Height);

// Bodies of the two preview exports. Never throw; 0 when no preview was made.
HBITMAP PreviewBitmapW(const wchar_t *FileToLoad, int Width, int Height);
HBITMAP PreviewBitmapA(const char *FileToLoad, int Width, int Height);
