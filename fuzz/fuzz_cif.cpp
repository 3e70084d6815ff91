// libFuzzer target: see zbfuzz::Cif.
#include "fuzz_bodies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  zbfuzz::Cif(Data, Size);
  return 0;
}
