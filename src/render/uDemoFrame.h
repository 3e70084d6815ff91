// A synthetic but plausible frame (PSD with tones, a waterfall with a burst and a hopper, three
// signals and one hopper group, play position at 30 % of a 60 s file) for the frame picture,
// the benchmark and the cross-platform rendering comparison. Deterministic on every platform.
#pragma once

#include "render/uGLRenderer.h"

struct TDemoFrame {
  TFrameInputs In;
  TRowBuffer Rows; // newest first
  int32_t NFFT = 0;
  float MinDb = 0, MaxDb = 0;
};

// Noise false leaves out the random noise floor (flat areas compress well as test data).
TDemoFrame MakeDemoFrame(int32_t WfNFFT = 1024, int32_t WfRows = 300, bool Noise = true);
