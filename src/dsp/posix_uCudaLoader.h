// The native loader of the CUDA libraries, for tools and tests that name their folder.
#pragma once

#include "dsp/uCudaFFT.h"

#include <memory>
#include <string>

// Opens libraries only from the absolute folder Dir (by full path); with an empty or relative
// Dir, nothing opens.
std::unique_ptr<ICudaLoader> CreateCudaLoaderIn(const std::string &Dir);
