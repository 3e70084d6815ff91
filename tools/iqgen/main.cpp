// iqgen: writes a few seconds of a synthetic multi-signal recording (two tones, a repeated
// FSK burst, a frequency-hopping sequence, noise) in every format the plug-in reads, each
// with a sidecar .txt listing the signals. Deterministic: a fixed seed gives the same bytes.
//
//   iqgen --out DIR [--seconds S] [--rate HZ] [--center HZ] [--extras]
//
// --extras adds the recordings of other tools' formats (raw sample types by extension and by
// SigMF type, 24-bit .sdriq, 8/24-bit and RF64 WAV, VITA-49 with 8-bit items or large packets).
#include "iq_writers.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr uint32_t SEED = 0x5A4B1E5u;

struct TComplex {
  double Re = 0, Im = 0;
};

struct TOptions {
  std::string OutDir;
  double Seconds = 3.0;
  double Rate = 2000000.0;
  double Center = 433920000.0;
  bool Extras = false;
};

// One line of the sidecar and the samples it stands for.
struct TSignal {
  std::string Name, Modulation, Comment, Params;
  double OffsetHz = 0, Amplitude = 0;
  bool Loop = false;
  int Repeat = 1;
  double Pause = 0, Delay = 0, Duration = 0; // seconds
  double ShiftHz = 0, Baud = 0;              // FSK only
};

std::string Num(double V) {
  char B[64];
  std::snprintf(B, sizeof B, "%.10g", V);
  return B;
}

std::string Secs(double V) {
  return Num(V) + "s";
}

class TWriter {
public:
  explicit TWriter(const std::string &Path) : FPath(Path), FFile(std::fopen(Path.c_str(), "wb")) {
    if (!FFile)
      throw std::runtime_error("cannot create " + Path + ": " + std::strerror(errno));
  }
  ~TWriter() {
    if (FFile)
      std::fclose(FFile);
  }
  TWriter(const TWriter &) = delete;
  TWriter &operator=(const TWriter &) = delete;

  void Bytes(const void *P, size_t N) {
    if (N && std::fwrite(P, 1, N, FFile) != N)
      throw std::runtime_error("write error in " + FPath);
  }
  void Bytes(const std::vector<uint8_t> &B) { Bytes(B.data(), B.size()); }
  void Close() {
    const int Rc = std::fclose(FFile);
    FFile = nullptr;
    if (Rc != 0)
      throw std::runtime_error("write error in " + FPath);
  }

private:
  std::string FPath;
  std::FILE *FFile;
};

// Byte writers shared with the other-tools writers (and their tests).
using iqw::Crc32;
using iqw::Put16;
using iqw::Put32;
using iqw::Put64;
using iqw::Quantise;

// The scene: times scale with the recording length, offsets with the sample rate.
std::vector<TSignal> MakeScene(const TOptions &O) {
  const double T = O.Seconds, F = O.Rate / 2000000.0;
  std::vector<TSignal> S;
  TSignal A;
  A.Name = "Carrier_A";
  A.Modulation = "CW";
  A.OffsetHz = 250000 * F;
  A.Amplitude = 0.25;
  A.Loop = true;
  A.Repeat = 0;
  A.Duration = T;
  A.Comment = "Dauertraeger";
  A.Params = "phase=0";
  S.push_back(A);

  TSignal B;
  B.Name = "Carrier_B";
  B.Modulation = "CW";
  B.OffsetHz = -420000 * F;
  B.Amplitude = 0.12;
  B.Delay = 0.15 * T;
  B.Duration = 0.7 * T;
  B.Comment = "schwacher Traeger";
  B.Params = "phase=0.5";
  S.push_back(B);

  TSignal K;
  K.Name = "FSK_Burst";
  K.Modulation = "FSK";
  K.OffsetHz = -150000 * F;
  K.Amplitude = 0.3;
  K.Repeat = 2;
  K.Delay = 0.3 * T;
  K.Duration = 0.15 * T;
  K.Pause = 0.1 * T;
  K.ShiftHz = 40000 * F;
  K.Baud = 10000 * F;
  K.Comment = "2-FSK Datenburst";
  K.Params = "shift=" + Num(K.ShiftHz) + " baud=" + Num(K.Baud) + " bits=prbs";
  S.push_back(K);

  // Ten hops of one sequence, each on its own channel, 80 % duty.
  const int Channels[10] = {3, 7, 1, 9, 4, 0, 6, 2, 8, 5};
  const double Dwell = 0.08 * T, Step = 0.08 * T / 0.8;
  for (int H = 0; H < 10; ++H) {
    TSignal P;
    P.Name = "Hop" + std::to_string(H + 1);
    P.Modulation = "CW";
    P.OffsetHz = (400000 + 50000.0 * Channels[H]) * F; // a band of its own, above the carriers
    P.Amplitude = 0.2;
    P.Delay = 0.05 * T + H * Step;
    P.Duration = Dwell;
    P.Comment = "Hopper " + std::to_string(H + 1) + "/10, Folge 1/1";
    P.Params = "channel=" + std::to_string(Channels[H]);
    S.push_back(P);
  }
  return S;
}

// Sums every signal and the noise into complex baseband, full scale about +-1.
std::vector<TComplex> Synthesize(const TOptions &O, const std::vector<TSignal> &Scene, int64_t N) {
  std::vector<TComplex> X(static_cast<size_t>(N));
  std::mt19937 Rng(SEED);
  const double Ramp = 0.0005; // seconds of raised-cosine edge, so bursts do not splatter
  for (const TSignal &S : Scene) {
    const int Bursts = S.Loop ? 1 : std::max(1, S.Repeat);
    for (int R = 0; R < Bursts; ++R) {
      const double T0 = S.Delay + R * (S.Duration + S.Pause);
      const int64_t I0 = std::max<int64_t>(0, static_cast<int64_t>(std::ceil(T0 * O.Rate)));
      const int64_t I1 = std::min<int64_t>(N, static_cast<int64_t>(std::ceil((T0 + S.Duration) * O.Rate)));
      double Phase = 0;
      int Bit = 0;
      int64_t NextBitAt = I0;
      for (int64_t I = I0; I < I1; ++I) {
        double Freq = S.OffsetHz;
        if (S.Baud > 0) {
          if (I >= NextBitAt) {
            Bit = static_cast<int>(Rng() & 1u);
            NextBitAt += std::max<int64_t>(1, static_cast<int64_t>(O.Rate / S.Baud));
          }
          Freq += Bit ? S.ShiftHz / 2 : -S.ShiftHz / 2;
        }
        double Env = 1.0;
        if (!S.Loop) {
          const double Ta = (I - I0) / O.Rate, Tb = (I1 - 1 - I) / O.Rate;
          const double Edge = std::min(Ta, Tb);
          if (Edge < Ramp)
            Env = 0.5 - 0.5 * std::cos(PI * Edge / Ramp);
        }
        X[static_cast<size_t>(I)].Re += S.Amplitude * Env * std::cos(Phase);
        X[static_cast<size_t>(I)].Im += S.Amplitude * Env * std::sin(Phase);
        Phase = std::fmod(Phase + 2 * PI * Freq / O.Rate, 2 * PI);
      }
    }
  }
  // Complex white Gaussian noise, Box-Muller on the standard engine for identical output
  // with every standard library.
  const double Sigma = 0.01 / std::sqrt(2.0);
  for (TComplex &C : X) {
    const double U1 = (static_cast<double>(Rng()) + 1.0) / 4294967296.0;
    const double U2 = static_cast<double>(Rng()) / 4294967296.0;
    const double Rad = std::sqrt(-2.0 * std::log(U1)) * Sigma;
    C.Re += Rad * std::cos(2 * PI * U2);
    C.Im += Rad * std::sin(2 * PI * U2);
  }
  return X;
}

std::string Sidecar(const TOptions &O, const std::vector<TSignal> &Scene, const char *Hint) {
  std::string T;
  T += "sample_rate_hz=" + Num(O.Rate) + "\n";
  T += "center_freq_hz=" + Num(O.Center) + "\n";
  if (Hint)
    T += std::string("output_format=") + Hint + "\n";
  T += "generator=iqgen\n";
  T += "duration_s=" + Num(O.Seconds) + "\n";
  T += "noise_rms=0.01\n";
  T += "signals=\n";
  for (size_t I = 0; I < Scene.size(); ++I) {
    const TSignal &S = Scene[I];
    T += "[" + std::to_string(I) + "] name=" + S.Name + " modulation=" + S.Modulation +
         " offset_hz=" + Num(S.OffsetHz) + " amplitude=" + Num(S.Amplitude) +
         " loop_mode=" + (S.Loop ? "true" : "false") + " repeat=" + std::to_string(S.Repeat) +
         " pause=" + Secs(S.Pause) + " delay=" + Secs(S.Delay) + " duration=" + Secs(S.Duration) +
         " comment=" + S.Comment + "  params=" + S.Params + "\n";
  }
  return T;
}

void WriteRaw(const std::string &Path, const std::vector<TComplex> &X, int Kind /*0 int8, 1 int16, 2 float*/,
              const std::vector<uint8_t> &Header = {}) {
  TWriter W(Path);
  W.Bytes(Header);
  std::vector<uint8_t> B;
  const size_t BLOCK = 1 << 16;
  for (size_t I = 0; I < X.size(); I += BLOCK) {
    B.clear();
    for (size_t K = I; K < std::min(X.size(), I + BLOCK); ++K) {
      if (Kind == 0) {
        B.push_back(static_cast<uint8_t>(static_cast<int8_t>(Quantise(X[K].Re, 127))));
        B.push_back(static_cast<uint8_t>(static_cast<int8_t>(Quantise(X[K].Im, 127))));
      } else if (Kind == 1) {
        Put16(B, static_cast<uint16_t>(Quantise(X[K].Re, 32767)));
        Put16(B, static_cast<uint16_t>(Quantise(X[K].Im, 32767)));
      } else {
        const float F[2] = {static_cast<float>(X[K].Re), static_cast<float>(X[K].Im)};
        uint32_t U[2];
        std::memcpy(U, F, sizeof U);
        Put32(B, U[0]);
        Put32(B, U[1]);
      }
    }
    W.Bytes(B);
  }
  W.Close();
}

std::vector<uint8_t> SdrIqHeader(const TOptions &O) {
  std::vector<uint8_t> H;
  Put32(H, static_cast<uint32_t>(std::llround(O.Rate)));
  Put64(H, static_cast<uint64_t>(std::llround(O.Center)));
  Put64(H, 1765000000000ULL); // start time, ms since the epoch
  Put32(H, 16);               // bits per component
  Put32(H, Crc32(H.data(), H.size()));
  return H;
}

// VITA-49: a context packet (stream id, class id, integer and fractional timestamps;
// bandwidth, RF reference frequency and sample rate) first and again every 64 data packets;
// data packets with the same prologue and a trailer, 1000 samples each.
void WriteVita(const std::string &Path, const std::vector<TComplex> &X, const TOptions &O, bool Big) {
  TWriter W(Path);
  const uint32_t StreamId = 0x00000A01, Oui = 0x00FFFFFA, Icc = 0x00010002;
  const uint32_t Tsi = 1765000000u;
  const size_t PerPacket = 1000;
  uint32_t Count = 0;
  auto Prologue = [&](std::vector<uint8_t> &B, uint32_t Type, bool Trailer, uint32_t Words, uint64_t Sample) {
    const uint32_t W0 =
        Type << 28 | 1u << 27 | uint32_t(Trailer) << 26 | 1u << 22 | 2u << 20 | (Count++ & 15u) << 16 | Words;
    Put32(B, W0, Big);
    Put32(B, StreamId, Big);
    Put32(B, Oui, Big);
    Put32(B, Icc, Big);
    Put32(B, Tsi, Big);
    const uint64_t Ps = static_cast<uint64_t>(std::llround(static_cast<double>(Sample) / O.Rate * 1e12));
    Put64(B, Ps, Big);
  };
  auto Fixed20 = [](double V) { return static_cast<uint64_t>(std::llround(V * 1048576.0)); };
  std::vector<uint8_t> B;
  for (size_t I = 0, Pkt = 0; I < X.size(); I += PerPacket, ++Pkt) {
    B.clear();
    if (Pkt % 64 == 0) {
      Prologue(B, 4, false, 7 + 1 + 2 + 2 + 2, I);
      Put32(B, 1u << 29 | 1u << 27 | 1u << 21, Big);
      Put64(B, Fixed20(O.Rate * 0.8), Big);
      Put64(B, Fixed20(O.Center), Big);
      Put64(B, Fixed20(O.Rate), Big);
    }
    const size_t N = std::min(PerPacket, X.size() - I);
    Prologue(B, 1, true, static_cast<uint32_t>(7 + N + 1), I);
    for (size_t K = I; K < I + N; ++K) {
      Put16(B, static_cast<uint16_t>(Quantise(X[K].Re, 32767)), Big);
      Put16(B, static_cast<uint16_t>(Quantise(X[K].Im, 32767)), Big);
    }
    Put32(B, 0x40000000u | 0x00000100u, Big); // trailer: valid-data indicator enabled and set
    W.Bytes(B);
  }
  W.Close();
}

void WriteWav(const std::string &Path, const std::vector<TComplex> &X, const TOptions &O) {
  TWriter W(Path);
  const uint64_t DataBytes = static_cast<uint64_t>(X.size()) * 4;
  if (DataBytes > 0xFFFFFFF0ull)
    throw std::runtime_error("recording too long for a WAV file");
  std::vector<uint8_t> H{'R', 'I', 'F', 'F'};
  Put32(H, static_cast<uint32_t>(4 + 8 + 16 + 8 + DataBytes));
  H.insert(H.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  const uint32_t Rate = static_cast<uint32_t>(std::llround(O.Rate));
  Put32(H, 16);
  Put16(H, 1); // PCM
  Put16(H, 2);
  Put32(H, Rate);
  Put32(H, Rate * 4);
  Put16(H, 4);
  Put16(H, 16);
  H.insert(H.end(), {'d', 'a', 't', 'a'});
  Put32(H, static_cast<uint32_t>(DataBytes));
  W.Bytes(H);
  std::vector<uint8_t> B;
  for (size_t I = 0; I < X.size(); I += 1 << 16) {
    B.clear();
    for (size_t K = I; K < std::min(X.size(), I + (1 << 16)); ++K) {
      Put16(B, static_cast<uint16_t>(Quantise(X[K].Re, 32767)));
      Put16(B, static_cast<uint16_t>(Quantise(X[K].Im, 32767)));
    }
    W.Bytes(B);
  }
  W.Close();
}

void WriteText(const std::string &Path, const std::string &Text) {
  TWriter W(Path);
  W.Bytes(Text.data(), Text.size());
  W.Close();
}

double ParseNumber(const std::string &Opt, const char *S) {
  char *End = nullptr;
  errno = 0;
  const double V = std::strtod(S, &End);
  if (End == S || *End != '\0' || errno != 0 || !std::isfinite(V) || V <= 0)
    throw std::invalid_argument(Opt + " needs a positive number, not '" + S + "'");
  return V;
}

TOptions ParseArgs(int Argc, char **Argv) {
  TOptions O;
  for (int I = 1; I < Argc; ++I) {
    const std::string A = Argv[I];
    if (A == "-h" || A == "--help") {
      std::printf("usage: iqgen --out DIR [--seconds S] [--rate HZ] [--center HZ] [--extras]\n");
      std::exit(0);
    }
    if (A == "--extras") {
      O.Extras = true;
      continue;
    }
    if (I + 1 >= Argc)
      throw std::invalid_argument("missing value after " + A);
    const char *V = Argv[++I];
    if (A == "--out")
      O.OutDir = V;
    else if (A == "--seconds")
      O.Seconds = ParseNumber(A, V);
    else if (A == "--rate")
      O.Rate = ParseNumber(A, V);
    else if (A == "--center")
      O.Center = ParseNumber(A, V);
    else
      throw std::invalid_argument("unknown option " + A);
  }
  if (O.OutDir.empty())
    throw std::invalid_argument("--out DIR is required");
  if (O.Rate > 4.0e9)
    throw std::invalid_argument("--rate must be below 4 GHz");
  if (O.Seconds * O.Rate > 2.0e8)
    throw std::invalid_argument("--seconds x --rate must stay below 200 million samples");
  if (O.Seconds * O.Rate < 1)
    throw std::invalid_argument("--seconds x --rate gives no samples");
  return O;
}

// The recordings of other tools' formats; only SigMF-typed files get a sidecar (its hint).
void WriteExtras(const TOptions &O, const std::vector<TComplex> &X) {
  std::vector<iqw::TCplx> C(X.size());
  for (size_t I = 0; I < X.size(); ++I)
    C[I] = {X[I].Re, X[I].Im};
  const uint32_t Rate = static_cast<uint32_t>(std::llround(O.Rate));
  const uint64_t Center = static_cast<uint64_t>(std::llround(O.Center));
  auto Out = [&](const std::string &Name, const std::vector<uint8_t> &Bytes, const std::string &Hint = "") {
    const std::filesystem::path P = std::filesystem::path(O.OutDir) / Name;
    TWriter W(P.string());
    W.Bytes(Bytes);
    W.Close();
    std::printf("%s\n", P.string().c_str());
    if (!Hint.empty()) {
      const std::string Txt = (P.parent_path() / P.stem()).string() + ".txt";
      WriteText(Txt, "output_format=" + Hint + "\n");
      std::printf("%s\n", Txt.c_str());
    }
  };
  Out("extra_uint8.cu8", iqw::RawBytes(C, iqw::TRaw::cu8));
  Out("extra_int16.sc16", iqw::RawBytes(C, iqw::TRaw::ci16_le));
  Out("extra_float32.cfile", iqw::RawBytes(C, iqw::TRaw::cf32_le));
  for (iqw::TRaw T : {iqw::TRaw::ci16_be, iqw::TRaw::cu16_le, iqw::TRaw::ci32_be, iqw::TRaw::cf32_be})
    Out(std::string("extra_sigmf_") + iqw::RawName(T) + ".sigmf-data", iqw::RawBytes(C, T),
        std::string("sigmf:") + iqw::RawName(T));
  Out("extra_sdrangel24.sdriq", iqw::SdrIqBytes(C, Rate, Center, 24));
  const uint32_t Auxi = Center <= 0xFFFFFFFFu ? static_cast<uint32_t>(Center) : 0;
  Out("extra_wav8.wav", iqw::WavBytes(C, Rate, {8, false, false, 0}));
  Out("extra_wav24.wav", iqw::WavBytes(C, Rate, {24, false, false, Auxi}));
  Out("extra_wav24in32.wav", iqw::WavBytes(C, Rate, {24, true, false, 0}));
  Out("extra_rf64.wav", iqw::WavBytes(C, Rate, {16, false, true, Auxi}));
  iqw::TVitaOptions V;
  V.ItemBits = 8;
  Out("extra_vita49_int8.vrt", iqw::VitaBytes(C, O.Rate, O.Center, V));
  V.ItemBits = 16;
  V.SamplesPerPacket = 2250; // about 9 KB packets
  Out("extra_vita49_large.cs16", iqw::VitaBytes(C, O.Rate, O.Center, V));
  V.SamplesPerPacket = 1000;
  V.CommandEvery = 3;
  Out("extra_vita49_commands.vrt", iqw::VitaBytes(C, O.Rate, O.Center, V));
}

} // namespace

int main(int Argc, char **Argv) {
  try {
    const TOptions O = ParseArgs(Argc, Argv);
    std::filesystem::create_directories(O.OutDir);
    const std::vector<TSignal> Scene = MakeScene(O);
    const int64_t N = static_cast<int64_t>(std::llround(O.Seconds * O.Rate));
    const std::vector<TComplex> X = Synthesize(O, Scene, N);

    struct TOut {
      const char *File;
      const char *Hint;
    };
    const TOut Outs[] = {{"demo_int8.cs8", "hackrf"},      {"demo_int16.cs16", "hackrf"},
                         {"demo_float32.cf32", "hackrf"},  {"demo_sdrangel.sdriq", "sdrangel"},
                         {"demo_vita49_be.iq", "sda-wav"}, {"demo_vita49_le.iq", "sda-wav"},
                         {"demo_wav.iq", nullptr}};
    for (const TOut &Out : Outs) {
      const std::string Base = (std::filesystem::path(O.OutDir) / Out.File).string();
      const std::string Name = Out.File;
      if (Name == "demo_int8.cs8")
        WriteRaw(Base, X, 0);
      else if (Name == "demo_int16.cs16")
        WriteRaw(Base, X, 1);
      else if (Name == "demo_float32.cf32")
        WriteRaw(Base, X, 2);
      else if (Name == "demo_sdrangel.sdriq")
        WriteRaw(Base, X, 1, SdrIqHeader(O));
      else if (Name == "demo_vita49_be.iq")
        WriteVita(Base, X, O, true);
      else if (Name == "demo_vita49_le.iq")
        WriteVita(Base, X, O, false);
      else
        WriteWav(Base, X, O);
      const std::string Txt =
          (std::filesystem::path(O.OutDir) / std::filesystem::path(Out.File).stem()).string() + ".txt";
      WriteText(Txt, Sidecar(O, Scene, Out.Hint));
      std::printf("%s\n%s\n", Base.c_str(), Txt.c_str());
    }
    if (O.Extras)
      WriteExtras(O, X);
    return 0;
  } catch (const std::exception &E) {
    std::fprintf(stderr, "iqgen: %s\n", E.what());
    return 1;
  }
}
