// OpenGL through opengl32.dll on real windows: loading the table, the dummy window class,
// multisampled and plain contexts, and a frame on a window that matches the offscreen frame
// of the same inputs.
#include <windows.h>

#include "render/frame_reference.h"
#include "render/uGLRenderer.h"
#include "render/uWinGL.h"
#include "render/wgl_uWGLUtils.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

const wchar_t *TEST_WC = L"ZembrolaGLTestWnd";

// A visible popup window with its own DC and, once made, its GL context; all released in reverse.
class TTestGLWindow {
public:
  TTestGLWindow(int W, int H, int32_t MaxSamples) {
    WNDCLASSEXW Wc{};
    Wc.cbSize = sizeof(Wc);
    Wc.style = CS_OWNDC;
    Wc.lpfnWndProc = DefWindowProcW;
    Wc.hInstance = GetModuleHandleW(nullptr);
    Wc.lpszClassName = TEST_WC;
    RegisterClassExW(&Wc); // a second registration fails harmlessly
    FWnd = CreateWindowExW(0, TEST_WC, L"gl test", WS_POPUP | WS_VISIBLE, 0, 0, W, H, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
    if (FWnd)
      FRC = CreateMSAAContext(FWnd, FDC, MaxSamples);
  }
  ~TTestGLWindow() {
    if (FRC) {
      GL.wglMakeCurrent(nullptr, nullptr);
      GL.wglDeleteContext(FRC);
    }
    if (FDC)
      ReleaseDC(FWnd, FDC);
    if (FWnd)
      DestroyWindow(FWnd);
  }
  TTestGLWindow(const TTestGLWindow &) = delete;
  TTestGLWindow &operator=(const TTestGLWindow &) = delete;

  HWND FWnd = nullptr;
  HDC FDC = nullptr;
  HGLRC FRC = nullptr;
};

bool HaveGL() {
  return LoadOpenGL() && GL.glViewport && GL.wglMakeCurrent;
}

TEST(WinGL, LoadOpenGLIsIdempotentAndFillsTheTable) {
  ASSERT_TRUE(LoadOpenGL());
  void *const First = HOpenGL;
  ASSERT_NE(First, nullptr);
  const TGLEntryPoints Before = GL;
  EXPECT_TRUE(LoadOpenGL());
  EXPECT_EQ(HOpenGL, First);
  EXPECT_EQ(GL.glFlush, Before.glFlush);
  EXPECT_TRUE(GLDrawingEntriesLoaded(GL));
  EXPECT_NE(GL.wglMakeCurrent, nullptr);
  EXPECT_NE(GL.wglDeleteContext, nullptr);
  EXPECT_EQ(GetGL("glNoSuchEntryPoint"), nullptr);
}

TEST(WinGL, DummyClassAlreadyRegisteredCountsAsSuccess) {
  const HINSTANCE Inst = GetModuleHandleW(nullptr);
  EXPECT_TRUE(RegisterWndClasses(Inst));
  ClassesRegistered = false; // as if another copy of the code had registered it first
  EXPECT_TRUE(RegisterWndClasses(Inst));
  EXPECT_TRUE(ClassesRegistered);
}

TEST(WinGL, ContextOnARealWindow) {
  ASSERT_TRUE(HaveGL());
  TTestGLWindow W(64, 48, 8);
  if (!W.FWnd)
    GTEST_SKIP() << "no window station / display";
  ASSERT_NE(W.FDC, nullptr);
  ASSERT_NE(W.FRC, nullptr);
  std::printf("[ info ] context with %d samples (extension %s)\n", LastContextSamples,
              WglChoosePixelFormatARB ? "present" : "absent");
  EXPECT_TRUE(LastContextSamples == 0 || LastContextSamples == 8 || LastContextSamples == 4 ||
              LastContextSamples == 2);
  EXPECT_TRUE(GL.wglMakeCurrent(W.FDC, W.FRC));
}

TEST(WinGL, MaxSamplesOneUsesTheStandardFormat) {
  ASSERT_TRUE(HaveGL());
  TTestGLWindow W(64, 48, 1);
  if (!W.FWnd)
    GTEST_SKIP() << "no window station / display";
  ASSERT_NE(W.FRC, nullptr);
  EXPECT_EQ(LastContextSamples, 0);
  PIXELFORMATDESCRIPTOR Pfd{};
  const int Format = GetPixelFormat(W.FDC);
  ASSERT_NE(Format, 0);
  ASSERT_NE(DescribePixelFormat(W.FDC, Format, sizeof(Pfd), &Pfd), 0);
  EXPECT_TRUE(Pfd.dwFlags & PFD_DOUBLEBUFFER);
  EXPECT_TRUE(Pfd.dwFlags & PFD_SUPPORT_OPENGL);
  EXPECT_GE(Pfd.cColorBits, 24);
}

TEST(WinGL, FrameOnAWindowMatchesTheOffscreenFrame) {
  ASSERT_TRUE(HaveGL());
  using TglReadPixels = void(ZB_GLAPI *)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, GLvoid *);
  const auto ReadPixels = reinterpret_cast<TglReadPixels>(GetGL("glReadPixels"));
  ASSERT_NE(ReadPixels, nullptr);
  // Multisampling off: the offscreen reference has none, and edge coverage would differ.
  TTestGLWindow W(REF_W, REF_H, 1);
  if (!W.FWnd)
    GTEST_SKIP() << "no window station / display";
  ASSERT_NE(W.FRC, nullptr);
  RECT Rc{};
  GetClientRect(W.FWnd, &Rc);
  ASSERT_EQ(Rc.right, REF_W);
  ASSERT_EQ(Rc.bottom, REF_H);
  {
    TGLRenderer R;
    R.Resize(Rc.right, Rc.bottom);
    const TDemoFrame D = ComparisonFrame();
    R.UpdateWaterfallTexture(D.Rows, static_cast<int32_t>(D.Rows.size()), D.NFFT, D.MinDb, D.MaxDb);
    R.Render(D.In);
    std::vector<uint8_t> Bottom(static_cast<size_t>(REF_W) * REF_H * 3);
    ReadPixels(0, 0, REF_W, REF_H, GL_RGB, GL_UNSIGNED_BYTE, Bottom.data()); // back buffer, rows bottom first
    std::vector<uint8_t> Got(Bottom.size());
    const size_t Row = static_cast<size_t>(REF_W) * 3;
    for (int y = 0; y < REF_H; ++y)
      std::copy_n(Bottom.begin() + static_cast<ptrdiff_t>((REF_H - 1 - y) * Row), Row,
                  Got.begin() + static_cast<ptrdiff_t>(y * Row));
    const std::vector<uint8_t> Ref = DecodeFrame(StoredFrameReference());
    ASSERT_EQ(Ref.size(), Got.size());
    const int Exact = CountDifferentPixels(Ref, Got, 2);
    const int Far = CountDifferentPixels(Ref, Got, 40);
    std::printf("[ info ] pixels differing from the offscreen frame: %d by more than 2, %d by more than 40\n",
                Exact, Far);
    // The same pixels everywhere but along some line edges (rasterisers may place a line on a
    // pixel boundary on either side).
    EXPECT_LE(Far, REF_W * REF_H / 200);
    EXPECT_LE(Exact, REF_W * REF_H / 100);
    SwapBuffers(W.FDC);
  }
}

} // namespace
