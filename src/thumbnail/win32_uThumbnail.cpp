#include "thumbnail/win32_uThumbnail.h"

// Placeholder until the thumbnail painter lands.
HBITMAP PreviewBitmapW(const wchar_t *, int, int) { return nullptr; }
HBITMAP PreviewBitmapA(const char *, int, int) { return nullptr; }
