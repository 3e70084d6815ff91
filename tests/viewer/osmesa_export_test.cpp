// Ctrl+S: the frame saved as PNG is the frame on screen. The file is read back by a small
// reader of the test's own (chunks, CRCs, stored deflate blocks, Adler-32) and compared pixel
// for pixel with the offscreen context's picture.
#include "viewer_fixtures.h"

#include "render/osmesa_uWinGL.h"
#include "render/uGLRenderer.h"
#include "render/uPngEncode.h"

#include <cstddef>
#include <fstream>
#include <iterator>

namespace {

uint32_t Be32(const std::vector<uint8_t> &B, size_t At) {
  return uint32_t{B[At]} << 24 | uint32_t{B[At + 1]} << 16 | uint32_t{B[At + 2]} << 8 | B[At + 3];
}

// The RGB pixels of a PNG as EncodePng writes it (stored blocks, filter 0); empty on any fault.
std::vector<uint8_t> ReadStoredPng(const std::vector<uint8_t> &F, int &W, int &H) {
  const uint8_t Sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (F.size() < 8 || !std::equal(Sig, Sig + 8, F.begin()))
    return {};
  std::vector<uint8_t> Z;
  for (size_t At = 8; At + 12 <= F.size();) {
    const uint32_t Len = Be32(F, At);
    const std::string Type(F.begin() + static_cast<std::ptrdiff_t>(At + 4),
                           F.begin() + static_cast<std::ptrdiff_t>(At + 8));
    if (PngCrc32(F.data() + At + 4, Len + 4) != Be32(F, At + 8 + Len))
      return {};
    if (Type == "IHDR")
      W = static_cast<int>(Be32(F, At + 8)), H = static_cast<int>(Be32(F, At + 12));
    if (Type == "IDAT")
      Z.insert(Z.end(), F.begin() + static_cast<std::ptrdiff_t>(At + 8),
               F.begin() + static_cast<std::ptrdiff_t>(At + 8 + Len));
    At += 12 + Len;
  }
  std::vector<uint8_t> Raw;
  size_t P = 2;
  for (bool Last = false; !Last && P + 5 <= Z.size();) {
    Last = Z[P] & 1;
    const size_t Len = Z[P + 1] | Z[P + 2] << 8;
    if ((Len ^ (Z[P + 3] | Z[P + 4] << 8)) != 0xFFFF)
      return {};
    Raw.insert(Raw.end(), Z.begin() + static_cast<std::ptrdiff_t>(P + 5),
               Z.begin() + static_cast<std::ptrdiff_t>(P + 5 + Len));
    P += 5 + Len;
  }
  if (P + 4 != Z.size() || PngAdler32(Raw.data(), Raw.size()) != Be32(Z, P))
    return {};
  std::vector<uint8_t> RGB;
  for (int Y = 0; Y < H; ++Y) {
    const auto Row = Raw.begin() + static_cast<std::ptrdiff_t>(Y) * (3 * W + 1);
    if (*Row != 0)
      return {};
    RGB.insert(RGB.end(), Row + 1, Row + 1 + 3 * W);
  }
  return RGB;
}

TEST(Export, KnownChecksums) {
  const std::string Wiki = "Wikipedia", End = "IEND";
  EXPECT_EQ(PngAdler32(reinterpret_cast<const uint8_t *>(Wiki.data()), Wiki.size()), 0x11E60398u);
  EXPECT_EQ(PngCrc32(reinterpret_cast<const uint8_t *>(End.data()), End.size()), 0xAE426082u);
  EXPECT_TRUE(EncodePng(0, 1, {}).empty());
  EXPECT_TRUE(EncodePng(2, 2, std::vector<uint8_t>(11)).empty());
  // More than one stored block (65535 bytes each).
  std::vector<uint8_t> Big(300 * 100 * 3);
  for (size_t I = 0; I < Big.size(); ++I)
    Big[I] = static_cast<uint8_t>(I * 7);
  int W = 0, H = 0;
  EXPECT_EQ(ReadStoredPng(EncodePng(300, 100, Big), W, H), Big);
  EXPECT_EQ(W, 300);
  EXPECT_EQ(H, 100);
}

TEST(Export, CtrlSSavesTheFrameOnScreen) {
  TTempDir D;
  const std::string F = D.File("rec.cs16");
  WriteInt16Recording(F, Sec(3), 0, Sec(1));
  TOSMesaDestroyContext Ctx(643, 301); // a width whose rows need padding elsewhere
  TGLRenderer Renderer;
  TViewerRig R;
  R.P.Width = 643, R.P.Height = 301;
  R.P.OnMakeCurrent = [&] {
    Ctx.MakeCurrent();
    return true;
  };
  R.C.SetRenderer(&Renderer);
  R.Open(F);
  R.C.SetMarker(0, 100e3);
  // Cancelled: nothing written, nothing said; the name offered is the recording's and position.
  EXPECT_TRUE(R.C.HandleViewerKey('S', KMOD_CTRL));
  EXPECT_EQ(R.P.SaveSuggested, "rec_0.000s.png");
  R.P.SavePath = D.File("frame.png");
  EXPECT_TRUE(R.C.HandleViewerKey('S', KMOD_CTRL));
  EXPECT_EQ(R.P.StatusText, "Saved " + R.P.SavePath);
  Ctx.Finish();
  std::ifstream In(R.P.SavePath, std::ios::binary);
  const std::vector<uint8_t> Bytes{std::istreambuf_iterator<char>(In), {}};
  int W = 0, H = 0;
  const std::vector<uint8_t> Got = ReadStoredPng(Bytes, W, H);
  EXPECT_EQ(W, 643);
  EXPECT_EQ(H, 301);
  EXPECT_EQ(Got, Ctx.RGBTopDown());
  R.C.SetRenderer(nullptr);
}

} // namespace
