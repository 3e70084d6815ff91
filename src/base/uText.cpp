#include "base/uText.h"

#include <cstdint>

void AppendUtf8(std::string &Out, uint32_t Cp) {
  if (Cp < 0x80) {
    Out += static_cast<char>(Cp);
  } else if (Cp < 0x800) {
    Out += static_cast<char>(0xC0 | (Cp >> 6));
    Out += static_cast<char>(0x80 | (Cp & 0x3F));
  } else if (Cp < 0x10000) {
    Out += static_cast<char>(0xE0 | (Cp >> 12));
    Out += static_cast<char>(0x80 | ((Cp >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Cp & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (Cp >> 18));
    Out += static_cast<char>(0x80 | ((Cp >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((Cp >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Cp & 0x3F));
  }
}

namespace {

// Code points of the bytes 0x80..0x9F; 0xA0..0xFF equal their code points.
constexpr uint16_t CP1252_HIGH[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Length of the well-formed UTF-8 sequence at S[I], 0 when there is none.
size_t Utf8SeqLen(const std::string &S, size_t I) {
  const auto B = [&](size_t K) { return static_cast<unsigned char>(S[K]); };
  const unsigned char C = B(I);
  if (C < 0x80)
    return 1;
  size_t Len;
  uint32_t Cp;
  if (C >= 0xC2 && C <= 0xDF) {
    Len = 2;
    Cp = C & 0x1F;
  } else if (C >= 0xE0 && C <= 0xEF) {
    Len = 3;
    Cp = C & 0x0F;
  } else if (C >= 0xF0 && C <= 0xF4) {
    Len = 4;
    Cp = C & 0x07;
  } else {
    return 0;
  }
  if (I + Len > S.size())
    return 0;
  for (size_t K = 1; K < Len; ++K) {
    if ((B(I + K) & 0xC0) != 0x80)
      return 0;
    Cp = (Cp << 6) | (B(I + K) & 0x3F);
  }
  if ((Len == 3 && (Cp < 0x800 || (Cp >= 0xD800 && Cp <= 0xDFFF))) ||
      (Len == 4 && (Cp < 0x10000 || Cp > 0x10FFFF)))
    return 0;
  return Len;
}

} // namespace

bool IsValidUtf8(const std::string &S) {
  for (size_t I = 0; I < S.size();) {
    const size_t L = Utf8SeqLen(S, I);
    if (L == 0)
      return false;
    I += L;
  }
  return true;
}

std::string Cp1252ToUtf8(const std::string &S) {
  std::string Out;
  Out.reserve(S.size());
  for (char Ch : S) {
    const unsigned char C = static_cast<unsigned char>(Ch);
    AppendUtf8(Out, C >= 0x80 && C < 0xA0 ? CP1252_HIGH[C - 0x80] : C);
  }
  return Out;
}

std::string Latin1ToUtf8(const std::string &S) {
  std::string Out;
  Out.reserve(S.size());
  for (char Ch : S)
    AppendUtf8(Out, static_cast<unsigned char>(Ch));
  return Out;
}

std::string Utf8Repaired(const std::string &S) {
  std::string Out;
  Out.reserve(S.size());
  for (size_t I = 0; I < S.size();) {
    const size_t L = Utf8SeqLen(S, I);
    if (L == 0) {
      Out += "\xEF\xBF\xBD";
      ++I;
    } else {
      Out.append(S, I, L);
      I += L;
    }
  }
  return Out;
}

bool Utf8ToUtf16(const std::string &S, std::u16string &Out) {
  Out.clear();
  Out.reserve(S.size());
  for (size_t I = 0; I < S.size();) {
    const size_t L = Utf8SeqLen(S, I);
    if (L == 0) {
      Out.clear();
      return false;
    }
    const auto B = [&](size_t K) { return static_cast<uint32_t>(static_cast<unsigned char>(S[I + K])); };
    uint32_t Cp = 0;
    switch (L) {
    case 1:
      Cp = B(0);
      break;
    case 2:
      Cp = ((B(0) & 0x1F) << 6) | (B(1) & 0x3F);
      break;
    case 3:
      Cp = ((B(0) & 0x0F) << 12) | ((B(1) & 0x3F) << 6) | (B(2) & 0x3F);
      break;
    default:
      Cp = ((B(0) & 0x07) << 18) | ((B(1) & 0x3F) << 12) | ((B(2) & 0x3F) << 6) | (B(3) & 0x3F);
      break;
    }
    if (Cp >= 0x10000) {
      Cp -= 0x10000;
      Out.push_back(static_cast<char16_t>(0xD800 + (Cp >> 10)));
      Out.push_back(static_cast<char16_t>(0xDC00 + (Cp & 0x3FF)));
    } else {
      Out.push_back(static_cast<char16_t>(Cp));
    }
    I += L;
  }
  return true;
}
