// A temporary folder tree for the tests that place the fake CUDA DLLs (built into
// <exe folder>\fake_cuda\full) where the plug-in may or may not look for them.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace testhost {

inline const wchar_t *const FakeCudaFiles[] = {L"cudart64_12.dll", L"cufft64_11.dll"};

inline std::wstring FakeCudaSource() {
  wchar_t Buf[MAX_PATH];
  const DWORD N = GetModuleFileNameW(nullptr, Buf, MAX_PATH);
  const std::wstring P(Buf, N);
  return P.substr(0, P.find_last_of(L"\\/")) + L"\\fake_cuda\\full\\";
}

class TFakeCudaTree {
public:
  TFakeCudaTree() {
    wchar_t Tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, Tmp);
    FRoot = std::wstring(Tmp) + L"zbcuda" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(GetTickCount64());
    CreateDirectoryW(FRoot.c_str(), nullptr);
  }
  ~TFakeCudaTree() { Remove(FRoot); }
  TFakeCudaTree(const TFakeCudaTree &) = delete;
  TFakeCudaTree &operator=(const TFakeCudaTree &) = delete;
  const std::wstring &Root() const { return FRoot; }

  // Creates the sub-folder Sub ("a\b") of the tree; returns its full path.
  std::wstring Folder(const std::wstring &Sub) const {
    std::wstring Dir = FRoot;
    size_t Start = 0;
    while (Start < Sub.size()) {
      const size_t End = std::min(Sub.find(L'\\', Start), Sub.size());
      Dir += L"\\" + Sub.substr(Start, End - Start);
      CreateDirectoryW(Dir.c_str(), nullptr);
      Start = End + 1;
    }
    return Dir;
  }
  // Copies the fake DLLs into Sub; returns its full path.
  std::wstring Plant(const std::wstring &Sub) const {
    const std::wstring Dir = Folder(Sub);
    for (const wchar_t *F : FakeCudaFiles)
      EXPECT_TRUE(CopyFileW((FakeCudaSource() + F).c_str(), (Dir + L"\\" + F).c_str(), FALSE));
    return Dir;
  }

private:
  static void Remove(const std::wstring &Dir) {
    WIN32_FIND_DATAW D;
    HANDLE H = FindFirstFileW((Dir + L"\\*").c_str(), &D);
    if (H != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring N = D.cFileName;
        if (N == L"." || N == L"..")
          continue;
        if (D.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          Remove(Dir + L"\\" + N);
        else
          DeleteFileW((Dir + L"\\" + N).c_str());
      } while (FindNextFileW(H, &D));
      FindClose(H);
    }
    RemoveDirectoryW(Dir.c_str());
  }
  std::wstring FRoot;
};

} // namespace testhost
