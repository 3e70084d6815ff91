#include "base/uFileStream.h"
#include "base/win32_uPath.h"

#include <gtest/gtest.h>

TEST(TcPathToString, KeepsEveryScriptAsUtf8) {
  EXPECT_EQ(TcPathToString(nullptr), "");
  EXPECT_EQ(TcPathToString(L""), "");
  EXPECT_EQ(TcPathToString(L"C:\\rec\\a.cs16"), "C:\\rec\\a.cs16");
  EXPECT_EQ(TcPathToString(L"C:\\\u0437\u0430\u043f\u0438\u0441\u044c.iq"),
            "C:\\\xD0\xB7\xD0\xB0\xD0\xBF\xD0\xB8\xD1\x81\xD1\x8C.iq");
  EXPECT_EQ(TcPathToString(L"\u9332\u97f3.iq"), "\xE9\x8C\xB2\xE9\x9F\xB3.iq");
  EXPECT_EQ(TcPathToString(L"\U0001F4E1.iq"), "\xF0\x9F\x93\xA1.iq"); // a surrogate pair
  // No length cap of its own: a name too long to open is refused by the file system.
  EXPECT_EQ(TcPathToString(std::wstring(300, L'a').c_str()), std::string(300, 'a'));
  // An unpaired surrogate names no file; it must not turn into a replacement character.
  const wchar_t Broken[] = {L'a', static_cast<wchar_t>(0xD800), L'.', L'i', L'q', 0};
  EXPECT_EQ(TcPathToString(Broken), "");
}

TEST(AnsiToWide, RoundTripsThroughTcPathToString) {
  EXPECT_EQ(AnsiToWide(nullptr), L"");
  EXPECT_EQ(AnsiToWide(""), L"");
  const std::wstring w = AnsiToWide("Z:\\tmp\\x y.cf32");
  EXPECT_EQ(w, L"Z:\\tmp\\x y.cf32");
  EXPECT_EQ(TcPathToString(w.c_str()), "Z:\\tmp\\x y.cf32");
}

// Names outside the ANSI code page, through the UTF-8 names the readers use.
TEST(FileStream, OpensFilesNamedInAnyScript) {
  wchar_t Dir[MAX_PATH];
  GetTempPathW(MAX_PATH, Dir);
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FileExists(TcPathToString(Dir))) << "a folder is not a recording";
  for (const wchar_t *Name : {L"zb_\u0437\u0430\u043f\u0438\u0441\u044c.bin", L"zb_\u9332\u97f3.bin"}) {
    const std::wstring W = std::wstring(Dir) + Name;
    HANDLE H = CreateFileW(W.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(H, INVALID_HANDLE_VALUE);
    DWORD Written = 0;
    WriteFile(H, "abc", 3, &Written, nullptr);
    CloseHandle(H);
    const std::string U = TcPathToString(W.c_str());
    EXPECT_TRUE(FileExists(U));
    EXPECT_EQ(ReadWholeFile(U), (TByteArray{'a', 'b', 'c'}));
    DeleteFileW(W.c_str());
    EXPECT_FALSE(FileExists(U));
    EXPECT_THROW(TFCloseFile{U}, EFileStreamError);
  }
  EXPECT_FALSE(FileExists("zb_\xFF\xFE.bin")) << "not UTF-8: no such name";
}
