// File-name conversion at the exports: inside the plug-in, names are UTF-8 strings, so a name
// in any script survives until the file is opened with the wide functions (uFileStream).
#pragma once

#include <windows.h>

#include <string>

// UTF-16 -> UTF-8. Empty for nil and for names that are not valid UTF-16 (an unpaired
// surrogate): such a name is then simply not found.
std::string TcPathToString(const wchar_t *W);

// System ANSI code page -> UTF-16; nil gives an empty string.
std::wstring AnsiToWide(const char *S);

// Text in a code page (CP_ACP, CP_UTF8) -> UTF-16.
std::wstring CodePageToWide(UINT CodePage, const std::string &S);

// The viewer's texts -> UTF-16, for window texts. They mix UTF-8 (file names inside the
// plug-in, JSON metadata, our own literals) with bytes in the ANSI code page (text sidecars
// from Windows editors): well-formed UTF-8 is read as UTF-8, anything else as ANSI. Text
// in a single-byte code page is seldom well-formed UTF-8 unless it is ASCII, which reads
// the same either way.
std::wstring TextToWide(const std::string &S);
