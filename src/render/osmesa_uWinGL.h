// Native offscreen OpenGL: fills the entry-point table of uWinGL from Mesa's offscreen
// renderer so that tests, tools and benchmarks draw real frames into memory.
#pragma once

#include <cstdint>
#include <vector>

struct osmesa_context;

struct TRGBA8 {
  uint8_t R = 0, G = 0, B = 0, A = 0;
  bool operator==(const TRGBA8 &) const = default;
};

// Fills GL from the offscreen library (the two WGL entries stay null). Idempotent.
bool LoadOpenGLOffscreen();

// An offscreen RGBA context of a fixed size with its own colour buffer; destroyed with the
// object (move-only). The constructor makes it current and loads the table; throws
// std::runtime_error when Mesa cannot create it.
class TOSMesaDestroyContext {
public:
  TOSMesaDestroyContext(int32_t AWidth, int32_t AHeight);
  ~TOSMesaDestroyContext();
  TOSMesaDestroyContext(TOSMesaDestroyContext &&o) noexcept;
  TOSMesaDestroyContext &operator=(TOSMesaDestroyContext &&o) noexcept;
  TOSMesaDestroyContext(const TOSMesaDestroyContext &) = delete;
  TOSMesaDestroyContext &operator=(const TOSMesaDestroyContext &) = delete;

  void MakeCurrent();
  // Waits until every queued command has reached the colour buffer.
  void Finish();
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  // Pixel at (X, Y) in GL coordinates (origin bottom-left); call Finish first.
  TRGBA8 Pixel(int32_t X, int32_t Y) const;
  // The frame as RGB bytes, top row first (image order).
  std::vector<uint8_t> RGBTopDown() const;

private:
  osmesa_context *FCtx = nullptr;
  int32_t FWidth = 0, FHeight = 0;
  std::vector<uint8_t> FBuffer; // RGBA, bottom row first
};
