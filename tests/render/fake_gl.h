// A recording stand-in for the OpenGL entry-point table: every primitive the renderer emits is
// kept with its vertices, colours and the state it was drawn under, so tests can check exact
// coordinates without a rasteriser. Installing it replaces the process-wide table; the guard
// restores the previous one.
#pragma once

#include "render/uFont.h"
#include "render/uWinGL.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct TFakeVtx {
  float X = 0, Y = 0;
  float R = 0, G = 0, B = 0, A = 1;
  float S = 0, T = 0;
};

struct TFakePrim {
  GLenum Mode = 0;
  std::vector<TFakeVtx> V;
  float LineWidth = 1;
  bool Blend = false, Scissor = false, Smooth = false, Texture = false;
};

struct TFakeTexUpload {
  GLuint Name = 0;
  int W = 0, H = 0;
  std::vector<uint8_t> Data;
};

// One partial upload: rows Y .. Y + H - 1 of the bound texture.
struct TFakeTexSubUpload {
  GLuint Name = 0;
  int X = 0, Y = 0, W = 0, H = 0;
};

// A texture's current content as the driver would hold it: rows of 3 * W tightly packed bytes.
struct TFakeTexImage {
  int W = 0, H = 0;
  std::vector<uint8_t> Texels;
};

struct TFakeGLState {
  std::vector<TFakePrim> Prims;
  std::vector<std::string> Calls; // state changes and clears, in order
  float R = 1, G = 1, B = 1, A = 1, S = 0, T = 0;
  float LineWidth = 1;
  bool Blend = false, Scissor = false, Smooth = false, Texture = false;
  int ScissorBox[4] = {0, 0, 0, 0};
  double Ortho[6] = {0, 0, 0, 0, 0, 0};
  GLuint NextTex = 1;
  GLuint BoundTex = 0;
  std::vector<GLuint> Deleted;
  std::vector<TFakeTexUpload> Uploads;
  std::vector<TFakeTexSubUpload> SubUploads;
  std::map<GLuint, TFakeTexImage> Images;
  std::vector<std::pair<GLenum, GLint>> TexParams;
  bool InBegin = false;
};

inline TFakeGLState &Fake() {
  static TFakeGLState S;
  return S;
}

namespace fakegl {
inline void ZB_GLAPI Viewport(GLint x, GLint y, GLsizei w, GLsizei h) {
  Fake().Calls.push_back("Viewport " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(w) +
                         " " + std::to_string(h));
}
inline void ZB_GLAPI Clear(GLbitfield) {
  Fake().Calls.push_back("Clear");
}
inline void ZB_GLAPI ClearColor(GLclampf, GLclampf, GLclampf, GLclampf) {}
inline void ZB_GLAPI MatrixMode(GLenum) {}
inline void ZB_GLAPI LoadIdentity() {}
inline void ZB_GLAPI Ortho(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f) {
  double *o = Fake().Ortho;
  o[0] = l, o[1] = r, o[2] = b, o[3] = t, o[4] = n, o[5] = f;
}
inline void ZB_GLAPI Begin(GLenum m) {
  TFakeGLState &F = Fake();
  TFakePrim P;
  P.Mode = m;
  P.LineWidth = F.LineWidth;
  P.Blend = F.Blend, P.Scissor = F.Scissor, P.Smooth = F.Smooth, P.Texture = F.Texture;
  F.Prims.push_back(P);
  F.InBegin = true;
}
inline void ZB_GLAPI End() {
  Fake().InBegin = false;
}
inline void ZB_GLAPI Vertex2f(GLfloat x, GLfloat y) {
  TFakeGLState &F = Fake();
  if (!F.InBegin) {
    F.Calls.push_back("VertexOutsideBegin");
    return;
  }
  F.Prims.back().V.push_back({x, y, F.R, F.G, F.B, F.A, F.S, F.T});
}
inline void ZB_GLAPI Color3f(GLfloat r, GLfloat g, GLfloat b) {
  Fake().R = r, Fake().G = g, Fake().B = b, Fake().A = 1;
}
inline void ZB_GLAPI Color4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a) {
  Fake().R = r, Fake().G = g, Fake().B = b, Fake().A = a;
}
inline void ZB_GLAPI LineWidth(GLfloat w) {
  Fake().LineWidth = w;
}
inline void SetCap(GLenum cap, bool on) {
  TFakeGLState &F = Fake();
  F.Calls.push_back(std::string(on ? "Enable " : "Disable ") + std::to_string(cap));
  if (cap == GL_BLEND)
    F.Blend = on;
  else if (cap == GL_SCISSOR_TEST)
    F.Scissor = on;
  else if (cap == GL_LINE_SMOOTH)
    F.Smooth = on;
  else if (cap == GL_TEXTURE_2D)
    F.Texture = on;
}
inline void ZB_GLAPI Enable(GLenum cap) {
  SetCap(cap, true);
}
inline void ZB_GLAPI Disable(GLenum cap) {
  SetCap(cap, false);
}
inline void ZB_GLAPI Scissor(GLint x, GLint y, GLsizei w, GLsizei h) {
  int *s = Fake().ScissorBox;
  s[0] = x, s[1] = y, s[2] = w, s[3] = h;
}
inline void ZB_GLAPI BlendFunc(GLenum, GLenum) {}
inline void ZB_GLAPI GenTextures(GLsizei n, GLuint *t) {
  for (GLsizei i = 0; i < n; ++i)
    t[i] = Fake().NextTex++;
}
inline void ZB_GLAPI BindTexture(GLenum, GLuint t) {
  Fake().BoundTex = t;
}
inline void ZB_GLAPI TexImage2D(GLenum, GLint, GLint, GLsizei w, GLsizei h, GLint, GLenum, GLenum,
                                const GLvoid *p) {
  // What a driver reads with the default unpack alignment of 4.
  const size_t Stride = (static_cast<size_t>(w) * 3 + 3) / 4 * 4;
  const auto *B = static_cast<const uint8_t *>(p);
  Fake().Uploads.push_back(
      {Fake().BoundTex, w, h, std::vector<uint8_t>(B, B + Stride * static_cast<size_t>(h))});
  TFakeTexImage &Img = Fake().Images[Fake().BoundTex];
  Img.W = w, Img.H = h;
  Img.Texels.assign(static_cast<size_t>(w) * 3 * static_cast<size_t>(h), 0);
  for (int y = 0; y < h; ++y)
    std::copy(
        B + static_cast<size_t>(y) * Stride, B + static_cast<size_t>(y) * Stride + static_cast<size_t>(w) * 3,
        Img.Texels.begin() + static_cast<ptrdiff_t>(static_cast<size_t>(y) * static_cast<size_t>(w) * 3));
}
// Writes rows into the bound texture's content; a region outside it is recorded as an error.
inline void ZB_GLAPI TexSubImage2D(GLenum, GLint, GLint x, GLint y, GLsizei w, GLsizei h, GLenum, GLenum,
                                   const GLvoid *p) {
  TFakeGLState &F = Fake();
  F.SubUploads.push_back({F.BoundTex, x, y, w, h});
  TFakeTexImage &Img = F.Images[F.BoundTex];
  if (x < 0 || y < 0 || w < 0 || h < 0 || x + w > Img.W || y + h > Img.H) {
    F.Calls.push_back("TexSubImage2D outside the texture");
    return;
  }
  const size_t Stride = (static_cast<size_t>(w) * 3 + 3) / 4 * 4;
  const auto *B = static_cast<const uint8_t *>(p);
  for (int r = 0; r < h; ++r)
    std::copy(
        B + static_cast<size_t>(r) * Stride, B + static_cast<size_t>(r) * Stride + static_cast<size_t>(w) * 3,
        Img.Texels.begin() +
            static_cast<ptrdiff_t>(
                (static_cast<size_t>(y + r) * static_cast<size_t>(Img.W) + static_cast<size_t>(x)) * 3));
}
inline void ZB_GLAPI TexParameteri(GLenum, GLenum n, GLint v) {
  Fake().TexParams.emplace_back(n, v);
}
inline void ZB_GLAPI TexCoord2f(GLfloat s, GLfloat t) {
  Fake().S = s, Fake().T = t;
}
inline void ZB_GLAPI DeleteTextures(GLsizei n, const GLuint *t) {
  for (GLsizei i = 0; i < n; ++i)
    Fake().Deleted.push_back(t[i]);
}
inline void ZB_GLAPI Flush() {
  Fake().Calls.push_back("Flush");
}
} // namespace fakegl

// Installs the recording table for the lifetime of the object.
class TFakeGLGuard {
public:
  TFakeGLGuard() : FSaved(GL) {
    Fake() = TFakeGLState{};
    TGLEntryPoints T;
    T.glViewport = fakegl::Viewport;
    T.glClear = fakegl::Clear;
    T.glClearColor = fakegl::ClearColor;
    T.glMatrixMode = fakegl::MatrixMode;
    T.glLoadIdentity = fakegl::LoadIdentity;
    T.glOrtho = fakegl::Ortho;
    T.glBegin = fakegl::Begin;
    T.glEnd = fakegl::End;
    T.glVertex2f = fakegl::Vertex2f;
    T.glColor3f = fakegl::Color3f;
    T.glColor4f = fakegl::Color4f;
    T.glLineWidth = fakegl::LineWidth;
    T.glEnable = fakegl::Enable;
    T.glScissor = fakegl::Scissor;
    T.glDisable = fakegl::Disable;
    T.glBlendFunc = fakegl::BlendFunc;
    T.glGenTextures = fakegl::GenTextures;
    T.glBindTexture = fakegl::BindTexture;
    T.glTexImage2D = fakegl::TexImage2D;
    T.glTexParameteri = fakegl::TexParameteri;
    T.glTexCoord2f = fakegl::TexCoord2f;
    T.glDeleteTextures = fakegl::DeleteTextures;
    T.glFlush = fakegl::Flush;
    T.glTexSubImage2D = fakegl::TexSubImage2D;
    GL = T;
  }
  ~TFakeGLGuard() { GL = FSaved; }
  TFakeGLGuard(const TFakeGLGuard &) = delete;
  TFakeGLGuard &operator=(const TFakeGLGuard &) = delete;

private:
  TGLEntryPoints FSaved;
};

inline bool SameColour(const TFakeVtx &V, float R, float G, float B, float Tol = 1e-4f) {
  return std::fabs(V.R - R) < Tol && std::fabs(V.G - G) < Tol && std::fabs(V.B - B) < Tol;
}

// Pixels covered by the axis-aligned quads drawn in colour (R, G, B): each quad covers
// [x1, x2) x [y1, y2) in whole pixels.
inline std::set<std::pair<int, int>> QuadPixels(float R, float G, float B) {
  std::set<std::pair<int, int>> Px;
  for (const TFakePrim &P : Fake().Prims) {
    if (P.Mode != GL_QUADS)
      continue;
    for (size_t i = 0; i + 3 < P.V.size(); i += 4) {
      if (!SameColour(P.V[i], R, G, B))
        continue;
      float X1 = P.V[i].X, X2 = P.V[i].X, Y1 = P.V[i].Y, Y2 = P.V[i].Y;
      for (size_t k = 1; k < 4; ++k) {
        X1 = std::fmin(X1, P.V[i + k].X), X2 = std::fmax(X2, P.V[i + k].X);
        Y1 = std::fmin(Y1, P.V[i + k].Y), Y2 = std::fmax(Y2, P.V[i + k].Y);
      }
      for (int y = static_cast<int>(std::lround(Y1)); y < static_cast<int>(std::lround(Y2)); ++y)
        for (int x = static_cast<int>(std::lround(X1)); x < static_cast<int>(std::lround(X2)); ++x)
          Px.insert({x, y});
    }
  }
  return Px;
}

// Reads N characters of text whose first cell has its bottom-left pixel at (X, Y): each 5 x 7
// cell is matched against the glyph table; a blank cell reads as ' ', an unknown one as '~'.
inline std::string ReadText(const std::set<std::pair<int, int>> &Px, int X, int Y, int N) {
  std::string S;
  for (int i = 0; i < N; ++i) {
    const int Cx = X + i * FONT_W;
    uint8_t Rows[CHAR_H];
    bool Any = false;
    for (int r = 0; r < CHAR_H; ++r) {
      uint8_t Bits = 0;
      for (int c = 0; c < CW; ++c)
        if (Px.count({Cx + c, Y + (CHAR_H - 1 - r)})) {
          Bits |= static_cast<uint8_t>(0x10 >> c);
          Any = true;
        }
      Rows[r] = Bits;
    }
    char Found = Any ? '~' : ' ';
    for (int ch = 33; Any && ch < 127; ++ch) {
      const uint8_t *G = FontGlyph(static_cast<unsigned char>(ch));
      if (G && std::equal(G, G + CHAR_H, Rows)) {
        Found = static_cast<char>(ch);
        break;
      }
    }
    S += Found;
  }
  return S;
}

// Line primitives (GL_LINES pairs or line strips) drawn in colour (R, G, B), as vertex lists.
inline std::vector<std::vector<TFakeVtx>> LinesIn(float R, float G, float B) {
  std::vector<std::vector<TFakeVtx>> Out;
  for (const TFakePrim &P : Fake().Prims) {
    if (P.V.empty() || !SameColour(P.V[0], R, G, B))
      continue;
    if (P.Mode == GL_LINES)
      for (size_t i = 0; i + 1 < P.V.size(); i += 2)
        Out.push_back({P.V[i], P.V[i + 1]});
    else if (P.Mode == GL_LINE_STRIP)
      Out.push_back(P.V);
  }
  return Out;
}
