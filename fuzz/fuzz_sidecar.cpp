// libFuzzer target: see zbfuzz::Sidecar.
#include "fuzz_bodies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  zbfuzz::Sidecar(Data, Size);
  return 0;
}
