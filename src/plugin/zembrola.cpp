#include <windows.h>
extern "C" {
void WINAPI ListSetDefaultParams(void *) {}
HBITMAP WINAPI ListGetPreviewBitmap(char *, int, int, char *, int) { return nullptr; }
HBITMAP WINAPI ListGetPreviewBitmapW(WCHAR *, int, int, char *, int) { return nullptr; }
void WINAPI ListCloseWindow(HWND) {}
HWND WINAPI ListLoad(HWND, char *, int) { return nullptr; }
HWND WINAPI ListLoadW(HWND, WCHAR *, int) { return nullptr; }
int WINAPI ListGetDetectString(char *, int) { return 0; }
}
