#include "render/uPngEncode.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace {

void Put32(std::vector<uint8_t> &Out, uint32_t V) {
  for (int S = 24; S >= 0; S -= 8)
    Out.push_back(static_cast<uint8_t>(V >> S));
}

void Chunk(std::vector<uint8_t> &Out, const char *Type, const std::vector<uint8_t> &Data) {
  Put32(Out, static_cast<uint32_t>(Data.size()));
  const size_t From = Out.size();
  Out.insert(Out.end(), Type, Type + 4);
  Out.insert(Out.end(), Data.begin(), Data.end());
  Put32(Out, PngCrc32(Out.data() + From, Out.size() - From));
}

} // namespace

uint32_t PngCrc32(const uint8_t *P, size_t N, uint32_t Start) {
  static const std::array<uint32_t, 256> Table = [] {
    std::array<uint32_t, 256> T{};
    for (uint32_t I = 0; I < 256; ++I) {
      uint32_t C = I;
      for (int K = 0; K < 8; ++K)
        C = (C & 1) ? 0xEDB88320u ^ (C >> 1) : C >> 1;
      T[I] = C;
    }
    return T;
  }();
  uint32_t C = ~Start;
  for (size_t I = 0; I < N; ++I)
    C = Table[(C ^ P[I]) & 0xFF] ^ (C >> 8);
  return ~C;
}

uint32_t PngAdler32(const uint8_t *P, size_t N, uint32_t Start) {
  uint32_t A = Start & 0xFFFF, B = Start >> 16;
  for (size_t I = 0; I < N; ++I) {
    A = (A + P[I]) % 65521u;
    B = (B + A) % 65521u;
  }
  return (B << 16) | A;
}

std::vector<uint8_t> EncodePng(int32_t W, int32_t H, const std::vector<uint8_t> &RGB) {
  if (W <= 0 || H <= 0 || W > (1 << 24) || H > (1 << 24) ||
      RGB.size() != static_cast<size_t>(W) * static_cast<size_t>(H) * 3)
    return {};
  // Scan lines with filter type 0 in front of each.
  const size_t Row = static_cast<size_t>(W) * 3;
  std::vector<uint8_t> Raw;
  Raw.reserve((Row + 1) * static_cast<size_t>(H));
  for (int32_t Y = 0; Y < H; ++Y) {
    Raw.push_back(0);
    Raw.insert(Raw.end(), RGB.begin() + static_cast<std::ptrdiff_t>(Row * Y),
               RGB.begin() + static_cast<std::ptrdiff_t>(Row * (Y + 1)));
  }
  // zlib stream: header, stored blocks of at most 65535 bytes, Adler-32.
  std::vector<uint8_t> Z = {0x78, 0x01};
  for (size_t At = 0; At < Raw.size() || At == 0; At += 65535) {
    const size_t Len = std::min<size_t>(65535, Raw.size() - At);
    Z.push_back(At + Len >= Raw.size() ? 1 : 0);
    Z.insert(Z.end(), {static_cast<uint8_t>(Len), static_cast<uint8_t>(Len >> 8), static_cast<uint8_t>(~Len),
                       static_cast<uint8_t>(~Len >> 8)});
    Z.insert(Z.end(), Raw.begin() + static_cast<std::ptrdiff_t>(At),
             Raw.begin() + static_cast<std::ptrdiff_t>(At + Len));
    if (Len == 0)
      break;
  }
  Put32(Z, PngAdler32(Raw.data(), Raw.size()));
  std::vector<uint8_t> Out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> Hdr;
  Put32(Hdr, static_cast<uint32_t>(W));
  Put32(Hdr, static_cast<uint32_t>(H));
  Hdr.insert(Hdr.end(), {8, 2, 0, 0, 0}); // 8 bits, RGB, deflate, no filter method, no interlace
  Chunk(Out, "IHDR", Hdr);
  Chunk(Out, "IDAT", Z);
  Chunk(Out, "IEND", {});
  return Out;
}
