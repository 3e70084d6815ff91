#include "thumbnail/win32_uThumbnail.h"

#include "base/uFileStream.h"
#include "base/win32_uHandles.h"
#include "base/win32_uPath.h"
#include "thumbnail/uThumbnail.h"

#include <cstring>

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
    unique_hbitmap Bitmap;
    {
      const unique_hdc_window Screen(nullptr);
      Bitmap.reset(CreateDIBSection(Screen.get(), &Info, DIB_RGB_COLORS, &Bits, nullptr, 0));
    }
    if (!Bitmap || !Bits)
      return nullptr;
    PaintThumbnail(S, Width, Height, static_cast<uint8_t *>(Bits));
    return Bitmap.release(); // the host owns it from here
  } catch (...) {
    return nullptr;
  }
}

HBITMAP PreviewBitmapW(const wchar_t *FileToLoad, int Width, int Height) {
  try {
    const std::string FN = TcPathToString(FileToLoad);
    if (FN.empty() || !FileExists(FN))
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
