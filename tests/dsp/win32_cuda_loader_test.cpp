// Where the Windows engine may load the CUDA libraries from, with the fake DLLs the tests build
// (<exe folder>\fake_cuda\full). Each case copies them into a fresh temporary tree and points
// CUDA_PATH, PATH and the current directory at parts of it.
#include "dsp/uCudaFFT.h"
#include "dsp/uFFT.h"
#include "support/win32_FakeCudaTree.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <vector>

namespace {

using testhost::TFakeCudaTree;

std::wstring ExeFolder() {
  wchar_t Buf[MAX_PATH];
  const DWORD N = GetModuleFileNameW(nullptr, Buf, MAX_PATH);
  std::wstring P(Buf, N);
  return P.substr(0, P.find_last_of(L"\\/"));
}

std::string Narrow(const std::wstring &W) {
  std::string S;
  for (wchar_t C : W)
    S += static_cast<char>(C < 128 ? C : '?');
  return S;
}

bool SamePath(const std::string &A, const std::wstring &B) {
  const std::string NB = Narrow(B);
  return A.size() == NB.size() && std::equal(A.begin(), A.end(), NB.begin(), [](char X, char Y) {
           auto L = [](char C) {
             return C == '/' ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
           };
           return L(X) == L(Y);
         });
}

// Saves the variables and the current directory the loader reads; restores them on exit.
class TLoaderEnv {
public:
  TLoaderEnv() {
    for (const wchar_t *Name : {L"PATH", L"CUDA_PATH"})
      FSaved.push_back({Name, Get(Name)});
    LPWCH Block = GetEnvironmentStringsW();
    for (const wchar_t *E = Block; *E; E += wcslen(E) + 1) {
      std::wstring Entry(E);
      if (Entry.rfind(L"CUDA_PATH_V", 0) == 0)
        FSaved.push_back({Entry.substr(0, Entry.find(L'=')), Entry.substr(Entry.find(L'=') + 1)});
    }
    FreeEnvironmentStringsW(Block);
    for (size_t I = 1; I < FSaved.size(); ++I)
      SetEnvironmentVariableW(FSaved[I].first.c_str(), nullptr);
    wchar_t Cwd[MAX_PATH];
    FCwd.assign(Cwd, GetCurrentDirectoryW(MAX_PATH, Cwd));
  }
  ~TLoaderEnv() {
    SetCurrentDirectoryW(FCwd.c_str());
    for (const auto &[Name, Value] : FSaved)
      SetEnvironmentVariableW(Name.c_str(), Value.empty() ? nullptr : Value.c_str());
  }
  std::wstring OriginalPath() const { return FSaved[0].second; }

  static std::wstring Get(const wchar_t *Name) {
    wchar_t Buf[32768];
    const DWORD N = GetEnvironmentVariableW(Name, Buf, 32768);
    return std::wstring(Buf, N < 32768 ? N : 0);
  }

private:
  std::vector<std::pair<std::wstring, std::wstring>> FSaved;
  std::wstring FCwd;
};

} // namespace

TEST(CudaLoaderWin32, TrustedPlacesLoadAndTheCurrentDirectoryNeverDoes) {
  ASSERT_NE(GetFileAttributesW((ExeFolder() + L"\\fake_cuda\\full\\cudart64_12.dll").c_str()),
            INVALID_FILE_ATTRIBUTES);
  struct TCase {
    const char *What;
    // Sets up CUDA_PATH / PATH / the current directory in the tree; returns the folder the
    // libraries must come from, or "" when none may load.
    std::wstring (*Arrange)(TFakeCudaTree &, const std::wstring &OrigPath);
  } Cases[] = {
      {"CUDA_PATH\\bin",
       [](TFakeCudaTree &T, const std::wstring &) {
         const std::wstring Bin = T.Plant(L"toolkit\\bin");
         SetEnvironmentVariableW(L"CUDA_PATH", (T.Root() + L"\\toolkit").c_str());
         return Bin;
       }},
      {"CUDA_PATH_V12_4\\bin",
       [](TFakeCudaTree &T, const std::wstring &) {
         const std::wstring Bin = T.Plant(L"v124\\bin");
         SetEnvironmentVariableW(L"CUDA_PATH_V12_4", (T.Root() + L"\\v124").c_str());
         return Bin;
       }},
      {"CUDA_PATH before PATH",
       [](TFakeCudaTree &T, const std::wstring &Orig) {
         const std::wstring Bin = T.Plant(L"toolkit\\bin");
         const std::wstring Other = T.Plant(L"onpath");
         SetEnvironmentVariableW(L"CUDA_PATH", (T.Root() + L"\\toolkit").c_str());
         SetEnvironmentVariableW(L"PATH", (Other + L";" + Orig).c_str());
         return Bin;
       }},
      {"absolute PATH folder",
       [](TFakeCudaTree &T, const std::wstring &Orig) {
         const std::wstring Dir = T.Plant(L"onpath");
         SetEnvironmentVariableW(L"PATH", (Orig + L";;" + Dir).c_str());
         return Dir;
       }},
      {"current directory only",
       [](TFakeCudaTree &T, const std::wstring &) {
         SetCurrentDirectoryW(T.Plant(L"browsed").c_str());
         return std::wstring();
       }},
      {"current directory named in PATH",
       [](TFakeCudaTree &T, const std::wstring &Orig) {
         const std::wstring Dir = T.Plant(L"browsed");
         SetCurrentDirectoryW(Dir.c_str());
         SetEnvironmentVariableW(L"PATH", (Dir + L"\\;.;" + Orig).c_str());
         return std::wstring();
       }},
      {"relative PATH entry",
       [](TFakeCudaTree &T, const std::wstring &Orig) {
         T.Plant(L"browsed\\sub");
         SetCurrentDirectoryW((T.Root() + L"\\browsed").c_str());
         SetEnvironmentVariableW(L"PATH", (L"sub;.\\sub;" + Orig).c_str());
         return std::wstring();
       }},
      {"relative CUDA_PATH",
       [](TFakeCudaTree &T, const std::wstring &) {
         T.Plant(L"browsed\\toolkit\\bin");
         SetCurrentDirectoryW((T.Root() + L"\\browsed").c_str());
         SetEnvironmentVariableW(L"CUDA_PATH", L"toolkit");
         return std::wstring();
       }},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.What);
    TLoaderEnv Env;
    TFakeCudaTree Tree;
    const std::wstring Want = C.Arrange(Tree, Env.OriginalPath());
    {
      TCudaFFTEngine E;
      EXPECT_EQ(E.Available(), !Want.empty());
      if (!Want.empty()) {
        EXPECT_TRUE(SamePath(E.RuntimePath(), Want + L"\\cudart64_12.dll")) << E.RuntimePath();
        EXPECT_TRUE(SamePath(E.CufftPath(), Want + L"\\cufft64_11.dll")) << E.CufftPath();
      } else {
        EXPECT_EQ(E.RuntimePath(), "");
      }
    }
    // The engine's end unloads both, so that the tree can go.
    EXPECT_EQ(GetModuleHandleW(L"cudart64_12.dll"), nullptr);
    EXPECT_EQ(GetModuleHandleW(L"cufft64_11.dll"), nullptr);
  }
}

TEST(CudaLoaderWin32, FakeDllsGiveTheCpuPsdToSinglePrecision) {
  TLoaderEnv Env;
  TFakeCudaTree Tree;
  Tree.Plant(L"toolkit\\bin");
  SetEnvironmentVariableW(L"CUDA_PATH", (Tree.Root() + L"\\toolkit").c_str());
  TCudaFFTEngine E;
  ASSERT_TRUE(E.Available());
  TComplexArray S(4096);
  for (size_t I = 0; I < S.size(); ++I) {
    S[I].Re = static_cast<float>(std::cos(0.3 * static_cast<double>(I)) + 0.1 * std::sin(0.001 * I * I));
    S[I].Im = static_cast<float>(std::sin(0.3 * static_cast<double>(I)) + 0.1 * std::cos(0.002 * I * I));
  }
  TFloatArray Fc, Pc, Fg, Pg;
  ComputePSD(S, 1e6, 1024, 4, Fc, Pc);
  ASSERT_TRUE(E.ComputePSD_GPU(S, 1e6, 1024, 4, Fg, Pg));
  ASSERT_EQ(Pg.size(), Pc.size());
  const double Peak = *std::max_element(Pc.begin(), Pc.end());
  for (size_t I = 0; I < Pc.size(); ++I) {
    if (Pc[I] > Peak - 80.0) {
      EXPECT_NEAR(Pg[I], Pc[I], 0.002) << I;
    }
  }
}
