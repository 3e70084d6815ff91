// libFuzzer target: see zbfuzz::SigMF.
#include "fuzz_bodies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  zbfuzz::SigMF(Data, Size);
  return 0;
}
