// Soak: many viewer open/close cycles and thumbnails of varied sizes through the plug-in DLL;
// the process's GDI and USER objects and its private bytes must end where they started.
// ZB_SOAK_VIEWERS and ZB_SOAK_THUMBS set the counts (scripts/soak.sh runs 1,000 and 500); the
// defaults keep the test inside CI's time.
#include "support/win32_Resources.h"
#include "support/win32_TestHost.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace testhost;

namespace {

int Count(const char *Var, int Default) {
  const char *V = std::getenv(Var);
  const int N = V ? std::atoi(V) : 0;
  return N > 0 ? N : Default;
}

std::wstring SoakRecording() {
  const size_t N = 300000;
  std::vector<char> B(4 * N);
  for (size_t I = 0; I < N; ++I) {
    const double P = 2 * 3.14159265358979 * 0.13 * static_cast<double>(I);
    const int16_t V[2] = {static_cast<int16_t>(6000 * std::cos(P) + static_cast<double>(I % 7) * 30),
                          static_cast<int16_t>(6000 * std::sin(P))};
    std::memcpy(&B[4 * I], V, 4);
  }
  const std::string Side = "sample_rate_hz=250000\ncenter_freq_hz=433920000\n"
                           "signal=1;type=CW;freq_offset_hz=32500;bandwidth_hz=2000;start_s=0.1;end_s=0.9\n";
  TempFile(L"zb_soak.txt", std::vector<char>(Side.begin(), Side.end()));
  return TempFile(L"zb_soak.cs16", B);
}

double Seconds() {
  LARGE_INTEGER F{}, C{};
  QueryPerformanceFrequency(&F);
  QueryPerformanceCounter(&C);
  return static_cast<double>(C.QuadPart) / static_cast<double>(F.QuadPart);
}

// Sec: how long the N rounds took, for the record (what a flip saves over a new viewer).
void Report(const char *What, int N, const TResources &A, const TResources &B, double Sec) {
  std::printf("[ soak ] %s x%d (%.1f ms each): GDI %lu -> %lu, USER %lu -> %lu, private %.2f -> %.2f MiB, "
              "host anon %.2f -> %.2f MiB\n",
              What, N, 1000.0 * Sec / N, static_cast<unsigned long>(A.Gdi), static_cast<unsigned long>(B.Gdi),
              static_cast<unsigned long>(A.User), static_cast<unsigned long>(B.User),
              static_cast<double>(A.Private) / 1048576.0, static_cast<double>(B.Private) / 1048576.0,
              static_cast<double>(A.HostAnon) / 1048576.0, static_cast<double>(B.HostAnon) / 1048576.0);
  std::fflush(stdout);
}

// Allowance: at most 2 GDI and 2 USER objects more at the end, and at most 4 MiB more private
// memory (under Wine also of the whole process's anonymous memory). Wine's controls now and then
// create a brush of their own once (seen once in 1,000 cycles), and heap fragments and the C
// runtime's caches come and go; a leak of one object per 20 cycles, or of one 4 KiB page per
// cycle at the full 1,000, exceeds it.
constexpr DWORD OBJECT_ALLOWANCE = 2;
constexpr int64_t PRIVATE_ALLOWANCE = 4 << 20;

void ExpectFlat(const TResources &A, const TResources &B, const std::array<DWORD, 16> &TypesBefore) {
  EXPECT_LE(B.Gdi, A.Gdi + OBJECT_ALLOWANCE);
  EXPECT_LE(B.User, A.User + OBJECT_ALLOWANCE);
  EXPECT_LE(static_cast<int64_t>(B.Private) - static_cast<int64_t>(A.Private), PRIVATE_ALLOWANCE);
  EXPECT_LE(static_cast<int64_t>(B.HostAnon) - static_cast<int64_t>(A.HostAnon), PRIVATE_ALLOWANCE)
      << "memory of the whole Wine process, OpenGL driver included";
  if (B.Gdi != A.Gdi) {
    const std::array<DWORD, 16> TypesAfter = GdiObjectsByType();
    for (size_t T = 1; T < TypesAfter.size(); ++T)
      if (TypesAfter[T] != TypesBefore[T])
        std::printf("[ soak ] GDI objects of type %zu: %lu -> %lu\n", T,
                    static_cast<unsigned long>(TypesBefore[T]), static_cast<unsigned long>(TypesAfter[T]));
  }
}

class SoakGL : public PluginSuite {};

} // namespace

TEST_F(SoakGL, ViewerOpenCloseCyclesAndThumbnailsLeaveNothingBehind) {
  ASSERT_NE(plugin->Module, nullptr);
  const std::wstring File = SoakRecording();
  HostWindow Host(640, 480);
  const auto Cycle = [&] {
    HWND Root = plugin->LoadW(Host.Wnd, File.c_str(), 0);
    HostWindow::Pump(1);
    plugin->Close(Root);
    HostWindow::Pump(1);
    return Root != nullptr;
  };
  int Size = 0;
  const auto Thumb = [&] {
    // Widths and heights from 16 to 400 in an irregular walk, odd and even, square and not.
    Size = (Size * 37 + 11) % 385;
    const int W = 16 + Size, H = 16 + (Size * 7 + 3) % 300;
    HBITMAP B = plugin->PreviewW(File.c_str(), W, H, nullptr, 0);
    const bool Ok = B != nullptr;
    if (B)
      DeleteObject(B);
    return Ok;
  };
  // Warm-up: classes, OpenGL, the common controls and the heap reach their working size.
  for (int I = 0; I < 5; ++I) {
    ASSERT_TRUE(Cycle());
    ASSERT_TRUE(Thumb());
  }

  const int Viewers = Count("ZB_SOAK_VIEWERS", 40);
  const auto VTypes = GdiObjectsByType();
  const TResources V0 = TResources::Now();
  const double V0Sec = Seconds();
  int Failed = 0;
  for (int I = 0; I < Viewers; ++I)
    Failed += Cycle() ? 0 : 1;
  const double V1Sec = Seconds();
  const TResources V1 = TResources::Now();
  Report("viewer open/close", Viewers, V0, V1, V1Sec - V0Sec);
  EXPECT_EQ(Failed, 0);
  ExpectFlat(V0, V1, VTypes);

  const int Thumbs = Count("ZB_SOAK_THUMBS", 100);
  const auto TTypes = GdiObjectsByType();
  const TResources T0 = TResources::Now();
  const double T0Sec = Seconds();
  Failed = 0;
  for (int I = 0; I < Thumbs; ++I)
    Failed += Thumb() ? 0 : 1;
  const double T1Sec = Seconds();
  const TResources T1 = TResources::Now();
  Report("thumbnails", Thumbs, T0, T1, T1Sec - T0Sec);
  EXPECT_EQ(Failed, 0);
  ExpectFlat(T0, T1, TTypes);
}

// Flipping through files in one viewer: each flip replaces the recording, ring and texts but
// keeps the windows, context and renderer, so nothing may pile up over many flips.
TEST_F(SoakGL, FlipsInOneViewerLeaveNothingBehind) {
  ASSERT_NE(plugin->Module, nullptr);
  using ListLoadNextW_t = int(WINAPI *)(HWND, HWND, const wchar_t *, int);
  const auto NextW = reinterpret_cast<ListLoadNextW_t>(
      reinterpret_cast<void *>(GetProcAddress(plugin->Module, "ListLoadNextW")));
  ASSERT_NE(NextW, nullptr);
  // The soak recording (with its sidecar) and a shorter int8 one without: the ring, the rate and
  // the signals change on every flip.
  const std::wstring Files[] = {SoakRecording(), TempFile(L"zb_soak_flip.cs8", std::vector<char>(400000, 3))};
  HostWindow Host(640, 480);
  HWND Root = plugin->LoadW(Host.Wnd, Files[0].c_str(), 0);
  ASSERT_NE(Root, nullptr);
  int Flip = 0;
  const auto Next = [&] {
    const int R = NextW(Host.Wnd, Root, Files[++Flip % 2].c_str(), 0);
    HostWindow::Pump(1);
    return R == 0;
  };
  for (int I = 0; I < 6; ++I)
    ASSERT_TRUE(Next());
  const int Flips = Count("ZB_SOAK_FLIPS", 200);
  const auto Types = GdiObjectsByType();
  const TResources F0 = TResources::Now();
  const double F0Sec = Seconds();
  int Failed = 0;
  for (int I = 0; I < Flips; ++I)
    Failed += Next() ? 0 : 1;
  const double F1Sec = Seconds();
  const TResources F1 = TResources::Now();
  Report("flips in one viewer", Flips, F0, F1, F1Sec - F0Sec);
  EXPECT_EQ(Failed, 0);
  ExpectFlat(F0, F1, Types);
  plugin->Close(Root);
}
