// zembrola: inspect I/Q recordings from the command line with the plug-in's own code.
#include "commands.h"
#include "zb_version.h"

#include "base/uFileStream.h"
#include "base/uGlobals.h"
#include "formats/uFileNames.h"
#include "formats/uIQFormats.h"
#include "formats/uValueSources.h"
#include "metadata/uMetadata.h"

#include <cstdio>
#include <exception>
#include <new>

#include <sys/stat.h>

void RequireFile(const std::string &Path) {
  if (FileExists(Path))
    return;
  struct stat St;
  if (stat(Path.c_str(), &St) != 0)
    throw CliError("no such file: " + Path);
  if (S_ISDIR(St.st_mode))
    throw CliError(Path + " is a folder, not a recording");
  throw CliError(Path + " is not a regular file");
}

std::vector<std::string> SidecarNotes(const TIQMetadata &M) {
  std::vector<std::string> Notes;
  if (!M.SampleRateText.empty() && !M.HasSampleRate)
    Notes.push_back("sidecar sample_rate_hz=" + M.SampleRateText.substr(0, 40) +
                    " ignored: not a number from 1 Hz to 1e12 Hz");
  for (const std::string &N : M.Notes)
    Notes.push_back("sidecar: " + N);
  return Notes;
}

void WarnSidecarNotes(const TIQMetadata &M) {
  for (const std::string &N : SidecarNotes(M))
    std::fprintf(stderr, "zembrola: warning: %s\n", N.c_str());
}

TIQSource OpenRecording(const std::string &Path, const TIQMetadata &M) {
  const std::string Hint = M.FormatHint.empty() ? ParseRecordingFileName(Path).FormatHint : M.FormatHint;
  return TIQSource(RecordingDataPath(Path), Hint);
}

double SettledSampleRate(const std::string &Path, const TIQMetadata &M, const TIQSource &Src) {
  return SettleRateAndCentre(SidecarValuesOf(M), Src.GetFormatInfo(), ParseRecordingFileName(Path))
      .SampleRateHz;
}

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
  } catch (const std::bad_alloc &) {
    std::string Sub;
    for (const CLI::App *S : app.get_subcommands())
      Sub = S->get_name();
    std::fprintf(stderr,
                 "zembrola: %s: out of memory (the recording or the request needs more memory than this "
                 "machine can give)\n",
                 Sub.c_str());
    return 1;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "zembrola: %s\n", e.what());
    return 1;
  }
  return 0;
}
