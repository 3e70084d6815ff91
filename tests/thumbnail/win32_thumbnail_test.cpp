// The preview exports of the plug-in DLL, loaded the way the file manager loads it, against the
// portable painter's bytes for the same file.
#include "support/win32_TestHost.h"

#include "base/win32_uPath.h"
#include "thumbnail/uThumbnail.h"
#include "thumbnail/win32_uThumbnail.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

namespace {

// int16 I/Q bytes: two tones and a slow sweep, so that bars and rows vary.
std::vector<char> Cs16Bytes(size_t N) {
  std::vector<char> B(4 * N);
  for (size_t I = 0; I < N; ++I) {
    const double T = static_cast<double>(I);
    const double Re = 9000 * std::cos(2 * std::numbers::pi * 0.11 * T) +
                      3000 * std::cos(2 * std::numbers::pi * (-0.3 * T + 2e-6 * T * T)) +
                      50 * std::sin(T * 1.7);
    const double Im = 9000 * std::sin(2 * std::numbers::pi * 0.11 * T) +
                      3000 * std::sin(2 * std::numbers::pi * (-0.3 * T + 2e-6 * T * T)) +
                      50 * std::cos(T * 2.3);
    const int16_t V[2] = {static_cast<int16_t>(std::lround(Re)), static_cast<int16_t>(std::lround(Im))};
    std::memcpy(&B[4 * I], V, 4);
  }
  return B;
}

struct TDib {
  bool Ok = false;
  BITMAPINFOHEADER Header{};
  std::vector<uint8_t> Bytes;
};

// Header and pixel bytes of a DIB section; deletes the bitmap, which the caller owns.
TDib ReadDib(HBITMAP Bmp) {
  TDib D;
  if (!Bmp)
    return D;
  DIBSECTION Ds{};
  if (GetObjectW(Bmp, sizeof Ds, &Ds) == sizeof Ds && Ds.dsBm.bmBits) {
    D.Ok = true;
    D.Header = Ds.dsBmih;
    const size_t Size = static_cast<size_t>(Ds.dsBm.bmWidthBytes) * static_cast<size_t>(Ds.dsBm.bmHeight);
    D.Bytes.assign(static_cast<const uint8_t *>(Ds.dsBm.bmBits),
                   static_cast<const uint8_t *>(Ds.dsBm.bmBits) + Size);
  }
  DeleteObject(Bmp);
  return D;
}

class PreviewExports : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    Host = new testhost::Plugin();
    Path = testhost::TempFile(L"zb_thumb_pr\u00e9view.cs16", Cs16Bytes(30000));
    Short = testhost::TempFile(L"zb_thumb_short.cs16", Cs16Bytes(255));
  }
  static void TearDownTestSuite() {
    DeleteFileW(Path.c_str());
    DeleteFileW(Short.c_str());
    delete Host;
    Host = nullptr;
  }
  static testhost::Plugin *Host;
  static std::wstring Path, Short;
};

testhost::Plugin *PreviewExports::Host = nullptr;
std::wstring PreviewExports::Path;
std::wstring PreviewExports::Short;

} // namespace

TEST_F(PreviewExports, DibSectionEqualsPortablePainter) {
  ASSERT_NE(Host->Module, nullptr) << "plug-in not found next to the test";
  ASSERT_NE(Host->PreviewW, nullptr);
  ASSERT_NE(Host->Preview, nullptr);
  const std::string Utf8 = TcPathToString(Path.c_str());
  char AnsiBuf[MAX_PATH] = {};
  WideCharToMultiByte(CP_ACP, 0, Path.c_str(), -1, AnsiBuf, MAX_PATH, nullptr, nullptr);
  const std::string Ansi = AnsiBuf;
  ASSERT_FALSE(Ansi.empty());
  const struct { int W, H; } Sizes[] = {{16, 16}, {37, 50}, {128, 96}, {201, 17}};
  for (const auto &S : Sizes) {
    std::vector<uint8_t> Expect;
    ASSERT_TRUE(GenerateThumbnailPixels(Utf8, S.W, S.H, Expect));
    const TDib D = ReadDib(Host->PreviewW(Path.c_str(), S.W, S.H, nullptr, 0));
    ASSERT_TRUE(D.Ok) << S.W << "x" << S.H;
    EXPECT_EQ(D.Header.biSize, 40u);
    EXPECT_EQ(D.Header.biWidth, S.W);
    EXPECT_EQ(D.Header.biHeight, S.H); // positive: bottom-up
    EXPECT_EQ(D.Header.biPlanes, 1);
    EXPECT_EQ(D.Header.biBitCount, 24);
    EXPECT_EQ(D.Header.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(D.Header.biClrUsed, 0u);
    EXPECT_EQ(D.Bytes.size(), Expect.size());
    EXPECT_TRUE(D.Bytes == Expect) << S.W << "x" << S.H;
    // The ANSI entry point with the same name gives the same picture.
    const TDib A = ReadDib(Host->Preview(Ansi.c_str(), S.W, S.H, nullptr, 0));
    ASSERT_TRUE(A.Ok);
    EXPECT_TRUE(A.Bytes == D.Bytes);
    // And so does the code linked into this test, without the DLL.
    const TDib L = ReadDib(PreviewBitmapW(Path.c_str(), S.W, S.H));
    ASSERT_TRUE(L.Ok);
    EXPECT_TRUE(L.Bytes == D.Bytes);
  }
}

TEST_F(PreviewExports, NoPreviewCases) {
  ASSERT_NE(Host->PreviewW, nullptr);
  ASSERT_NE(Host->Preview, nullptr);
  EXPECT_EQ(Host->PreviewW(Path.c_str(), 15, 100, nullptr, 0), nullptr);
  EXPECT_EQ(Host->PreviewW(Path.c_str(), 100, 15, nullptr, 0), nullptr);
  EXPECT_EQ(Host->PreviewW(Path.c_str(), -5, -5, nullptr, 0), nullptr);
  EXPECT_EQ(Host->PreviewW(Short.c_str(), 64, 64, nullptr, 0), nullptr);
  const std::wstring Missing = Path + L".missing";
  EXPECT_EQ(Host->PreviewW(Missing.c_str(), 64, 64, nullptr, 0), nullptr);
  EXPECT_EQ(Host->PreviewW(nullptr, 64, 64, nullptr, 0), nullptr);
  EXPECT_EQ(Host->PreviewW(L"", 64, 64, nullptr, 0), nullptr);
  EXPECT_EQ(Host->Preview(nullptr, 64, 64, nullptr, 0), nullptr);
  EXPECT_EQ(Host->Preview("", 64, 64, nullptr, 0), nullptr);
  EXPECT_EQ(Host->Preview(TcPathToString(Missing.c_str()).c_str(), 64, 64, nullptr, 0), nullptr);
  // A size whose bitmap cannot be made is no preview, not a crash.
  EXPECT_EQ(Host->PreviewW(Path.c_str(), 100000, 100000, nullptr, 0), nullptr);
}
