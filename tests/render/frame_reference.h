// The comparison frame shared by the offscreen tests (which keep the stored reference current)
// and the Windows tests (which compare the frame drawn on a real window with it). Stored as
// runs of equal pixels, hex-encoded: (count 1..255, R, G, B) per run, image rows top first.
#pragma once

#include "render/uDemoFrame.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

inline constexpr int32_t REF_W = 320;
inline constexpr int32_t REF_H = 240;

// Inputs of the comparison frame: the demonstration frame without noise, at 320 x 240.
inline TDemoFrame ComparisonFrame() {
  return MakeDemoFrame(256, 60, false);
}

inline std::string EncodeFrame(const std::vector<uint8_t> &RGB) {
  static const char *Hex = "0123456789abcdef";
  std::string Out;
  const size_t N = RGB.size() / 3;
  for (size_t i = 0; i < N;) {
    size_t Run = 1;
    while (i + Run < N && Run < 255 && RGB[3 * (i + Run)] == RGB[3 * i] &&
           RGB[3 * (i + Run) + 1] == RGB[3 * i + 1] && RGB[3 * (i + Run) + 2] == RGB[3 * i + 2])
      ++Run;
    const uint8_t B[4] = {static_cast<uint8_t>(Run), RGB[3 * i], RGB[3 * i + 1], RGB[3 * i + 2]};
    for (uint8_t V : B) {
      Out += Hex[V >> 4];
      Out += Hex[V & 15];
    }
    i += Run;
  }
  return Out;
}

inline std::vector<uint8_t> DecodeFrame(const std::string &Text) {
  auto Nib = [](char C) { return C <= '9' ? C - '0' : C - 'a' + 10; };
  std::vector<uint8_t> Out;
  for (size_t i = 0; i + 8 <= Text.size(); i += 8) {
    uint8_t B[4];
    for (int k = 0; k < 4; ++k)
      B[k] = static_cast<uint8_t>(Nib(Text[i + 2 * k]) * 16 + Nib(Text[i + 2 * k + 1]));
    for (int r = 0; r < B[0]; ++r)
      Out.insert(Out.end(), {B[1], B[2], B[3]});
  }
  return Out;
}

// Pixels whose colour differs by more than Tol in any channel.
inline int CountDifferentPixels(const std::vector<uint8_t> &A, const std::vector<uint8_t> &B, int Tol) {
  if (A.size() != B.size())
    return -1;
  int N = 0;
  for (size_t i = 0; i + 2 < A.size(); i += 3)
    if (std::abs(A[i] - B[i]) > Tol || std::abs(A[i + 1] - B[i + 1]) > Tol ||
        std::abs(A[i + 2] - B[i + 2]) > Tol)
      ++N;
  return N;
}

// Like CountDifferentPixels, but only over the pixels whose 3 x 3 neighbourhood in the
// reference A is one colour: away from the edges of lines, glyphs and texels, where
// rasterisers may legitimately differ, every driver must give the same colours. Counts the
// pixels compared into Compared.
inline int CountDifferentFlatPixels(const std::vector<uint8_t> &A, const std::vector<uint8_t> &B, int W,
                                    int H, int Tol, int &Compared) {
  Compared = 0;
  if (A.size() != B.size() || A.size() != static_cast<size_t>(W) * static_cast<size_t>(H) * 3)
    return -1;
  auto At = [&](const std::vector<uint8_t> &V, int X, int Y, int C) {
    return V[(static_cast<size_t>(Y) * W + X) * 3 + C];
  };
  int N = 0;
  for (int y = 1; y + 1 < H; ++y)
    for (int x = 1; x + 1 < W; ++x) {
      bool Flat = true;
      for (int dy = -1; dy <= 1 && Flat; ++dy)
        for (int dx = -1; dx <= 1 && Flat; ++dx)
          for (int c = 0; c < 3; ++c)
            Flat = Flat && At(A, x + dx, y + dy, c) == At(A, x, y, c);
      if (!Flat)
        continue;
      ++Compared;
      for (int c = 0; c < 3; ++c)
        if (std::abs(At(A, x, y, c) - At(B, x, y, c)) > Tol) {
          ++N;
          break;
        }
    }
  return N;
}

// The stored reference (frame_reference.inc, written by the offscreen test when
// ZB_WRITE_FRAME_REFERENCE names the file to write).
inline std::string StoredFrameReference() {
  static const char *const Parts[] = {
#include "render/frame_reference.inc"
  };
  std::string S;
  for (const char *P : Parts)
    S += P;
  return S;
}
