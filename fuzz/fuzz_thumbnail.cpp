// libFuzzer target: see zbfuzz::Thumbnail.
#include "fuzz_bodies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  zbfuzz::Thumbnail(Data, Size);
  return 0;
}
