// A small pull reader for JSON text (RFC 8259), read a block at a time: the caller walks
// the objects and arrays it cares about and skips the rest, so memory stays bounded by what
// the caller keeps, whatever the document holds.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

class EJsonError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct TJsonScalar {
  enum TType : uint8_t { jNull, jBool, jNumber, jString } Type = jNull;
  bool Bool = false;
  double Number = 0;
  std::string String; // UTF-8; cut to the reader's string bound
};

struct TJsonLimits {
  int32_t MaxDepth = 64;               // nesting of objects and arrays
  int64_t MaxBytes = 64 * 1024 * 1024; // of the whole text
  size_t MaxString = 8192;             // bytes kept of one string; the rest is read and dropped
};

class TJsonReader {
public:
  // Read(Dst, N) gives up to N more bytes of the text, 0 at its end.
  using TRead = std::function<size_t(char *, size_t)>;
  TJsonReader(TRead Read, const TJsonLimits &Limits);

  // Each of these throws EJsonError on text that is not JSON or goes past the limits.
  // The first non-blank character of the next value; 0 at the end of the text.
  char Peek();
  // Object members: BeginObject, then NextMember until it returns false; the caller reads or
  // skips each member's value before asking for the next.
  void BeginObject();
  bool NextMember(std::string &Key);
  void BeginArray();
  bool NextItem();
  // A scalar value; false (with the value skipped) when the next value is an object or array.
  bool ReadScalar(TJsonScalar &V);
  void Skip();
  // Only blanks may follow the document.
  void End();

  int64_t Offset() const { return FOffset; }
  int64_t StringsCut() const { return FStringsCut; }

private:
  int Get();
  int PeekRaw();
  void SkipBlank();
  void Expect(char C);
  [[noreturn]] void Fail(const std::string &Why) const;
  void ReadString(std::string &Out);
  void ReadNumber(double &V);
  void ReadLiteral(const char *Word);
  void Push(bool IsObject);
  // The separator before the next entry of the innermost container; false (container closed)
  // at Close.
  bool NextEntry(char Close, const char *What);

  TRead FRead;
  TJsonLimits FLimits;
  std::vector<char> FBuf;
  size_t FPos = 0, FLen = 0;
  int64_t FOffset = 0; // bytes consumed
  int64_t FStringsCut = 0;
  std::vector<uint8_t> FFirst; // per open container: no member or item read yet
};

// Whether Text is one complete JSON document within the limits; Why gets the reason when not.
bool IsValidJson(const std::string &Text, std::string *Why = nullptr, const TJsonLimits &Limits = {});
