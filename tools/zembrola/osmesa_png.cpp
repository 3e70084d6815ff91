// PNG output of rendered frames for the offscreen subcommands.
#include "osmesa_png.h"

#include "commands.h"

#include <png.h>

#include <cstdio>
#include <memory>

namespace {

struct TFcloseFile {
  void operator()(FILE *F) const { std::fclose(F); }
};

} // namespace

void WritePng(const std::string &Path, int W, int H, const std::vector<uint8_t> &RGB) {
  std::unique_ptr<FILE, TFcloseFile> F(std::fopen(Path.c_str(), "wb"));
  if (!F)
    throw CliError("cannot create " + Path);
  png_structp Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop Info = Png ? png_create_info_struct(Png) : nullptr;
  if (!Info) {
    png_destroy_write_struct(&Png, nullptr);
    throw CliError("libpng: out of memory");
  }
  std::vector<png_bytep> RowPtrs(static_cast<size_t>(H));
  for (int y = 0; y < H; ++y)
    RowPtrs[static_cast<size_t>(y)] = const_cast<png_bytep>(RGB.data() + static_cast<size_t>(y) * W * 3);
  if (setjmp(png_jmpbuf(Png))) {
    png_destroy_write_struct(&Png, &Info);
    throw CliError("cannot write " + Path);
  }
  png_init_io(Png, F.get());
  png_set_IHDR(Png, Info, static_cast<png_uint_32>(W), static_cast<png_uint_32>(H), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(Png, Info);
  png_write_image(Png, RowPtrs.data());
  png_write_end(Png, nullptr);
  png_destroy_write_struct(&Png, &Info);
}
