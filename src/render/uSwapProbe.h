// Whether a buffer swap reached the screen, judged from pixels: some drivers draw a child
// window's OpenGL frames and never show them, which leaves the drawing area as it was. The
// pixels are 0x??RRGGBB values taken at the same places of the drawing window (the top byte is
// ignored), in the same order in all three lists.
#pragma once

#include <cstdint>
#include <vector>

enum class TSwapVerdict { Unknown, Shown, Lost };

// Before: the screen before the swap; Drawn: the frame that was swapped in; After: the screen
// once the swap has had time to show. Shown when most places where the frame differs from what
// was there now show the frame; Lost when nearly all of them still show the old pixels; Unknown
// when the lists disagree in size, too few places tell the two apart (the frame looks like what
// was there), or the screen shows something else (another window over the drawing area).
TSwapVerdict JudgeSwap(const std::vector<uint32_t> &Before, const std::vector<uint32_t> &Drawn,
                       const std::vector<uint32_t> &After);

// Picks GridW x GridH places evenly spread over a W x H image of 0x??RRGGBB pixels, top row first.
std::vector<uint32_t> SamplePixels(const uint32_t *Pixels, int32_t W, int32_t H, int32_t GridW,
                                   int32_t GridH);
