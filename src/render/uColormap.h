// Eight-stop Viridis colour map shared by the waterfall texture, the PSD trace and the previews.
// All arithmetic is on 32-bit floats so that every caller gets the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct TRGB {
  uint8_t R = 0;
  uint8_t G = 0;
  uint8_t B = 0;
};

inline constexpr int VIRIDIS_STOPS = 8;
// Stop k stands for the normalised value k / 7.
inline constexpr float ViridisR[VIRIDIS_STOPS] = {0.267f, 0.283f, 0.254f, 0.191f,
                                                  0.127f, 0.208f, 0.565f, 0.993f};
inline constexpr float ViridisG[VIRIDIS_STOPS] = {0.005f, 0.141f, 0.288f, 0.407f,
                                                  0.566f, 0.718f, 0.843f, 0.906f};
inline constexpr float ViridisB[VIRIDIS_STOPS] = {0.329f, 0.458f, 0.530f, 0.556f,
                                                  0.551f, 0.472f, 0.262f, 0.144f};

// A + (B - A) * T.
float Lerp(float A, float B, float T);

// Colour of a normalised value, channels in 0..1 for OpenGL. T <= 0 (or NaN) gives stop 0, T >= 1 stop 7.
void ColormapViridisGL(float T, float &R, float &G, float &B);

// The same colour as bytes (each channel clamped, scaled by 255, rounded half to even).
TRGB ColormapViridis(float T);

// Colour of a level within [MinDb, MaxDb]; black when MaxDb <= MinDb.
TRGB MapDbToColor(float Db, float MinDb, float MaxDb);

// MapDbToColor for one level range, looked up instead of computed. The range is cut into bins
// of equal width; the colour is constant between the points where a byte changes, so a bin
// stores the colour on each side of the one such point it contains (and where that point lies),
// and bins with several such points are marked to be computed directly. The points are found
// by searching the float values themselves, so the bytes equal MapDbToColor's for every float
// input, including values outside the range, infinities and NaN.
class TDbColorTable {
public:
  // Bins of the table; rebuilding takes a fraction of a millisecond.
  static constexpr int32_t BINS = 8192;

  // Prepares the table for [MinDb, MaxDb]; does nothing when it is already for that range.
  void Build(float MinDb, float MaxDb);
  bool IsFor(float MinDb, float MaxDb) const;
  // Colour of Db; equals MapDbToColor(Db, MinDb, MaxDb) of the range built for.
  TRGB Map(float Db) const;
  // Count levels to 3 * Count bytes (R, G, B per level).
  // Both live in the colour map's own unit, compiled with its floating-point settings, so that
  // the bin of a level is the same everywhere.
  void MapRow(const float *Db, size_t Count, uint8_t *Out) const;
  // Whether levels are looked up in bins; false for empty ranges (all black) and for ranges too
  // wide or too narrow to cut into bins, whose levels are computed one by one.
  bool Binned() const { return FMode == TMode::Table; }
  // Number of points in a binned range where the colour changes (for tests and diagnostics).
  size_t ChangeCount() const { return FChanges; }

private:
  enum class TMode { Empty, Black, Direct, Table };
  // Colours packed as R | G << 8 | B << 16; DIRECT for both colours marks a bin to compute.
  static constexpr uint32_t DIRECT = 1u << 24;
  struct TBin {
    float Edge = 0.0f; // first level of the upper colour
    uint32_t Below = 0, Above = 0;
  };
  uint32_t Lookup(float Db) const;
  TMode FMode = TMode::Empty;
  float FMinDb = 0.0f, FMaxDb = 0.0f, FScale = 0.0f;
  size_t FChanges = 0;
  std::vector<TBin> FBins;
};
