// Recordings named outside the ANSI code page (Cyrillic, Japanese) open in the viewer and give a
// thumbnail through the plug-in DLL, sidecar included, exactly as under a plain ASCII name.
#include "support/win32_TestHost.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

using namespace testhost;

namespace {

constexpr int IDC_STATUS = 1005;

std::vector<char> ToneCs16(size_t N) {
  std::vector<char> B(4 * N);
  for (size_t I = 0; I < N; ++I) {
    const double P = 2 * 3.14159265358979 * 0.07 * static_cast<double>(I);
    const int16_t V[2] = {static_cast<int16_t>(7000 * std::cos(P) + static_cast<double>(I % 13) * 40),
                          static_cast<int16_t>(7000 * std::sin(P))};
    std::memcpy(&B[4 * I], V, 4);
  }
  return B;
}

// Base.cs16 with 200,000 samples and, when Rate > 0, Base.txt giving that sample rate.
std::wstring Write(const std::wstring &Base, double Rate) {
  const std::wstring Path = TempFile((Base + L".cs16").c_str(), ToneCs16(200000));
  const std::wstring Side = Base + L".txt";
  if (Rate > 0) {
    const std::string S = "sample_rate_hz=" + std::to_string(static_cast<long long>(Rate)) + "\n";
    TempFile(Side.c_str(), std::vector<char>(S.begin(), S.end()));
  } else {
    wchar_t Dir[MAX_PATH];
    GetTempPathW(MAX_PATH, Dir);
    DeleteFileW((std::wstring(Dir) + Side).c_str());
  }
  return Path;
}

std::vector<uint8_t> Pixels(HBITMAP Bmp) {
  std::vector<uint8_t> P;
  DIBSECTION Ds{};
  if (Bmp && GetObjectW(Bmp, sizeof Ds, &Ds) == sizeof Ds && Ds.dsBm.bmBits) {
    const auto *B = static_cast<const uint8_t *>(Ds.dsBm.bmBits);
    P.assign(B, B + static_cast<size_t>(Ds.dsBm.bmWidthBytes) * static_cast<size_t>(Ds.dsBm.bmHeight));
  }
  if (Bmp)
    DeleteObject(Bmp);
  return P;
}

class UnicodeNamesGL : public PluginSuite {};

} // namespace

TEST_F(UnicodeNamesGL, ViewerAndThumbnailOfCyrillicAndJapaneseNames) {
  ASSERT_NE(plugin->Module, nullptr);
  // 100 kHz from the sidecar: 2.00 s, and a thumbnail of the first 50,000 samples; without the
  // sidecar the default 2 MHz gives 0.10 s and a thumbnail of 100,000 samples.
  const std::wstring Ascii = Write(L"zb_names_ascii", 100000);
  const std::wstring NoSidecar = Write(L"zb_names_nosidecar", 0);
  const std::vector<uint8_t> Want = Pixels(plugin->PreviewW(Ascii.c_str(), 96, 64, nullptr, 0));
  ASSERT_FALSE(Want.empty());
  ASSERT_NE(Pixels(plugin->PreviewW(NoSidecar.c_str(), 96, 64, nullptr, 0)), Want)
      << "the sidecar should change the thumbnail";

  HostWindow Host(640, 480);
  for (const wchar_t *Base : {L"zb_\u0437\u0430\u043f\u0438\u0441\u044c_\u0441\u0438\u0433\u043d\u0430\u043b",
                              L"zb_\u9332\u97f3_\u4fe1\u53f7\u30c6\u30b9\u30c8"}) {
    const std::wstring Path = Write(Base, 100000);
    EXPECT_EQ(Pixels(plugin->PreviewW(Path.c_str(), 96, 64, nullptr, 0)), Want) << "thumbnail";
    HWND Root = plugin->LoadW(Host.Wnd, Path.c_str(), 0);
    ASSERT_NE(Root, nullptr) << "viewer";
    HostWindow::Pump();
    const std::wstring Status = WindowText(GetDlgItem(Root, IDC_STATUS));
    EXPECT_EQ(Status.rfind(L"Pos: 0.00/2.00s", 0), 0u) << "the sidecar's rate: " << Status.size();
    plugin->Close(Root);
    EXPECT_FALSE(IsWindow(Root));
  }
}
