// `zembrola frame`: renders the demonstration frame through the offscreen context into a PNG.
#include "commands.h"
#include "osmesa_png.h"

#include "render/osmesa_uWinGL.h"
#include "render/uDemoFrame.h"
#include "render/uGLRenderer.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

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
