// Eight-stop Viridis colour map shared by the waterfall texture, the PSD trace and the previews.
// All arithmetic is on 32-bit floats so that every caller gets the same bytes.
#pragma once

#include <cstdint>

struct TRGB {
  uint8_t R = 0;
  uint8_t G = 0;
  uint8_t B = 0;
};

inline constexpr int VIRIDIS_STOPS = 8;
// Stop k stands for the normalised value k / 7.
inline constexpr float ViridisR[VIRIDIS_STOPS] = {0.267f, 0.283f, 0.254f, 0.191f, 0.127f, 0.208f, 0.565f, 0.993f};
inline constexpr float ViridisG[VIRIDIS_STOPS] = {0.005f, 0.141f, 0.288f, 0.407f, 0.566f, 0.718f, 0.843f, 0.906f};
inline constexpr float ViridisB[VIRIDIS_STOPS] = {0.329f, 0.458f, 0.530f, 0.556f, 0.551f, 0.472f, 0.262f, 0.144f};

// A + (B - A) * T.
float Lerp(float A, float B, float T);

// Colour of a normalised value, channels in 0..1 for OpenGL. T <= 0 (or NaN) gives stop 0, T >= 1 stop 7.
void ColormapViridisGL(float T, float &R, float &G, float &B);

// The same colour as bytes (each channel clamped, scaled by 255, rounded half to even).
TRGB ColormapViridis(float T);

// Colour of a level within [MinDb, MaxDb]; black when MaxDb <= MinDb.
TRGB MapDbToColor(float Db, float MinDb, float MaxDb);
