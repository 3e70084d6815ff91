// A PNG file of an RGB image, written without a compression library: the image data goes in
// stored (uncompressed) deflate blocks, which every PNG reader takes. Portable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The bytes of a PNG file of W x H RGB pixels (3 bytes each, top row first, no padding).
// Empty when the sizes do not fit the image.
std::vector<uint8_t> EncodePng(int32_t W, int32_t H, const std::vector<uint8_t> &RGB);
// CRC-32 (the PNG/zlib polynomial) and Adler-32 of a byte range, continued from Start.
uint32_t PngCrc32(const uint8_t *P, size_t N, uint32_t Start = 0);
uint32_t PngAdler32(const uint8_t *P, size_t N, uint32_t Start = 1);
