// PNG output of rendered frames for the offscreen subcommands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes W x H RGB bytes (top row first) as a PNG; throws CliError when it cannot.
void WritePng(const std::string &Path, int W, int H, const std::vector<uint8_t> &RGB);
