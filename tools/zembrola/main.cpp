// zembrola: inspect I/Q recordings from the command line with the plug-in's own code.
#include "commands.h"
#include "zb_version.h"

#include <cstdio>
#include <exception>

std::vector<CommandRegistrar> &CommandRegistry() {
  static std::vector<CommandRegistrar> registry;
  return registry;
}

int main(int argc, char **argv) {
  CLI::App app{"zembrola - I/Q recording inspector"};
  app.set_version_flag("--version", "zembrola " ZB_VERSION_STRING,
                       "Print the version (the plug-in DLLs carry the same) and exit");
  app.require_subcommand(1);
  for (const auto &reg : CommandRegistry())
    reg(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp &e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion &e) {
    return app.exit(e);
  } catch (const CLI::ParseError &e) {
    std::fprintf(stderr, "zembrola: %s\n", e.what());
    return 2;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "zembrola: %s\n", e.what());
    return 1;
  }
  return 0;
}
