// Windows loading of the CUDA libraries from trusted places only. The host's current directory
// is usually the folder being browsed, so a DLL planted next to a recording must never be
// picked up: every candidate is loaded by its full path, and the host's own DLL search
// settings are left alone (they are process-wide).
//
// For each name, in this order:
//   1. <dir>\bin for CUDA_PATH, then for each CUDA_PATH_V* variable (in environment order);
//   2. the system search without the current directory (application folder, System32, and
//      folders the host added), LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
//   3. the folders of PATH that are absolute, skipping empty, relative and "." entries and the
//      current directory.
#include "dsp/uCudaFFT.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

std::wstring Widen(const std::string &S) {
  // The names are plain ASCII.
  return std::wstring(S.begin(), S.end());
}

std::string Narrow(const std::wstring &W) {
  if (W.empty())
    return {};
  const int N =
      WideCharToMultiByte(CP_ACP, 0, W.c_str(), static_cast<int>(W.size()), nullptr, 0, nullptr, nullptr);
  std::string S(static_cast<size_t>(N > 0 ? N : 0), '\0');
  if (N > 0)
    WideCharToMultiByte(CP_ACP, 0, W.c_str(), static_cast<int>(W.size()), S.data(), N, nullptr, nullptr);
  return S;
}

std::wstring EnvVar(const wchar_t *Name) {
  const DWORD N = GetEnvironmentVariableW(Name, nullptr, 0);
  if (N == 0)
    return {};
  std::wstring V(N, L'\0');
  const DWORD Got = GetEnvironmentVariableW(Name, V.data(), N);
  V.resize(Got < N ? Got : 0);
  return V;
}

// Drive-letter or UNC paths; "\foo" (relative to the current drive) and "C:foo" are relative.
bool IsAbsolute(const std::wstring &P) {
  if (P.size() >= 3 && ((P[0] >= L'A' && P[0] <= L'Z') || (P[0] >= L'a' && P[0] <= L'z')) && P[1] == L':' &&
      (P[2] == L'\\' || P[2] == L'/'))
    return true;
  return P.size() >= 3 && (P[0] == L'\\' || P[0] == L'/') && (P[1] == L'\\' || P[1] == L'/');
}

std::wstring Unquote(std::wstring P) {
  if (P.size() >= 2 && P.front() == L'"' && P.back() == L'"')
    P = P.substr(1, P.size() - 2);
  return P;
}

// The folder as one canonical text for comparison: full path, no trailing separators.
std::wstring Canonical(const std::wstring &P) {
  const DWORD N = GetFullPathNameW(P.c_str(), 0, nullptr, nullptr);
  std::wstring F;
  if (N > 0) {
    F.assign(N, L'\0');
    const DWORD Got = GetFullPathNameW(P.c_str(), N, F.data(), nullptr);
    F.resize(Got < N ? Got : 0);
  }
  if (F.empty())
    F = P;
  for (auto &C : F)
    if (C == L'/')
      C = L'\\';
  while (F.size() > 3 && F.back() == L'\\')
    F.pop_back();
  return F;
}

bool SameFolder(const std::wstring &A, const std::wstring &B) {
  const std::wstring CA = Canonical(A), CB = Canonical(B);
  return CompareStringOrdinal(CA.c_str(), static_cast<int>(CA.size()), CB.c_str(),
                              static_cast<int>(CB.size()), TRUE) == CSTR_EQUAL;
}

std::wstring Join(const std::wstring &Dir, const std::wstring &Name) {
  if (!Dir.empty() && (Dir.back() == L'\\' || Dir.back() == L'/'))
    return Dir + Name;
  return Dir + L"\\" + Name;
}

// CUDA_PATH first, then the versioned variables in the order the environment block lists them.
std::vector<std::wstring> CudaBinFolders() {
  std::vector<std::wstring> Out;
  const std::wstring Main = Unquote(EnvVar(L"CUDA_PATH"));
  if (IsAbsolute(Main))
    Out.push_back(Join(Main, L"bin"));
  LPWCH Block = GetEnvironmentStringsW();
  if (!Block)
    return Out;
  static const std::wstring Prefix = L"CUDA_PATH_V";
  for (const wchar_t *E = Block; *E; E += wcslen(E) + 1) {
    const std::wstring Entry(E);
    const size_t Eq = Entry.find(L'=', 1);
    if (Eq == std::wstring::npos || Eq <= Prefix.size())
      continue;
    if (CompareStringOrdinal(Entry.c_str(), static_cast<int>(Prefix.size()), Prefix.c_str(),
                             static_cast<int>(Prefix.size()), TRUE) != CSTR_EQUAL)
      continue;
    const std::wstring Value = Unquote(Entry.substr(Eq + 1));
    if (IsAbsolute(Value))
      Out.push_back(Join(Value, L"bin"));
  }
  FreeEnvironmentStringsW(Block);
  return Out;
}

std::wstring CurrentFolder() {
  const DWORD N = GetCurrentDirectoryW(0, nullptr);
  if (N == 0)
    return {};
  std::wstring C(N, L'\0');
  const DWORD Got = GetCurrentDirectoryW(N, C.data());
  C.resize(Got < N ? Got : 0);
  return C;
}

std::vector<std::wstring> PathFolders() {
  std::vector<std::wstring> Out;
  const std::wstring Path = EnvVar(L"PATH");
  const std::wstring Cwd = CurrentFolder();
  size_t Start = 0;
  while (Start <= Path.size()) {
    size_t End = Path.find(L';', Start);
    if (End == std::wstring::npos)
      End = Path.size();
    const std::wstring Dir = Unquote(Path.substr(Start, End - Start));
    Start = End + 1;
    if (Dir.empty() || !IsAbsolute(Dir))
      continue; // "." and every other relative entry name the current directory or below it
    if (!Cwd.empty() && SameFolder(Dir, Cwd))
      continue;
    Out.push_back(Dir);
  }
  return Out;
}

std::string ModulePath(HMODULE M) {
  std::wstring Buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD N = GetModuleFileNameW(M, Buf.data(), static_cast<DWORD>(Buf.size()));
    if (N == 0)
      return {};
    if (N < Buf.size()) {
      Buf.resize(N);
      return Narrow(Buf);
    }
    Buf.resize(Buf.size() * 2);
  }
}

class TWin32CudaLoader : public ICudaLoader {
public:
  void *Open(const std::string &Name, std::string &LoadedPath) override {
    LoadedPath.clear();
    if (Name.empty() || Name.find_first_of("\\/:") != std::string::npos)
      return nullptr;
    // No "cannot find" boxes for a missing or foreign-architecture candidate, for this thread only.
    DWORD OldMode = 0;
    const bool ModeSet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &OldMode) != 0;
    HMODULE Lib = Find(Widen(Name));
    if (ModeSet)
      SetThreadErrorMode(OldMode, nullptr);
    if (Lib)
      LoadedPath = ModulePath(Lib);
    return Lib;
  }

  void *Symbol(void *Lib, const char *Name) override {
    FARPROC P = GetProcAddress(static_cast<HMODULE>(Lib), Name);
    void *V = nullptr;
    static_assert(sizeof P == sizeof V);
    __builtin_memcpy(&V, &P, sizeof V);
    return V;
  }

  void Close(void *Lib) override { FreeLibrary(static_cast<HMODULE>(Lib)); }

private:
  static HMODULE LoadFull(const std::wstring &Full) {
    if (GetFileAttributesW(Full.c_str()) == INVALID_FILE_ATTRIBUTES)
      return nullptr;
    return LoadLibraryExW(Full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }

  static HMODULE Find(const std::wstring &Name) {
    for (const auto &Dir : CudaBinFolders())
      if (HMODULE M = LoadFull(Join(Dir, Name)))
        return M;
    if (HMODULE M = LoadLibraryExW(Name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS))
      return M;
    for (const auto &Dir : PathFolders())
      if (HMODULE M = LoadFull(Join(Dir, Name)))
        return M;
    return nullptr;
  }
};

} // namespace

std::unique_ptr<ICudaLoader> CreateSystemCudaLoader() {
  return std::make_unique<TWin32CudaLoader>();
}

const TCudaLibraryNames &SystemCudaLibraryNames() {
  return CudaDllNames();
}
