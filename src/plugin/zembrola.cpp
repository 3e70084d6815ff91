#include <windows.h>

#include "thumbnail/win32_uThumbnail.h"
extern "C" {
void WINAPI ListSetDefaultParams(void *) {}
HBITMAP WINAPI ListGetPreviewBitmap(char *F, int W, int H, char *, int) { return PreviewBitmapA(F, W, H); }
HBITMAP WINAPI ListGetPreviewBitmapW(WCHAR *F, int W, int H, char *, int) { return PreviewBitmapW(F, W, H); }
void WINAPI ListCloseWindow(HWND) {}
HWND WINAPI ListLoad(HWND, char *, int) { return nullptr; }
HWND WINAPI ListLoadW(HWND, WCHAR *, int) { return nullptr; }
int WINAPI ListGetDetectString(char *, int) { return 0; }
}
