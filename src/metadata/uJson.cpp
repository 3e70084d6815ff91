// JSON pull reader. Strict about the grammar: a broken file must be told apart from a good
// one, since the callers then fall back to reading the recording without its description.
#include "metadata/uJson.h"

#include "base/uText.h"

#include <algorithm>
#include <charconv>
#include <cmath>

TJsonReader::TJsonReader(TRead Read, const TJsonLimits &Limits)
    : FRead(std::move(Read)), FLimits(Limits), FBuf(64 * 1024) {}

void TJsonReader::Fail(const std::string &Why) const {
  throw EJsonError(Why + " at byte " + std::to_string(FOffset));
}

int TJsonReader::PeekRaw() {
  if (FPos == FLen) {
    FLen = FRead(FBuf.data(), FBuf.size());
    FPos = 0;
    if (FLen == 0)
      return -1;
  }
  return static_cast<unsigned char>(FBuf[FPos]);
}

int TJsonReader::Get() {
  const int C = PeekRaw();
  if (C < 0)
    return C;
  ++FPos;
  if (++FOffset > FLimits.MaxBytes)
    Fail("text longer than " + std::to_string(FLimits.MaxBytes) + " bytes");
  return C;
}

void TJsonReader::SkipBlank() {
  for (;;) {
    const int C = PeekRaw();
    if (C != ' ' && C != '\t' && C != '\n' && C != '\r')
      return;
    Get();
  }
}

void TJsonReader::Expect(char C) {
  SkipBlank();
  const int G = Get();
  if (G < 0)
    Fail("unexpected end of text");
  if (G != static_cast<unsigned char>(C))
    Fail(std::string("expected '") + C + "'");
}

char TJsonReader::Peek() {
  SkipBlank();
  const int C = PeekRaw();
  return C < 0 ? '\0' : static_cast<char>(C);
}

void TJsonReader::Push(bool IsObject) {
  if (static_cast<int32_t>(FFirst.size()) >= FLimits.MaxDepth)
    Fail("nested deeper than " + std::to_string(FLimits.MaxDepth) + " levels");
  Expect(IsObject ? '{' : '[');
  FFirst.push_back(1);
}

void TJsonReader::BeginObject() {
  Push(true);
}
void TJsonReader::BeginArray() {
  Push(false);
}

bool TJsonReader::NextEntry(char Close, const char *What) {
  if (FFirst.empty())
    Fail(What);
  if (Peek() == Close) {
    Get();
    FFirst.pop_back();
    return false;
  }
  if (!FFirst.back())
    Expect(',');
  FFirst.back() = 0;
  return true;
}

bool TJsonReader::NextMember(std::string &Key) {
  if (!NextEntry('}', "no open object"))
    return false;
  SkipBlank();
  if (PeekRaw() != '"')
    Fail("expected a member name");
  ReadString(Key);
  Expect(':');
  return true;
}

bool TJsonReader::NextItem() {
  return NextEntry(']', "no open array");
}

void TJsonReader::ReadString(std::string &Out) {
  Out.clear();
  if (Get() != '"')
    Fail("expected a string");
  bool Cut = false;
  std::string Piece;
  auto Hex4 = [&]() {
    uint32_t V = 0;
    for (int I = 0; I < 4; ++I) {
      const int C = Get();
      int D = -1;
      if (C >= '0' && C <= '9')
        D = C - '0';
      else if (C >= 'a' && C <= 'f')
        D = C - 'a' + 10;
      else if (C >= 'A' && C <= 'F')
        D = C - 'A' + 10;
      if (D < 0)
        Fail("bad \\u escape");
      V = V * 16 + static_cast<uint32_t>(D);
    }
    return V;
  };
  for (;;) {
    const int C = Get();
    if (C < 0)
      Fail("unterminated string");
    if (C == '"')
      break;
    if (C < 0x20)
      Fail("control character in a string");
    Piece.clear();
    if (C != '\\') {
      Piece.push_back(static_cast<char>(C));
    } else {
      const int E = Get();
      switch (E) {
      case '"':
      case '\\':
      case '/':
        Piece.push_back(static_cast<char>(E));
        break;
      case 'b':
        Piece.push_back('\b');
        break;
      case 'f':
        Piece.push_back('\f');
        break;
      case 'n':
        Piece.push_back('\n');
        break;
      case 'r':
        Piece.push_back('\r');
        break;
      case 't':
        Piece.push_back('\t');
        break;
      case 'u': {
        uint32_t Cp = Hex4();
        if (Cp >= 0xD800 && Cp < 0xDC00) {
          // A high surrogate counts only with its low half right behind it.
          if (PeekRaw() == '\\') {
            Get();
            if (Get() != 'u')
              Fail("bad escape");
            const uint32_t Lo = Hex4();
            Cp = (Lo >= 0xDC00 && Lo < 0xE000) ? 0x10000 + ((Cp - 0xD800) << 10) + (Lo - 0xDC00) : 0xFFFD;
          } else {
            Cp = 0xFFFD;
          }
        } else if (Cp >= 0xDC00 && Cp < 0xE000) {
          Cp = 0xFFFD;
        }
        AppendUtf8(Piece, Cp);
        break;
      }
      default:
        Fail("bad escape");
      }
    }
    if (Out.size() + Piece.size() <= FLimits.MaxString)
      Out += Piece;
    else
      Cut = true;
  }
  if (Cut)
    ++FStringsCut;
}

void TJsonReader::ReadNumber(double &V) {
  std::string T;
  auto Digits = [&]() {
    size_t N = 0;
    for (int C = PeekRaw(); C >= '0' && C <= '9'; C = PeekRaw()) {
      T.push_back(static_cast<char>(Get()));
      ++N;
      if (T.size() > 400)
        Fail("number too long");
    }
    return N;
  };
  if (PeekRaw() == '-')
    T.push_back(static_cast<char>(Get()));
  const size_t IntStart = T.size();
  if (Digits() == 0)
    Fail("bad number");
  if (T.size() - IntStart > 1 && T[IntStart] == '0')
    Fail("leading zero in a number");
  if (PeekRaw() == '.') {
    T.push_back(static_cast<char>(Get()));
    if (Digits() == 0)
      Fail("bad number");
  }
  if (PeekRaw() == 'e' || PeekRaw() == 'E') {
    T.push_back(static_cast<char>(Get()));
    if (PeekRaw() == '+' || PeekRaw() == '-')
      T.push_back(static_cast<char>(Get()));
    if (Digits() == 0)
      Fail("bad number");
  }
  const auto [End, Ec] = std::from_chars(T.data(), T.data() + T.size(), V);
  if (Ec != std::errc() || End != T.data() + T.size() || !std::isfinite(V))
    Fail("number out of range");
}

void TJsonReader::ReadLiteral(const char *Word) {
  for (const char *P = Word; *P; ++P)
    if (Get() != static_cast<unsigned char>(*P))
      Fail("bad literal");
}

bool TJsonReader::ReadScalar(TJsonScalar &V) {
  V = TJsonScalar{};
  const char C = Peek();
  switch (C) {
  case '{':
  case '[':
    Skip();
    return false;
  case '"':
    V.Type = TJsonScalar::jString;
    ReadString(V.String);
    return true;
  case 't':
    ReadLiteral("true");
    V.Type = TJsonScalar::jBool;
    V.Bool = true;
    return true;
  case 'f':
    ReadLiteral("false");
    V.Type = TJsonScalar::jBool;
    return true;
  case 'n':
    ReadLiteral("null");
    return true;
  default:
    if (C == '-' || (C >= '0' && C <= '9')) {
      V.Type = TJsonScalar::jNumber;
      ReadNumber(V.Number);
      return true;
    }
    Fail(C == '\0' ? "unexpected end of text" : "unexpected character");
  }
}

void TJsonReader::Skip() {
  const char C = Peek();
  std::string Key;
  if (C == '{') {
    BeginObject();
    while (NextMember(Key))
      Skip();
  } else if (C == '[') {
    BeginArray();
    while (NextItem())
      Skip();
  } else {
    TJsonScalar V;
    ReadScalar(V);
  }
}

void TJsonReader::End() {
  if (Peek() != '\0')
    Fail("text after the document");
}

bool IsValidJson(const std::string &Text, std::string *Why, const TJsonLimits &Limits) {
  size_t Pos = 0;
  TJsonReader R(
      [&](char *Dst, size_t N) {
        const size_t K = std::min(N, Text.size() - Pos);
        Text.copy(Dst, K, Pos);
        Pos += K;
        return K;
      },
      Limits);
  try {
    R.Skip();
    R.End();
    return true;
  } catch (const EJsonError &E) {
    if (Why)
      *Why = E.what();
    return false;
  }
}
