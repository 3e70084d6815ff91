// Subcommand registry of the zembrola command-line tool.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// A failure the user caused or must fix (missing file, bad argument): reported as one line.
class CliError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct TIQMetadata;
class TIQSource;

// Throws a CliError unless Path names a regular file: says whether it is missing, a folder or
// something else.
void RequireFile(const std::string &Path);

// The sidecar's notes (values ignored, lines and signals left out) as lines for the user.
std::vector<std::string> SidecarNotes(const TIQMetadata &M);

// Prints each note to stderr as a warning.
void WarnSidecarNotes(const TIQMetadata &M);

// The recording opened as the viewer opens it: samples from the file that holds them
// (NAME.sigmf-data for NAME.sigmf-meta), with the sidecar's format hint, else the one the
// file's name implies.
TIQSource OpenRecording(const std::string &Path, const TIQMetadata &M);

// The rate the viewer settles on: sidecar, else the file's own, else the file's name, else the
// default.
double SettledSampleRate(const std::string &Path, const TIQMetadata &M, const TIQSource &Src);

using CommandRegistrar = std::function<void(CLI::App &)>;

std::vector<CommandRegistrar> &CommandRegistry();

// Put one of these at namespace scope in a cmd_*.cpp to add its subcommands.
struct RegisterCommands {
  explicit RegisterCommands(CommandRegistrar r) { CommandRegistry().push_back(std::move(r)); }
};
