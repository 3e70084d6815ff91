#include "render/uColormap.h"

#include <cmath>
#include <cstring>

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

namespace {

// Floats in value order as integers (both zeros are 0), so that "the next float" is "+1".
int64_t OrderKey(float F) {
  int32_t I;
  std::memcpy(&I, &F, sizeof I);
  return I >= 0 ? int64_t{I} : -int64_t{I & 0x7fffffff};
}

float FromOrderKey(int64_t K) {
  const uint32_t U = K >= 0 ? static_cast<uint32_t>(K) : (static_cast<uint32_t>(-K) | 0x80000000u);
  float F;
  std::memcpy(&F, &U, sizeof F);
  return F;
}

bool SameRGB(TRGB A, TRGB B) {
  return A.R == B.R && A.G == B.G && A.B == B.B;
}

uint32_t Pack(TRGB C) {
  return uint32_t{C.R} | uint32_t{C.G} << 8 | uint32_t{C.B} << 16;
}

// Which stretch of the colour map a level falls on: -1 at or below the bottom, 0..6 between
// stops, 7 at the top. Never decreases as the level grows, and within one stretch every channel
// moves in one direction only.
int Stretch(float Db, float MinDb, float MaxDb) {
  float T = (Db - MinDb) / (MaxDb - MinDb);
  T = T < 0.0f ? 0.0f : (T > 1.0f ? 1.0f : T);
  if (!(T > 0.0f))
    return -1;
  if (T >= 1.0f)
    return VIRIDIS_STOPS - 1;
  const int I = static_cast<int>(T * static_cast<float>(VIRIDIS_STOPS - 1));
  return I >= VIRIDIS_STOPS - 1 ? VIRIDIS_STOPS - 2 : I;
}

// Smallest key in (Lo, Hi] for which Pred holds, Hi + 1 when none; Pred must be false at Lo and
// never turn false again once true.
template <class P> int64_t FirstTrue(int64_t Lo, int64_t Hi, P Pred) {
  if (Lo >= Hi || !Pred(Hi))
    return Hi + 1;
  while (Hi - Lo > 1) {
    const int64_t Mid = Lo + (Hi - Lo) / 2;
    if (Pred(Mid))
      Hi = Mid;
    else
      Lo = Mid;
  }
  return Hi;
}

} // namespace

bool TDbColorTable::IsFor(float MinDb, float MaxDb) const {
  return FMode != TMode::Empty && std::memcmp(&FMinDb, &MinDb, sizeof MinDb) == 0 &&
         std::memcmp(&FMaxDb, &MaxDb, sizeof MaxDb) == 0;
}

void TDbColorTable::Build(float MinDb, float MaxDb) {
  if (IsFor(MinDb, MaxDb))
    return;
  FMinDb = MinDb;
  FMaxDb = MaxDb;
  FChanges = 0;
  FBins.clear();
  if (!(MaxDb > MinDb)) { // also NaN limits: MapDbToColor gives black for every level
    FMode = MaxDb <= MinDb ? TMode::Black : TMode::Direct;
    return;
  }
  FScale = static_cast<float>(BINS) / (MaxDb - MinDb);
  if (!std::isfinite(MaxDb - MinDb) || !std::isfinite(FScale) || !(FScale > 0.0f)) {
    FMode = TMode::Direct; // a range too wide or too narrow for bins: compute every level
    return;
  }

  // Every key in [Lo, Hi] where the colour differs from the key before, in order.
  const int64_t Lo = OrderKey(MinDb), Hi = OrderKey(MaxDb);
  auto ColourAt = [&](int64_t K) { return MapDbToColor(FromOrderKey(K), MinDb, MaxDb); };
  auto StretchAt = [&](int64_t K) { return Stretch(FromOrderKey(K), MinDb, MaxDb); };
  std::vector<int64_t> Changes;
  std::vector<TRGB> Colours{ColourAt(Lo)}; // Colours[j]: from Changes[j - 1] on
  for (int64_t Start = Lo; Start <= Hi;) {
    const int S = StretchAt(Start);
    const int64_t End = FirstTrue(Start, Hi, [&](int64_t K) { return StretchAt(K) != S; }) - 1;
    for (int64_t K = Start; K <= End;) {
      const TRGB C = ColourAt(K);
      if (!SameRGB(C, Colours.back())) {
        Changes.push_back(K);
        Colours.push_back(C);
      }
      K = FirstTrue(K, End, [&](int64_t X) { return !SameRGB(ColourAt(X), C); });
    }
    Start = End + 1;
  }
  FChanges = Changes.size();

  // Each bin: the colour where it starts and, when it holds one change, the colour after it.
  FBins.assign(BINS, TBin{});
  auto BinOf = [&](float D) {
    const int32_t I = static_cast<int32_t>((D - MinDb) * FScale);
    return I < BINS - 1 ? I : BINS - 1;
  };
  size_t J = 0; // changes before the current bin
  for (int32_t B = 0; B < BINS; ++B) {
    size_t End = J;
    while (End < Changes.size() && BinOf(FromOrderKey(Changes[End])) == B)
      ++End;
    TBin &Bin = FBins[static_cast<size_t>(B)];
    Bin.Below = Bin.Above = Pack(Colours[J]);
    Bin.Edge = MaxDb;
    if (End - J == 1) {
      Bin.Edge = FromOrderKey(Changes[J]);
      Bin.Above = Pack(Colours[J + 1]);
    } else if (End - J > 1) {
      Bin.Below = Bin.Above = DIRECT;
    }
    J = End;
  }
  FMode = TMode::Table;
}

// Packed colour of a level in a binned range.
inline uint32_t TDbColorTable::Lookup(float Db) const {
  float D = Db > FMinDb ? Db : FMinDb; // NaN and levels below the range look like its bottom
  D = D < FMaxDb ? D : FMaxDb;
  int32_t I = static_cast<int32_t>((D - FMinDb) * FScale);
  I = I < BINS - 1 ? I : BINS - 1;
  const TBin &B = FBins[static_cast<size_t>(I)];
  const uint32_t C = D < B.Edge ? B.Below : B.Above;
  return C != DIRECT ? C : Pack(MapDbToColor(D, FMinDb, FMaxDb));
}

TRGB TDbColorTable::Map(float Db) const {
  if (FMode != TMode::Table)
    return FMode == TMode::Black ? TRGB{} : MapDbToColor(Db, FMinDb, FMaxDb);
  const uint32_t C = Lookup(Db);
  return {static_cast<uint8_t>(C), static_cast<uint8_t>(C >> 8), static_cast<uint8_t>(C >> 16)};
}

void TDbColorTable::MapRow(const float *Db, size_t Count, uint8_t *Out) const {
  if (FMode != TMode::Table) {
    for (size_t I = 0; I < Count; ++I) {
      const TRGB C = Map(Db[I]);
      Out[3 * I] = C.R;
      Out[3 * I + 1] = C.G;
      Out[3 * I + 2] = C.B;
    }
    return;
  }
  for (size_t I = 0; I < Count; ++I) {
    const uint32_t C = Lookup(Db[I]);
    Out[3 * I] = static_cast<uint8_t>(C);
    Out[3 * I + 1] = static_cast<uint8_t>(C >> 8);
    Out[3 * I + 2] = static_cast<uint8_t>(C >> 16);
  }
}
