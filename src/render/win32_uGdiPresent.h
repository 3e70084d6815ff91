// Presenting a rendered OpenGL frame through GDI: the back buffer is read into memory and put
// on the window with SetDIBitsToDevice. Wine (Debian 12's 8.0 among others) renders a child
// window's OpenGL frames but never shows them on screen: the window's DC has no drawable of its
// own there, so the buffer swap's copy goes nowhere. Real Windows drivers present through
// SwapBuffers and never take this path.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

// Whether frames of child windows must be presented through GDI in this process: under Wine
// (its ntdll exports wine_get_version). Decided once.
bool GdiPresentNeeded();

class TGdiPresenter {
public:
  // Reads the current context's back buffer (W x H from the bottom-left corner) and draws it
  // at the top-left of DC. False when the read-back entry point is missing or the blit failed.
  bool Present(HDC DC, int32_t W, int32_t H);

private:
  std::vector<uint8_t> FPixels; // BGRA, bottom row first, as OpenGL returns it
};
