// Preview bitmaps for the host: the Win32 side of the thumbnail painter.
#pragma once

#include <windows.h>

// Bodies of the two preview exports. Never throw; 0 when no preview was made.
HBITMAP PreviewBitmapW(const wchar_t *FileToLoad, int Width, int Height);
HBITMAP PreviewBitmapA(const char *FileToLoad, int Width, int Height);
