// Single-byte text to UTF-8, for the places where text leaves the system (JSON, terminals).
// Inside the system strings stay in the bytes they were read as.
#pragma once

#include <cstdint>
#include <string>

// Code point Cp (at most U+10FFFF, no surrogate) appended to Out as UTF-8.
void AppendUtf8(std::string &Out, uint32_t Cp);

// True when S is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(const std::string &S);

// Windows-1252 bytes as UTF-8. The five bytes that code page leaves undefined map to the C1
// control of the same value, as Windows itself converts them.
std::string Cp1252ToUtf8(const std::string &S);

// ISO-8859-1 bytes as UTF-8.
std::string Latin1ToUtf8(const std::string &S);

// Invalid sequences replaced by U+FFFD; valid UTF-8 unchanged.
std::string Utf8Repaired(const std::string &S);

// Well-formed UTF-8 as UTF-16 (what wide file functions take). False, with Out empty, for
// anything that is not well-formed UTF-8: such a name names no file.
bool Utf8ToUtf16(const std::string &S, std::u16string &Out);
