#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes 8-bit RGB rows (top row first, 3 bytes per pixel) as a PNG. Returns false on I/O failure.
bool WritePngRgb(const std::wstring &path, int width, int height, const std::vector<uint8_t> &rgb);
