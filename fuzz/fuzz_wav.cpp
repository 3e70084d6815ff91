// libFuzzer target: see zbfuzz::Wav.
#include "fuzz_bodies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  zbfuzz::Wav(Data, Size);
  return 0;
}
