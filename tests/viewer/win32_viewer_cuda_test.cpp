// Which engine the viewer runs on, through the plug-in as a file manager's process loads it, with
// the fake CUDA DLLs the tests build (<exe folder>\fake_cuda\full) planted in one place or
// another. The engine is made once per process, so every case is a listerhost process of its own
// with its own environment and current directory.
#include "support/win32_FakeCudaTree.h"
#include "support/win32_TestHost.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace testhost;

namespace {

// The current environment without the variables the CUDA search reads, plus Extra
// ("NAME=value" items); PATH is OrigPath unless Extra names it.
std::vector<wchar_t> Environment(const std::vector<std::wstring> &Extra, std::wstring &OrigPath) {
  std::vector<std::wstring> Vars;
  LPWCH Block = GetEnvironmentStringsW();
  for (const wchar_t *E = Block; *E; E += wcslen(E) + 1) {
    const std::wstring Entry(E);
    const std::wstring Name = Entry.substr(0, Entry.find(L'=', 1));
    if (_wcsicmp(Name.c_str(), L"PATH") == 0)
      OrigPath = Entry.substr(Name.size() + 1);
    else if (_wcsnicmp(Name.c_str(), L"CUDA_PATH", 9) != 0)
      Vars.push_back(Entry);
  }
  FreeEnvironmentStringsW(Block);
  bool HasPath = false;
  for (const std::wstring &X : Extra) {
    Vars.push_back(X);
    HasPath = HasPath || _wcsnicmp(X.c_str(), L"PATH=", 5) == 0;
  }
  if (!HasPath)
    Vars.push_back(L"PATH=" + OrigPath);
  std::vector<wchar_t> Out;
  for (const std::wstring &V : Vars) {
    Out.insert(Out.end(), V.begin(), V.end());
    Out.push_back(L'\0');
  }
  Out.push_back(L'\0');
  return Out;
}

std::string ReadFileText(const std::wstring &Path) {
  std::string S;
  if (FILE *F = _wfopen(Path.c_str(), L"rb")) {
    char Buf[1024];
    size_t N;
    while ((N = std::fread(Buf, 1, sizeof Buf, F)) > 0)
      S.append(Buf, N);
    std::fclose(F);
  }
  return S;
}

// Starts Host on File with the environment and current directory given; it writes the viewer's
// title and status line to Out.
HANDLE StartHost(const std::wstring &Host, const std::wstring &File, const std::wstring &Out,
                 std::vector<wchar_t> Env, const std::wstring &Cwd) {
  std::wstring Cmd =
      L"\"" + Host + L"\" --plugin \"" + PluginPath() + L"\" \"" + File + L"\" --texts \"" + Out + L"\"";
  // Its chatter on standard output is not wanted here; its complaints on standard error are.
  SECURITY_ATTRIBUTES Sa{sizeof Sa, nullptr, TRUE};
  HANDLE Nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &Sa, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW Si{};
  Si.cb = sizeof Si;
  Si.dwFlags = STARTF_USESTDHANDLES;
  Si.hStdOutput = Nul;
  Si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION Pi{};
  const BOOL Started = CreateProcessW(nullptr, Cmd.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                                      Env.data(), Cwd.c_str(), &Si, &Pi);
  if (Nul != INVALID_HANDLE_VALUE)
    CloseHandle(Nul);
  if (!Started)
    return nullptr;
  CloseHandle(Pi.hThread);
  return Pi.hProcess;
}

// What a started host wrote, or why there is nothing.
std::string FinishHost(HANDLE Process, const std::wstring &Out) {
  if (!Process)
    return "cannot start listerhost";
  const DWORD Wait = WaitForSingleObject(Process, 120000);
  DWORD Code = 1;
  GetExitCodeProcess(Process, &Code);
  if (Wait != WAIT_OBJECT_0)
    TerminateProcess(Process, 1);
  CloseHandle(Process);
  if (Wait != WAIT_OBJECT_0)
    return "listerhost did not finish";
  if (Code != 0)
    return "listerhost exit code " + std::to_string(Code);
  return ReadFileText(Out);
}

} // namespace

// Only trusted places count: the toolkit's CUDA_PATH\bin, the application folder and absolute
// PATH folders; a DLL planted in the folder being browsed (the current directory), or reached
// through a relative PATH entry, never loads.
TEST(ViewerCudaGL, TitleAndStatusFollowWhereTheLibrariesAre) {
  ASSERT_NE(GetFileAttributesW((ExeDir() + L"fake_cuda\\full\\cudart64_12.dll").c_str()),
            INVALID_FILE_ATTRIBUTES);
  const std::wstring Listerhost = ExeDir() + L"listerhost.exe";
  ASSERT_NE(GetFileAttributesW(Listerhost.c_str()), INVALID_FILE_ATTRIBUTES);
  // Which engine computes the PSD is the engine's measurement (the fakes are far slower than the
  // CPU); the title tells where the libraries were found.
  const std::string Gpu = "root: Zembrola [GPU: CUDA GPU]\nstatus: Pos: 0.00/0.50s | [";
  const std::string Cpu = "root: Zembrola [CPU only - no CUDA]\nstatus: Pos: 0.00/0.50s | [CPU] IO:";

  TFakeCudaTree Tree;
  // Half a second at the default 2 MHz, int16 I/Q.
  const std::wstring Browsed = Tree.Folder(L"browsed");
  const std::wstring File = Browsed + L"\\rec.cs16";
  {
    std::vector<char> Bytes(1000000 * 4, 0);
    for (size_t I = 0; I < Bytes.size(); I += 4)
      Bytes[I] = static_cast<char>((I / 4) % 7 * 30);
    HANDLE H =
        CreateFileW(File.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(H, INVALID_HANDLE_VALUE);
    DWORD Written = 0;
    WriteFile(H, Bytes.data(), static_cast<DWORD>(Bytes.size()), &Written, nullptr);
    CloseHandle(H);
  }
  std::wstring OrigPath;
  Environment({}, OrigPath);

  struct TCase {
    const char *What;
    std::wstring Host, Cwd;
    std::vector<std::wstring> Env;
    bool WantGpu;
  };
  std::vector<TCase> Cases;
  Tree.Plant(L"browsed");
  Cases.push_back(
      {"no trusted place holds them (only the current directory)", Listerhost, Browsed, {}, false});
  Tree.Plant(L"browsed\\sub");
  Cases.push_back({"relative PATH entries", Listerhost, Browsed, {L"PATH=sub;.\\sub;.;" + OrigPath}, false});
  Cases.push_back(
      {"CUDA_PATH\\bin", Listerhost, Browsed, {L"CUDA_PATH=" + Tree.Root() + L"\\toolkit"}, true});
  Tree.Plant(L"toolkit\\bin");
  Cases.push_back({"absolute PATH folder",
                   Listerhost,
                   Browsed,
                   {L"PATH=" + OrigPath + L";" + Tree.Plant(L"onpath")},
                   true});
  // The host's own folder: a copy of the host beside the libraries.
  const std::wstring App = Tree.Plant(L"app");
  ASSERT_TRUE(CopyFileW(Listerhost.c_str(), (App + L"\\listerhost.exe").c_str(), FALSE));
  Cases.push_back({"application folder", App + L"\\listerhost.exe", Browsed, {}, true});

  // The cases run side by side: each is a process start and a viewer's first frame.
  std::vector<HANDLE> Processes;
  std::vector<std::wstring> Outs;
  for (const TCase &C : Cases) {
    std::wstring Unused;
    Outs.push_back(Tree.Root() + L"\\texts" + std::to_wstring(Outs.size()) + L".txt");
    Processes.push_back(StartHost(C.Host, File, Outs.back(), Environment(C.Env, Unused), C.Cwd));
  }
  for (size_t I = 0; I < Cases.size(); ++I) {
    SCOPED_TRACE(Cases[I].What);
    const std::string Texts = FinishHost(Processes[I], Outs[I]);
    const std::string &Want = Cases[I].WantGpu ? Gpu : Cpu;
    EXPECT_EQ(Texts.substr(0, Want.size()), Want) << Texts;
  }
}
