// libFuzzer target: see zbfuzz::Vita49.
#include "fuzz_bodies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  zbfuzz::Vita49(Data, Size);
  return 0;
}
