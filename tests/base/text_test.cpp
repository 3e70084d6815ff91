#include "base/uText.h"

#include <gtest/gtest.h>

// File names go to the wide file functions through this conversion: every script must arrive
// intact, and anything malformed must name no file rather than a different one.
TEST(Utf8ToUtf16, ConvertsWellFormedAndRefusesTheRest) {
  struct {
    const char *In;
    std::u16string Want;
    bool Ok;
  } const Cases[] = {
      {"", u"", true},
      {"C:\\rec\\a.cs16", u"C:\\rec\\a.cs16", true},
      {"\xD0\xB7\xD0\xB0\xD0\xBF\xD0\xB8\xD1\x81\xD1\x8C", u"\u0437\u0430\u043f\u0438\u0441\u044c", true},
      {"\xE9\x8C\xB2\xE9\x9F\xB3", u"\u9332\u97f3", true},
      {"\xF0\x9F\x93\xA1", u"\U0001F4E1", true},                   // outside the BMP: a surrogate pair
      {"\xEF\xBF\xBF\xF4\x8F\xBF\xBF", u"\uFFFF\U0010FFFF", true}, // the ends of both ranges
      {"a\xE9.iq", u"", false},                                    // a cp1252 byte, not UTF-8
      {"\xC0\xAF", u"", false},                                    // overlong '/'
      {"\xED\xA0\x80", u"", false},                                // an encoded surrogate
      {"\xF4\x90\x80\x80", u"", false},                            // past U+10FFFF
      {"ab\xE9\x8C", u"", false},                                  // cut short
  };
  for (const auto &C : Cases) {
    std::u16string Out = u"junk";
    EXPECT_EQ(Utf8ToUtf16(C.In, Out), C.Ok) << C.In;
    EXPECT_EQ(Out, C.Want) << C.In;
  }
}
