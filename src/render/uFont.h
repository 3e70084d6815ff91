// Built-in 5 x 7 bitmap font of the renderer and its number formatter.
#pragma once

#include <cstdint>
#include <string>

inline constexpr int32_t CW = 5;      // glyph columns
inline constexpr int32_t CHAR_H = 7;  // glyph rows
inline constexpr int32_t FONT_W = 7;  // advance from one character to the next
inline constexpr int32_t FONT_H = 12; // line height callers reserve

// The seven row bytes of Ch's glyph, top row first, bit 4 = leftmost column; null when the
// character has no glyph (it then draws nothing but still takes its advance).
const uint8_t *FontGlyph(unsigned char Ch);

// V in fixed-point with exactly Dec decimals and "." as separator whatever the locale;
// no point when Dec is 0, a leading "-" for negative values.
std::string Fmtf(double V, int32_t Dec);
