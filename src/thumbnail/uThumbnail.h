// Preview painter: a PSD of the start of a recording as coloured bars above a waterfall of the
// same samples, as 24-bit bottom-up pixel rows (blue, green, red; scan lines padded to 4 bytes).
// Portable: the Win32 side only puts these bytes into a DIB section.
#pragma once

#include "base/uGlobals.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr int32_t THUMB_MIN_SIZE = 16;        // smaller requests get no preview
inline constexpr int32_t THUMB_MAX_SAMPLES = 100000; // read at most this many samples...
inline constexpr double THUMB_MAX_SECONDS = 0.5;     // ...and at most this much time
inline constexpr int32_t THUMB_MIN_SAMPLES = 256;
inline constexpr int32_t THUMB_PSD_NFFT = 1024;
inline constexpr int32_t THUMB_MIN_NFFT = 64;
inline constexpr int32_t THUMB_MAX_WF_NFFT = 256;
inline constexpr float THUMB_MIN_DB = -10.0f;
inline constexpr float THUMB_MAX_DB = 45.0f;
inline constexpr uint8_t THUMB_BACKGROUND = 30;
inline constexpr int32_t THUMB_MIN_PSD_ROWS = 8;
inline constexpr int64_t THUMB_MAX_IMAGE_BYTES = 0x7FFFFFFF; // larger images are not made

// What the painter draws: the PSD levels and the waterfall rows (oldest first).
struct TThumbnailSpectra {
  TFloatArray PsdDb;
  TRowBuffer Rows;
  int32_t RowCount = 0;
};

// Reads the recording (and its sidecar, once) and computes its spectra. False when no preview
// is made (size below THUMB_MIN_SIZE or image above THUMB_MAX_IMAGE_BYTES, too few samples,
// FFT size too small); Why, when given, then says which. Throws when the file cannot be read.
bool ComputeThumbnailSpectra(const std::string &FileName, int32_t Width, int32_t Height,
                             TThumbnailSpectra &Out, std::string *Why = nullptr);

// Bytes per scan line: 3 * Width rounded up to a multiple of 4.
int64_t ThumbnailStride(int32_t Width);

// Height of the PSD band: two fifths of the height, at least THUMB_MIN_PSD_ROWS.
int32_t ThumbnailPsdHeight(int32_t Height);

// Paints the whole image into Pixels (ThumbnailStride(Width) * Height bytes), scan line 0 at
// the bottom: background, PSD bars in the top band, waterfall below.
void PaintThumbnail(const TThumbnailSpectra &S, int32_t Width, int32_t Height, uint8_t *Pixels);

// The 40-byte bitmap information header of a preview (24 bits, bottom-up, no compression),
// little-endian as stored in a BMP file.
std::array<uint8_t, 40> ThumbnailInfoHeader(int32_t Width, int32_t Height);

// Spectra and painting in one: false (Pixels empty) when no preview is made or anything fails,
// with the reason in Why when given. Never throws. The bytes equal those the preview exports
// put into their DIB section.
bool GenerateThumbnailPixels(const std::string &FileName, int32_t Width, int32_t Height,
                             std::vector<uint8_t> &Pixels, std::string *Why = nullptr);
