// Offscreen Mesa context and the entry-point table filled from it. The system GL headers are
// not included: their prototypes share the names of the table's members.
#include "render/osmesa_uWinGL.h"

#include "render/uWinGL.h"

#include <stdexcept>
#include <string>
#include <utility>

extern "C" {
using OSMesaContext = osmesa_context *;
OSMesaContext OSMesaCreateContextExt(GLenum format, GLint depthBits, GLint stencilBits, GLint accumBits,
                                     OSMesaContext sharelist);
void OSMesaDestroyContext(OSMesaContext ctx);
unsigned char OSMesaMakeCurrent(OSMesaContext ctx, void *buffer, GLenum type, GLsizei width, GLsizei height);
using OSMESAproc = void (*)();
OSMESAproc OSMesaGetProcAddress(const char *funcName);
}

namespace {
constexpr GLenum OSMESA_RGBA = 0x1908; // GL_RGBA
} // namespace

bool LoadOpenGLOffscreen() {
  if (GL.glViewport)
    return true;
  // The WGL entries have no offscreen counterpart and stay null.
  LoadGLEntries(
      GL, [](const char *Name) { return reinterpret_cast<void *>(OSMesaGetProcAddress(Name)); }, false);
  return GLDrawingEntriesLoaded(GL);
}

TOSMesaDestroyContext::TOSMesaDestroyContext(int32_t AWidth, int32_t AHeight)
    : FWidth(AWidth), FHeight(AHeight) {
  if (AWidth <= 0 || AHeight <= 0)
    throw std::runtime_error("offscreen context: bad size " + std::to_string(AWidth) + "x" +
                             std::to_string(AHeight));
  FBuffer.assign(static_cast<size_t>(AWidth) * static_cast<size_t>(AHeight) * 4, 0);
  FCtx = OSMesaCreateContextExt(OSMESA_RGBA, 24, 8, 0, nullptr);
  if (!FCtx)
    throw std::runtime_error("offscreen context: OSMesaCreateContextExt failed");
  MakeCurrent();
  if (!LoadOpenGLOffscreen()) {
    OSMesaDestroyContext(std::exchange(FCtx, nullptr));
    throw std::runtime_error("offscreen context: OpenGL entry points missing");
  }
}

TOSMesaDestroyContext::~TOSMesaDestroyContext() {
  if (FCtx)
    OSMesaDestroyContext(FCtx);
}

TOSMesaDestroyContext::TOSMesaDestroyContext(TOSMesaDestroyContext &&o) noexcept
    : FCtx(std::exchange(o.FCtx, nullptr)), FWidth(o.FWidth), FHeight(o.FHeight),
      FBuffer(std::move(o.FBuffer)) {}

TOSMesaDestroyContext &TOSMesaDestroyContext::operator=(TOSMesaDestroyContext &&o) noexcept {
  if (this != &o) {
    if (FCtx)
      OSMesaDestroyContext(FCtx);
    FCtx = std::exchange(o.FCtx, nullptr);
    FWidth = o.FWidth;
    FHeight = o.FHeight;
    FBuffer = std::move(o.FBuffer);
  }
  return *this;
}

void TOSMesaDestroyContext::MakeCurrent() {
  // The vector's storage does not move with the object, so the buffer stays valid after a move.
  if (!FCtx || !OSMesaMakeCurrent(FCtx, FBuffer.data(), GL_UNSIGNED_BYTE, FWidth, FHeight))
    throw std::runtime_error("offscreen context: OSMesaMakeCurrent failed");
}

void TOSMesaDestroyContext::Finish() {
  if (GL.glFinish)
    GL.glFinish();
}

TRGBA8 TOSMesaDestroyContext::Pixel(int32_t X, int32_t Y) const {
  if (X < 0 || Y < 0 || X >= FWidth || Y >= FHeight)
    return {};
  const uint8_t *P =
      FBuffer.data() + (static_cast<size_t>(Y) * static_cast<size_t>(FWidth) + static_cast<size_t>(X)) * 4;
  return {P[0], P[1], P[2], P[3]};
}

std::vector<uint8_t> TOSMesaDestroyContext::RGBTopDown() const {
  std::vector<uint8_t> Out(static_cast<size_t>(FWidth) * static_cast<size_t>(FHeight) * 3);
  size_t o = 0;
  for (int32_t y = FHeight - 1; y >= 0; --y)
    for (int32_t x = 0; x < FWidth; ++x) {
      const TRGBA8 P = Pixel(x, y);
      Out[o++] = P.R;
      Out[o++] = P.G;
      Out[o++] = P.B;
    }
  return Out;
}
