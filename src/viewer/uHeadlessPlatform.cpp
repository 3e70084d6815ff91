// Headless viewer platform.
#include "viewer/uHeadlessPlatform.h"

#include "viewer/uViewerCore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

void THeadlessPlatform::SetStatusText(const std::string &S) {
  StatusText = S;
  // Long plays would otherwise grow the history without bound.
  if (StatusHistory.size() >= 10000)
    StatusHistory.erase(StatusHistory.begin(), StatusHistory.begin() + 5000);
  StatusHistory.push_back(S);
}

void THeadlessPlatform::SetSliderRange(int32_t Min, int32_t Max) {
  SliderMin = Min;
  SliderMax = Max;
  SliderPos = std::clamp(SliderPos, Min, std::max(Min, Max));
}

void THeadlessPlatform::SetSliderPos(int32_t Pos) {
  SliderPos = std::clamp(Pos, SliderMin, std::max(SliderMin, SliderMax));
  ++SliderSets;
}

void THeadlessPlatform::UserMovesSlider(int32_t Pos) {
  SliderPos = std::clamp(Pos, SliderMin, std::max(SliderMin, SliderMax));
}

uintptr_t THeadlessPlatform::StartTimer(int32_t Id, int32_t Ms) {
  if (RefuseTimers)
    return 0;
  Timers[Id] = TTimer{Ms, NowMs + Ms};
  return static_cast<uintptr_t>(Id);
}

double THeadlessPlatform::PerfSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void THeadlessPlatform::Present() {
  ++Presents;
  if (OnPresent)
    OnPresent();
}

void THeadlessPlatform::Advance(TViewerCore &Core, int64_t Ms) {
  const int64_t Until = NowMs + Ms;
  for (;;) {
    auto Next = Timers.end();
    for (auto It = Timers.begin(); It != Timers.end(); ++It)
      if (It->second.DueMs <= Until && (Next == Timers.end() || It->second.DueMs < Next->second.DueMs))
        Next = It;
    if (Next == Timers.end())
      break;
    NowMs = Next->second.DueMs;
    Next->second.DueMs += std::max(Next->second.PeriodMs, 1);
    Core.HandleTimerId(Next->first);
  }
  NowMs = Until;
}

bool THeadlessPlatform::SaveFileAs(const std::string &Suggested, const std::vector<uint8_t> &Bytes,
                                   std::string &Saved, std::string &Why) {
  SaveSuggested = Suggested;
  if (SavePath.empty())
    return false;
  std::FILE *F = std::fopen(SavePath.c_str(), "wb");
  const bool Ok = F && std::fwrite(Bytes.data(), 1, Bytes.size(), F) == Bytes.size();
  if (F && std::fclose(F) != 0)
    return Why = "cannot write " + SavePath, false;
  if (!Ok)
    return Why = "cannot write " + SavePath, false;
  Saved = SavePath;
  return true;
}
