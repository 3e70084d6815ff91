// Presenting a rendered OpenGL frame through GDI: the back buffer is read into memory and put
// on the window with SetDIBitsToDevice. Wine (Debian 12's 8.0 among others) renders a child
// window's OpenGL frames but never shows them on screen: the window's DC has no drawable of its
// own there, so the buffer swap's copy goes nowhere. Real Windows drivers present through
// SwapBuffers and never take this path.
#pragma once

#include <windows.h>

#include "render/uSwapProbe.h"

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

// Watches the first buffer swaps of a drawing window where GdiPresentNeeded() says nothing: the
// screen just before each swap shows whether the previous frame got there. It looks at a few
// frames at most and stops at the first clear answer; Lost means that frames must go through
// GDI from then on. Frames that follow a watched one closely are let through unwatched.
class TSwapProbe {
public:
  bool Active() const { return FFramesLeft > 0; }
  // Call just before SwapBuffers, with the frame (W x H) in the current context's back buffer.
  TSwapVerdict BeforeSwap(HWND Wnd, int32_t W, int32_t H);

private:
  int32_t FFramesLeft = 8;
  int32_t FW = 0, FH = 0;        // size of the recorded frame
  uint64_t FRecordedAt = 0;      // when it was recorded (milliseconds since start-up)
  std::vector<uint32_t> FBefore; // the screen before the previous swap, sampled
  std::vector<uint32_t> FDrawn;  // the previous frame, sampled the same way
};
