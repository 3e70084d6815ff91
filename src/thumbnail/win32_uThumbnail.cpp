#include "thumbnail/win32_uThumbnail.h"

#include "base/win32_uPath.h"
#include "thumbnail/uThumbnail.h"

#include <cstring>
#include <utility>

namespace {

// Screen device context, released when it goes.
class TReleaseDC {
public:
  TReleaseDC() : FDC(GetDC(nullptr)) {}
  ~TReleaseDC() {
    if (FDC)
      ReleaseDC(nullptr, FDC);
  }
  TReleaseDC(const TReleaseDC &) = delete;
  TReleaseDC &operator=(const TReleaseDC &) = delete;
  HDC Get() const { return FDC; }

private:
  HDC FDC;
};

// A GDI bitmap deleted when it goes, unless handed on with Release.
class TDeleteObject {
public:
  explicit TDeleteObject(HBITMAP B = nullptr) : FBitmap(B) {}
  ~TDeleteObject() {
    if (FBitmap)
      DeleteObject(FBitmap);
  }
  TDeleteObject(TDeleteObject &&O) noexcept : FBitmap(std::exchange(O.FBitmap, nullptr)) {}
  TDeleteObject &operator=(TDeleteObject &&O) noexcept {
    std::swap(FBitmap, O.FBitmap);
    return *this;
  }
  TDeleteObject(const TDeleteObject &) = delete;
  TDeleteObject &operator=(const TDeleteObject &) = delete;
  HBITMAP Get() const { return FBitmap; }
  HBITMAP Release() { return std::exchange(FBitmap, nullptr); }

private:
  HBITMAP FBitmap;
};

} // namespace

HBITMAP GenerateThumbnail(const std::string &FileName, int Width, int Height) {
  if (Width < THUMB_MIN_SIZE || Height < THUMB_MIN_SIZE)
    return nullptr;
  try {
    TThumbnailSpectra S;
    if (!ComputeThumbnailSpectra(FileName, Width, Height, S))
      return nullptr;
    BITMAPINFO Info;
    std::memset(&Info, 0, sizeof Info);
    const auto Header = ThumbnailInfoHeader(Width, Height);
    static_assert(sizeof(BITMAPINFOHEADER) == 40);
    std::memcpy(&Info.bmiHeader, Header.data(), Header.size());
    void *Bits = nullptr;
    TDeleteObject Bitmap;
    {
      TReleaseDC Screen;
      Bitmap = TDeleteObject(CreateDIBSection(Screen.Get(), &Info, DIB_RGB_COLORS, &Bits, nullptr, 0));
    }
    if (!Bitmap.Get() || !Bits)
      return nullptr;
    PaintThumbnail(S, Width, Height, static_cast<uint8_t *>(Bits));
    return Bitmap.Release();
  } catch (...) {
    return nullptr;
  }
}

HBITMAP PreviewBitmapW(const wchar_t *FileToLoad, int Width, int Height) {
  try {
    const std::string FN = TcPathToString(FileToLoad);
    if (FN.empty() || !FileExistsAnsi(FN))
      return nullptr;
    return GenerateThumbnail(FN, Width, Height);
  } catch (...) {
    return nullptr;
  }
}

HBITMAP PreviewBitmapA(const char *FileToLoad, int Width, int Height) {
  try {
    const std::wstring W = AnsiToWide(FileToLoad);
    return PreviewBitmapW(W.c_str(), Width, Height);
  } catch (...) {
    return nullptr;
  }
}
