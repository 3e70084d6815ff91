// listerhost: does what the file manager does with a lister plug-in, for demos and headless runs.
//
//   listerhost [--plugin DLL] [--size WxH] [--play] FILE [--screenshot OUT.png --after-ms N [--gl-buffer]]
//   listerhost [--plugin DLL] FILE --thumbnail WxH OUT.bmp
//   listerhost [--plugin DLL] FILE --texts OUT.txt    (the viewer's title and status line, then exit)
//
// --next FILE (repeatable) shows each further file in the same viewer through ListLoadNextW,
// one every --after-ms; then --copy OUT.png copies the frame (ListSendCommand, lc_copy) and
// writes the clipboard's bitmap, and --screenshot is taken. Without --after-ms, --screenshot or
// --copy the window stays open and N and P flip through the files as a file manager does. Keys
// that reach the host's window are reported on stdout ("key down 0x4E").
#include <windows.h>

#include <GL/gl.h>

#include "png_write.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring &w);

using ListLoadW_t = HWND(WINAPI *)(HWND, const wchar_t *, int);
using ListCloseWindow_t = void(WINAPI *)(HWND);
using ListGetDetectString_t = int(WINAPI *)(char *, int);
using ListGetPreviewBitmapW_t = HBITMAP(WINAPI *)(const wchar_t *, int, int, char *, int);
using ListLoadNextW_t = int(WINAPI *)(HWND, HWND, const wchar_t *, int);
using ListSendCommand_t = int(WINAPI *)(HWND, int, int);

struct Options {
  std::wstring Plugin, File, Screenshot, ThumbOut, TextsOut, CopyOut;
  std::vector<std::wstring> Next;
  bool AfterMsGiven = false;
  int Width = 800, Height = 640, AfterMs = 1500, ThumbW = 0, ThumbH = 0;
  bool GLBuffer = false;
  bool Play = false; // press the viewer's play button once it is open
};

struct Host {
  ListLoadW_t LoadW = nullptr;
  ListCloseWindow_t Close = nullptr;
  ListLoadNextW_t LoadNextW = nullptr;
  ListSendCommand_t SendCommand = nullptr;
  HWND Wnd = nullptr;
  HWND Lister = nullptr;
  std::wstring Screenshot;
  bool ScreenshotOk = false;
  bool GLBuffer = false;
  std::vector<std::wstring> Files; // FILE and the --next files, in order
  size_t Shown = 0;                // index of the file shown
  size_t NextLeft = 0;             // timed flips still to do
  std::wstring CopyOut;
  bool CopyOk = true;
  bool Timed = false; // runs its steps on the timer and exits
};
Host G;

template <typename F> F Proc(HMODULE m, const char *name) {
  return reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(m, name)));
}

bool ParseSize(const wchar_t *s, int &w, int &h) {
  return std::swscanf(s, L"%dx%d", &w, &h) == 2 && w > 0 && h > 0;
}

std::wstring DefaultPlugin() {
  wchar_t buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  std::wstring p(buf, n);
  return p.substr(0, p.find_last_of(L"\\/") + 1) +
         (sizeof(void *) == 8 ? L"zembrola.wlx64" : L"zembrola.wlx");
}

// For comparisons only (--gl-buffer): pastes the drawing window's OpenGL back buffer over the
// captured screen pixels, so a screenshot shows the frame even where it never reached the
// screen. The viewer leaves its context current; Mesa keeps the last frame in the back buffer.
void OverlayCurrentGLWindow(HWND host, int w, int h, std::vector<uint8_t> &rgb) {
  HDC gldc = wglGetCurrentDC();
  HWND glwnd = gldc ? WindowFromDC(gldc) : nullptr;
  if (!glwnd || !IsChild(host, glwnd))
    return;
  RECT gr;
  GetClientRect(glwnd, &gr);
  POINT o{0, 0};
  MapWindowPoints(glwnd, host, &o, 1);
  const int gw = gr.right, gh = gr.bottom;
  if (gw <= 0 || gh <= 0)
    return;
  std::vector<uint8_t> px(static_cast<size_t>(gw) * gh * 4);
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, gw, gh, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
  if (glGetError() != GL_NO_ERROR)
    return;
  for (int y = 0; y < gh; ++y) {
    const int ty = o.y + (gh - 1 - y); // GL rows are bottom-up
    if (ty < 0 || ty >= h)
      continue;
    for (int x = 0; x < gw; ++x) {
      const int tx = o.x + x;
      if (tx < 0 || tx >= w)
        continue;
      const uint8_t *s = &px[(static_cast<size_t>(y) * gw + x) * 4];
      uint8_t *d = &rgb[(static_cast<size_t>(ty) * w + tx) * 3];
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
    }
  }
}

// Screen pixels of the window's client area: what a person sees, OpenGL output included.
bool CaptureClient(HWND wnd, const std::wstring &path, bool glBuffer) {
  RECT rc;
  GetClientRect(wnd, &rc);
  POINT org{0, 0};
  ClientToScreen(wnd, &org);
  const int w = rc.right, h = rc.bottom;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h; // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void *bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (dib) {
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, w, h, screen, org.x, org.y, SRCCOPY | CAPTUREBLT);
    GdiFlush();
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    const auto *src = static_cast<const uint8_t *>(bits);
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
      rgb[i * 3 + 0] = src[i * 4 + 2];
      rgb[i * 3 + 1] = src[i * 4 + 1];
      rgb[i * 3 + 2] = src[i * 4 + 0];
    }
    if (glBuffer)
      OverlayCurrentGLWindow(wnd, w, h, rgb);
    ok = WritePngRgb(path, w, h, rgb);
    SelectObject(mem, old);
    DeleteObject(dib);
  }
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return ok;
}

// The clipboard's device-independent bitmap (24 or 32 bits, either row order) as a PNG.
bool WriteClipboardPng(const std::wstring &path) {
  if (!OpenClipboard(G.Wnd))
    return false;
  bool ok = false;
  if (HANDLE h = GetClipboardData(CF_DIB)) {
    const auto *bi = static_cast<const BITMAPINFOHEADER *>(GlobalLock(h));
    if (bi && (bi->biBitCount == 24 || bi->biBitCount == 32) && bi->biCompression == BI_RGB &&
        bi->biWidth > 0) {
      const int w = bi->biWidth, h2 = bi->biHeight < 0 ? -bi->biHeight : bi->biHeight;
      const int bpp = bi->biBitCount / 8;
      const size_t stride = (static_cast<size_t>(w) * bpp + 3) & ~size_t{3};
      const auto *px = reinterpret_cast<const uint8_t *>(bi) + bi->biSize;
      std::vector<uint8_t> rgb(static_cast<size_t>(w) * h2 * 3);
      for (int y = 0; y < h2; ++y) {
        const int sy = bi->biHeight < 0 ? y : h2 - 1 - y;
        for (int x = 0; x < w; ++x) {
          const uint8_t *s = px + sy * stride + static_cast<size_t>(x) * bpp;
          uint8_t *d = &rgb[(static_cast<size_t>(y) * w + x) * 3];
          d[0] = s[2];
          d[1] = s[1];
          d[2] = s[0];
        }
      }
      ok = WritePngRgb(path, w, h2, rgb);
    }
    if (bi)
      GlobalUnlock(h);
  }
  CloseClipboard();
  return ok;
}

// Shows file Index of the list in the open viewer, as the file manager's next/previous keys do.
void ShowFile(size_t Index) {
  if (!G.Lister || !G.LoadNextW || Index >= G.Files.size())
    return;
  const int r = G.LoadNextW(G.Wnd, G.Lister, G.Files[Index].c_str(), 0);
  std::printf("next %s: %d\n", Utf8(G.Files[Index]).c_str(), r);
  std::fflush(stdout);
  if (r == 0)
    G.Shown = Index;
}

void CloseLister() {
  if (G.Lister) {
    G.Close(G.Lister);
    G.Lister = nullptr;
  }
}

LRESULT CALLBACK HostProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
  case WM_SIZE:
    if (G.Lister)
      MoveWindow(G.Lister, 0, 0, LOWORD(lp), HIWORD(lp), TRUE);
    return 0;
  case WM_KEYDOWN:
  case WM_SYSKEYDOWN:
    std::printf("key %s 0x%02X\n", msg == WM_KEYDOWN ? "down" : "sysdown", static_cast<unsigned>(wp));
    std::fflush(stdout);
    if (msg == WM_KEYDOWN && wp == VK_ESCAPE) {
      CloseLister();
      DestroyWindow(w);
      return 0;
    }
    if (msg == WM_KEYDOWN && !G.Timed && G.Files.size() > 1) {
      if (wp == 'N')
        ShowFile((G.Shown + 1) % G.Files.size());
      else if (wp == 'P')
        ShowFile((G.Shown + G.Files.size() - 1) % G.Files.size());
    }
    break;
  case WM_TIMER:
    if (G.NextLeft > 0) {
      ShowFile(G.Files.size() - G.NextLeft--);
      return 0;
    }
    KillTimer(w, 1);
    if (!G.CopyOut.empty()) {
      const int r = G.Lister && G.SendCommand ? G.SendCommand(G.Lister, 1, 0) : 1;
      std::printf("copy: %d\n", r);
      G.CopyOk = r == 0 && WriteClipboardPng(G.CopyOut);
    }
    if (!G.Screenshot.empty())
      G.ScreenshotOk = CaptureClient(w, G.Screenshot, G.GLBuffer);
    CloseLister();
    DestroyWindow(w);
    return 0;
  case WM_CLOSE:
    CloseLister();
    DestroyWindow(w);
    return 0;
  case WM_DESTROY:
    PostQuitMessage(0);
    return 0;
  default:
    break;
  }
  return DefWindowProcW(w, msg, wp, lp);
}

bool SaveBmp(HBITMAP bmp, const std::wstring &path) {
  DIBSECTION ds{};
  if (GetObjectW(bmp, sizeof(ds), &ds) != sizeof(ds) || !ds.dsBm.bmBits)
    return false;
  const DWORD stride = static_cast<DWORD>(ds.dsBm.bmWidthBytes);
  const DWORD size = stride * static_cast<DWORD>(ds.dsBm.bmHeight);
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof(fh) + sizeof(BITMAPINFOHEADER);
  fh.bfSize = fh.bfOffBits + size;
  FILE *f = _wfopen(path.c_str(), L"wb");
  if (!f)
    return false;
  bool ok = std::fwrite(&fh, sizeof(fh), 1, f) == 1 &&
            std::fwrite(&ds.dsBmih, sizeof(ds.dsBmih), 1, f) == 1 &&
            std::fwrite(ds.dsBm.bmBits, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

std::string Utf8(const std::wstring &w) {
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring TextOf(HWND w) {
  wchar_t buf[512];
  const int n = w ? GetWindowTextW(w, buf, 512) : 0;
  return std::wstring(buf, static_cast<size_t>(n > 0 ? n : 0));
}

// The viewer's window title and its status line (control identifier 1005), one a line.
bool WriteTexts(const std::wstring &path) {
  FILE *f = _wfopen(path.c_str(), L"wb");
  if (!f)
    return false;
  const std::string text =
      "root: " + Utf8(TextOf(G.Lister)) + "\nstatus: " + Utf8(TextOf(GetDlgItem(G.Lister, 1005))) + "\n";
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

int Usage() {
  std::fwprintf(
      stderr,
      L"usage: listerhost [--plugin DLL] [--size WxH] [--play] FILE [--screenshot OUT.png --after-ms N "
      L"[--gl-buffer]]\n"
      L"       listerhost [--plugin DLL] FILE --thumbnail WxH OUT.bmp\n"
      L"       listerhost [--plugin DLL] FILE --texts OUT.txt\n"
      L"       listerhost [--plugin DLL] [--size WxH] FILE [--next FILE]... [--after-ms N] [--copy OUT.png] "
      L"[--screenshot OUT.png]\n");
  return 2;
}

} // namespace

int wmain(int argc, wchar_t **argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    auto next = [&]() -> const wchar_t * { return i + 1 < argc ? argv[++i] : nullptr; };
    const wchar_t *v = nullptr;
    if (a == L"--plugin" && (v = next()))
      o.Plugin = v;
    else if (a == L"--size" && (v = next())) {
      if (!ParseSize(v, o.Width, o.Height))
        return Usage();
    } else if (a == L"--screenshot" && (v = next()))
      o.Screenshot = v;
    else if (a == L"--after-ms" && (v = next())) {
      o.AfterMs = _wtoi(v);
      o.AfterMsGiven = true;
    } else if (a == L"--next" && (v = next()))
      o.Next.push_back(v);
    else if (a == L"--copy" && (v = next()))
      o.CopyOut = v;
    else if (a == L"--gl-buffer")
      o.GLBuffer = true;
    else if (a == L"--play")
      o.Play = true;
    else if (a == L"--texts" && (v = next()))
      o.TextsOut = v;
    else if (a == L"--thumbnail" && i + 2 < argc) {
      if (!ParseSize(argv[++i], o.ThumbW, o.ThumbH))
        return Usage();
      o.ThumbOut = argv[++i];
    } else if (!a.empty() && a[0] != L'-' && o.File.empty())
      o.File = a;
    else
      return Usage();
  }
  if (o.File.empty())
    return Usage();
  if (o.Plugin.empty())
    o.Plugin = DefaultPlugin();

  HMODULE plugin = LoadLibraryW(o.Plugin.c_str());
  if (!plugin) {
    std::fwprintf(stderr, L"listerhost: cannot load %ls (error %lu)\n", o.Plugin.c_str(), GetLastError());
    return 1;
  }
  G.LoadW = Proc<ListLoadW_t>(plugin, "ListLoadW");
  G.Close = Proc<ListCloseWindow_t>(plugin, "ListCloseWindow");
  G.LoadNextW = Proc<ListLoadNextW_t>(plugin, "ListLoadNextW");
  G.SendCommand = Proc<ListSendCommand_t>(plugin, "ListSendCommand");
  auto detect = Proc<ListGetDetectString_t>(plugin, "ListGetDetectString");
  auto preview = Proc<ListGetPreviewBitmapW_t>(plugin, "ListGetPreviewBitmapW");
  if (!G.LoadW || !G.Close || !detect || !preview) {
    std::fwprintf(stderr, L"listerhost: %ls is not a lister plug-in\n", o.Plugin.c_str());
    return 1;
  }
  char det[256];
  detect(det, sizeof(det));
  std::printf("detect string: %s\n", det);

  if (!o.ThumbOut.empty()) {
    HBITMAP bmp = preview(o.File.c_str(), o.ThumbW, o.ThumbH, nullptr, 0);
    if (!bmp) {
      std::fwprintf(stderr, L"listerhost: no preview for %ls\n", o.File.c_str());
      return 1;
    }
    const bool ok = SaveBmp(bmp, o.ThumbOut);
    DeleteObject(bmp);
    if (!ok) {
      std::fwprintf(stderr, L"listerhost: cannot write %ls\n", o.ThumbOut.c_str());
      return 1;
    }
    std::fwprintf(stdout, L"wrote %ls\n", o.ThumbOut.c_str());
    return 0;
  }

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = HostProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"ListerHost";
  RegisterClassExW(&wc);
  RECT r{0, 0, o.Width, o.Height};
  AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
  std::wstring title = L"listerhost - " + o.File;
  G.Wnd = CreateWindowExW(0, L"ListerHost", title.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0,
                          r.right - r.left, r.bottom - r.top, nullptr, nullptr, wc.hInstance, nullptr);
  ShowWindow(G.Wnd, SW_SHOW);
  UpdateWindow(G.Wnd);
  G.Lister = G.LoadW(G.Wnd, o.File.c_str(), 0);
  if (!G.Lister) {
    std::fwprintf(stderr, L"listerhost: the plug-in could not open %ls\n", o.File.c_str());
    DestroyWindow(G.Wnd);
    return 1;
  }
  SetFocus(G.Lister);
  if (!o.TextsOut.empty()) {
    const bool ok = WriteTexts(o.TextsOut);
    CloseLister();
    DestroyWindow(G.Wnd);
    if (!ok) {
      std::fwprintf(stderr, L"listerhost: cannot write %ls\n", o.TextsOut.c_str());
      return 1;
    }
    return 0;
  }
  if (o.Play) {
    // What a user does first: press play (the viewer's button with control identifier 1001).
    if (HWND play = GetDlgItem(G.Lister, 1001))
      SendMessageW(play, BM_CLICK, 0, 0);
  }
  G.Files.push_back(o.File);
  G.Files.insert(G.Files.end(), o.Next.begin(), o.Next.end());
  G.CopyOut = o.CopyOut;
  G.Timed = !o.Screenshot.empty() || !o.CopyOut.empty() || o.AfterMsGiven;
  if (G.Timed) {
    G.Screenshot = o.Screenshot;
    G.GLBuffer = o.GLBuffer;
    G.NextLeft = o.Next.size();
    SetTimer(G.Wnd, 1, static_cast<UINT>(o.AfterMs), nullptr);
  }
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  if (!o.Screenshot.empty()) {
    if (!G.ScreenshotOk) {
      std::fwprintf(stderr, L"listerhost: cannot write %ls\n", o.Screenshot.c_str());
      return 1;
    }
    std::fwprintf(stdout, L"wrote %ls\n", o.Screenshot.c_str());
  }
  if (!o.CopyOut.empty()) {
    if (!G.CopyOk) {
      std::fwprintf(stderr, L"listerhost: no bitmap copied to %ls\n", o.CopyOut.c_str());
      return 1;
    }
    std::fwprintf(stdout, L"wrote %ls\n", o.CopyOut.c_str());
  }
  return 0;
}
