#include "base/win32_uPath.h"

std::string TcPathToString(const wchar_t *W) {
  std::string result;
  if (W == nullptr)
    return result;
  char buf[261];
  const int n = WideCharToMultiByte(CP_ACP, 0, W, -1, buf, sizeof(buf), nullptr, nullptr);
  if (n > 1)
    result.assign(buf, static_cast<size_t>(n - 1));
  return result;
}

std::wstring AnsiToWide(const char *S) {
  std::wstring result;
  if (S == nullptr || *S == '\0')
    return result;
  const int n = MultiByteToWideChar(CP_ACP, 0, S, -1, nullptr, 0);
  if (n <= 1)
    return result;
  result.resize(static_cast<size_t>(n));
  MultiByteToWideChar(CP_ACP, 0, S, -1, result.data(), n);
  result.resize(static_cast<size_t>(n - 1));
  return result;
}

std::wstring CodePageToWide(UINT CodePage, const std::string &S) {
  std::wstring W;
  if (S.empty())
    return W;
  const int N = MultiByteToWideChar(CodePage, 0, S.data(), static_cast<int>(S.size()), nullptr, 0);
  if (N <= 0)
    return W;
  W.resize(static_cast<size_t>(N));
  MultiByteToWideChar(CodePage, 0, S.data(), static_cast<int>(S.size()), W.data(), N);
  return W;
}

bool FileExistsAnsi(const std::string &FN) {
  if (FN.empty())
    return false;
  const DWORD attr = GetFileAttributesA(FN.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}
