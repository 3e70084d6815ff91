#include "render/uColormap.h"

#include <cmath>

float Lerp(float A, float B, float T) {
  return A + (B - A) * T;
}

void ColormapViridisGL(float T, float &R, float &G, float &B) {
  if (!(T > 0.0f)) { // NaN included: a level that is no number shows as the bottom colour
    R = ViridisR[0];
    G = ViridisG[0];
    B = ViridisB[0];
    return;
  }
  if (T >= 1.0f) {
    R = ViridisR[VIRIDIS_STOPS - 1];
    G = ViridisG[VIRIDIS_STOPS - 1];
    B = ViridisB[VIRIDIS_STOPS - 1];
    return;
  }
  const float S = T * static_cast<float>(VIRIDIS_STOPS - 1);
  int I = static_cast<int>(S);
  if (I >= VIRIDIS_STOPS - 1)
    I = VIRIDIS_STOPS - 2;
  const float F = S - static_cast<float>(I);
  R = Lerp(ViridisR[I], ViridisR[I + 1], F);
  G = Lerp(ViridisG[I], ViridisG[I + 1], F);
  B = Lerp(ViridisB[I], ViridisB[I + 1], F);
}

namespace {

uint8_t ChannelByte(float C) {
  if (C < 0.0f)
    C = 0.0f;
  if (C > 1.0f)
    C = 1.0f;
  // Round to nearest, halves to even (the default rounding mode).
  return static_cast<uint8_t>(std::nearbyint(C * 255.0f));
}

} // namespace

TRGB ColormapViridis(float T) {
  float R, G, B;
  ColormapViridisGL(T, R, G, B);
  return {ChannelByte(R), ChannelByte(G), ChannelByte(B)};
}

TRGB MapDbToColor(float Db, float MinDb, float MaxDb) {
  if (MaxDb <= MinDb)
    return {0, 0, 0};
  float T = (Db - MinDb) / (MaxDb - MinDb);
  if (T < 0.0f)
    T = 0.0f;
  if (T > 1.0f)
    T = 1.0f;
  return ColormapViridis(T);
}
