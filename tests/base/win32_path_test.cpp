#include "base/win32_uPath.h"

#include <gtest/gtest.h>

TEST(TcPathToString, ConvertsAndRefusesWhatCannotBeOpened) {
  EXPECT_EQ(TcPathToString(nullptr), "");
  EXPECT_EQ(TcPathToString(L""), "");
  EXPECT_EQ(TcPathToString(L"C:\\rec\\a.cs16"), "C:\\rec\\a.cs16");
  // 260 ANSI bytes still fit the buffer with the terminator; 261 do not.
  const std::wstring fits(260, L'a'), too_long(261, L'a');
  EXPECT_EQ(TcPathToString(fits.c_str()), std::string(260, 'a'));
  EXPECT_EQ(TcPathToString(too_long.c_str()), "");
}

TEST(AnsiToWide, RoundTripsThroughTcPathToString) {
  EXPECT_EQ(AnsiToWide(nullptr), L"");
  EXPECT_EQ(AnsiToWide(""), L"");
  const std::wstring w = AnsiToWide("Z:\\tmp\\x y.cf32");
  EXPECT_EQ(w, L"Z:\\tmp\\x y.cf32");
  EXPECT_EQ(TcPathToString(w.c_str()), "Z:\\tmp\\x y.cf32");
}

TEST(FileExistsAnsi, FilesOnly) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  EXPECT_FALSE(FileExistsAnsi(""));
  EXPECT_FALSE(FileExistsAnsi(dir)) << "a folder is not a recording";
  std::string file = std::string(dir) + "zb_exists_test.bin";
  HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_TRUE(FileExistsAnsi(file));
  DeleteFileA(file.c_str());
  EXPECT_FALSE(FileExistsAnsi(file));
}
