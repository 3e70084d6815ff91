// Built-in font: glyph bitmaps against hand-drawn references, the set of characters with a
// glyph, and the locale-independent number formatter.
#include "render/uFont.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

namespace {

// Rows top to bottom, '#' = set pixel.
std::vector<std::string> Art(unsigned char Ch) {
  std::vector<std::string> Out;
  const uint8_t *G = FontGlyph(Ch);
  if (!G)
    return Out;
  for (int r = 0; r < CHAR_H; ++r) {
    std::string Row;
    for (int c = 0; c < CW; ++c)
      Row += (G[r] & (0x10 >> c)) ? '#' : '.';
    Out.push_back(Row);
  }
  return Out;
}

TEST(Font, GlyphsMatchHandDrawnBitmaps) {
  struct Case {
    unsigned char Ch;
    std::vector<std::string> Rows;
  };
  const Case Cases[] = {
      {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
      {'g', {".....", ".....", ".####", "#...#", ".####", "....#", ".###."}},
      {'A', {"..#..", ".#.#.", "#...#", "#...#", "#####", "#...#", "#...#"}},
      {'\\', {"#....", "#....", ".#...", "..#..", "...#.", "....#", "....#"}},
      {'|', {"..#..", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
      {'t', {"..#..", "..#..", "#####", "..#..", "..#..", "..#..", "...##"}},
      {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
      {' ', {".....", ".....", ".....", ".....", ".....", ".....", "....."}},
  };
  for (const Case &C : Cases)
    EXPECT_EQ(Art(C.Ch), C.Rows) << "glyph '" << C.Ch << "'";
}

TEST(Font, ExactlyTheDocumentedCharactersHaveGlyphs) {
  const std::string WithGlyph =
      " !()+,-./0123456789:;<=>?ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]_abcdefghijklmnopqrstuvwxyz|";
  ASSERT_EQ(WithGlyph.size(), 82u);
  int Count = 0;
  for (int b = 0; b < 256; ++b) {
    const uint8_t *G = FontGlyph(static_cast<unsigned char>(b));
    const bool Expected = WithGlyph.find(static_cast<char>(b)) != std::string::npos && b != 0;
    EXPECT_EQ(G != nullptr, Expected) << "byte " << b;
    if (G) {
      ++Count;
      for (int r = 0; r < CHAR_H; ++r)
        EXPECT_EQ(G[r] & 0xE0, 0) << "byte " << b << " row " << r;
    }
  }
  EXPECT_EQ(Count, 82);
  for (unsigned char Ch : std::string("\"#$%&'*@^`{}~"))
    EXPECT_EQ(FontGlyph(Ch), nullptr) << Ch;
}

TEST(Font, FmtfFixedPointWithDot) {
  struct Case {
    double V;
    int Dec;
    const char *Want;
  };
  const Case Cases[] = {
      {433.92, 3, "433.920"},
      {2.0, 0, "2"},
      {-9.0, 0, "-9"},
      {0.2, 2, "0.20"},
      {2.5, 0, "2"},
      {3.5, 0, "4"},
      {0.125, 2, "0.12"},
      {1234567.891, 1, "1234567.9"},
      {-2.25, 1, "-2.2"},
      {60.0, 1, "60.0"},
      {1e15, 0, "1000000000000000"},
      {0.0, 2, "0.00"},
      {2400.6, 0, "2401"},
      {7.0, -3, "7"},
  };
  for (const Case &C : Cases)
    EXPECT_EQ(Fmtf(C.V, C.Dec), C.Want) << C.V << " with " << C.Dec;
}

TEST(Font, FmtfIgnoresTheLocale) {
  const char *Old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string Saved = Old ? Old : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "German_Germany.1252"))
    GTEST_SKIP() << "no locale with a decimal comma";
  const std::string S = Fmtf(433.92, 3);
  std::setlocale(LC_NUMERIC, Saved.c_str());
  EXPECT_EQ(S, "433.920");
}

} // namespace
