// File-name conversion at the exports: inside the plug-in, names are ANSI strings.
#pragma once

#include <windows.h>

#include <string>

// UTF-16 -> system ANSI code page. Empty for nil, for a failed conversion and for names
// whose ANSI form needs more than 260 bytes (such a file is then simply not found).
std::string TcPathToString(const wchar_t *W);

// System ANSI code page -> UTF-16; nil gives an empty string.
std::wstring AnsiToWide(const char *S);

// Text in a code page (CP_ACP for the viewer's strings, CP_UTF8) -> UTF-16, for window texts.
std::wstring CodePageToWide(UINT CodePage, const std::string &S);

// Whether a file (not a folder) of that ANSI name exists.
bool FileExistsAnsi(const std::string &FN);
