// Small string helpers shared by the readers of recordings and sidecar files.
#pragma once

#include <string>

// Characters with codes 0 to 32 removed at both ends.
std::string TrimBlank(const std::string &S);
