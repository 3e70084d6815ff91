// libFuzzer target: see zbfuzz::Source.
#include "fuzz_bodies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  zbfuzz::Source(Data, Size);
  return 0;
}
