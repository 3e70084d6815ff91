#include "base/win32_uPath.h"

#include "base/uText.h"

std::string TcPathToString(const wchar_t *W) {
  std::string Result;
  if (W == nullptr || *W == L'\0')
    return Result;
  const int N = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, W, -1, nullptr, 0, nullptr, nullptr);
  if (N <= 1)
    return Result;
  Result.resize(static_cast<size_t>(N));
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, W, -1, Result.data(), N, nullptr, nullptr) != N)
    return {};
  Result.resize(static_cast<size_t>(N - 1));
  return Result;
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

std::wstring TextToWide(const std::string &S) {
  return CodePageToWide(IsValidUtf8(S) ? CP_UTF8 : CP_ACP, S);
}
