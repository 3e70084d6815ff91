#include "render/uDemoFrame.h"

#include <cmath>

namespace {

// Small LCG: the same noise on every platform and compiler.
struct TNoise {
  uint32_t S = 12345;
  float Next() { // uniform in [-1, 1)
    S = S * 1664525u + 1013904223u;
    return static_cast<float>(S >> 8) / 8388608.0f - 1.0f;
  }
};

constexpr double CENTRE = 433.92e6;
constexpr double RATE = 2e6;
constexpr double HOPS[4] = {620e3, 700e3, 780e3, 860e3};

// Level in dB of a tone of peak Peak at offset F0 seen at offset F, with width W (Hz).
float Tone(double F, double F0, double W, float Peak) {
  const double D = (F - F0) / W;
  return static_cast<float>(Peak * std::exp(-D * D));
}

} // namespace

TDemoFrame MakeDemoFrame(int32_t WfNFFT, int32_t WfRows, bool Noise) {
  TDemoFrame D;
  TNoise N;
  D.NFFT = WfNFFT;
  D.MinDb = static_cast<float>(-10.0);
  D.MaxDb = 45.0f;

  TFrameInputs &In = D.In;
  In.MinDb = -10, In.MaxDb = 45;
  In.CenterFreqHz = CENTRE, In.SampleRateHz = RATE;
  In.FileDurSec = 60, In.PlayPosSec = 18, In.WfLenSec = 10;
  const int32_t PsdN = 2048;
  for (int32_t i = 0; i < PsdN; ++i) {
    const double F = (i - PsdN / 2) * RATE / PsdN;
    float L = 2.0f + (Noise ? 2.5f * N.Next() : 0.0f);
    L += Tone(F, -600e3, 6e3, 34) + Tone(F, 150e3, 25e3, 22) + Tone(F, 480e3, 3e3, 40) +
         Tone(F, HOPS[1], 8e3, 28);
    In.Freqs.push_back(CENTRE + F);
    In.PSD_DB.push_back(L);
  }
  In.FreqLo = In.Freqs.front();
  In.FreqHi = In.Freqs.back();
  In.Signals = {
      {CENTRE - 600e3, 1, "FM", false}, {CENTRE + 150e3, 2, "BPSK", false}, {CENTRE + 480e3, 3, "CW", false}};
  for (int h = 0; h < 4; ++h)
    In.Signals.push_back({CENTRE + HOPS[h], 4 + h, "FSK", true});
  In.HopperGroups = {{CENTRE + HOPS[0], CENTRE + HOPS[3], 4}};
  In.StatusText = "18.000 s / 60.000 s";

  D.Rows.assign(static_cast<size_t>(WfRows), TSingleArray(static_cast<size_t>(WfNFFT)));
  for (int32_t r = 0; r < WfRows; ++r) {
    const bool Burst = (r / 40) % 3 == 0; // the BPSK signal comes and goes
    const int Hop = (r / 15) % 4;         // hopper dwell of 15 rows
    for (int32_t c = 0; c < WfNFFT; ++c) {
      const double F = (c - WfNFFT / 2) * RATE / WfNFFT;
      float L = 2.0f + (Noise ? 3.0f * N.Next() : 0.0f);
      L += Tone(F, -600e3 + 20e3 * std::sin(r * 0.05), 8e3, 30) + Tone(F, 480e3, 4e3, 38);
      if (Burst)
        L += Tone(F, 150e3, 25e3, 20);
      L += Tone(F, HOPS[Hop], 8e3, 26);
      D.Rows[static_cast<size_t>(r)][static_cast<size_t>(c)] = L;
    }
  }
  return D;
}
