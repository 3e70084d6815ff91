// `zembrola frame`: renders the demonstration frame through the offscreen context into a PNG.
#include "commands.h"

#include "render/osmesa_uWinGL.h"
#include "render/uDemoFrame.h"
#include "render/uGLRenderer.h"

#include <png.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

struct TFcloseFile {
  void operator()(FILE *F) const { std::fclose(F); }
};

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

struct TFrameOptions {
  std::string Out;
  int Width = 800;
  int Height = 600;
};

void RunFrame(const TFrameOptions &O) {
  if (O.Width < 1 || O.Height < 1 || O.Width > 8192 || O.Height > 8192)
    throw CliError("frame size must be 1..8192 pixels each way");
  TOSMesaDestroyContext Ctx(O.Width, O.Height);
  TGLRenderer R;
  R.Resize(O.Width, O.Height);
  const TDemoFrame D = MakeDemoFrame();
  R.UpdateWaterfallTexture(D.Rows, static_cast<int32_t>(D.Rows.size()), D.NFFT, D.MinDb, D.MaxDb);
  R.Render(D.In);
  Ctx.Finish();
  WritePng(O.Out, O.Width, O.Height, Ctx.RGBTopDown());
}

static RegisterCommands reg([](CLI::App &App) {
  auto O = std::make_shared<TFrameOptions>();
  CLI::App *Cmd =
      App.add_subcommand("frame", "Render a demonstration viewer frame (synthetic inputs) to a PNG");
  Cmd->add_option("-o,--output", O->Out, "PNG file to write")->required();
  Cmd->add_option("--width", O->Width, "frame width in pixels")->capture_default_str();
  Cmd->add_option("--height", O->Height, "frame height in pixels")->capture_default_str();
  Cmd->callback([O] { RunFrame(*O); });
});

} // namespace
