// Replays the inputs kept under fuzz/regressions/<target>/ through the fuzz targets' own
// bodies: every input that once found a fault stays a test. A failing check aborts.
#include "../../fuzz/fuzz_bodies.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#ifndef ZB_FUZZ_REGRESSIONS
#define ZB_FUZZ_REGRESSIONS ""
#endif

TEST(FuzzRegressions, KeptInputsStayHarmless) {
  const std::filesystem::path Root(ZB_FUZZ_REGRESSIONS);
  std::error_code Ec;
  if (Root.empty() || !std::filesystem::is_directory(Root, Ec))
    GTEST_SKIP() << "no folder of kept inputs here";
  const struct {
    const char *Name;
    void (*Body)(const uint8_t *, size_t);
  } Targets[] = {{"source", zbfuzz::Source},   {"vita49", zbfuzz::Vita49},       {"wav", zbfuzz::Wav},
                 {"sidecar", zbfuzz::Sidecar}, {"thumbnail", zbfuzz::Thumbnail}, {"sigmf", zbfuzz::SigMF},
                 {"cif", zbfuzz::Cif}};
  int Replayed = 0;
  for (const auto &T : Targets) {
    const auto Dir = Root / T.Name;
    if (!std::filesystem::is_directory(Dir, Ec))
      continue;
    for (const auto &E : std::filesystem::directory_iterator(Dir)) {
      if (!E.is_regular_file() || E.path().filename().string().front() == '.')
        continue;
      std::ifstream In(E.path(), std::ios::binary);
      const std::vector<uint8_t> Bytes((std::istreambuf_iterator<char>(In)),
                                       std::istreambuf_iterator<char>());
      SCOPED_TRACE(E.path().string());
      T.Body(Bytes.data(), Bytes.size());
      ++Replayed;
    }
  }
  RecordProperty("replayed", Replayed);
}
