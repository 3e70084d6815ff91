/* Shared by the fake CUDA runtime and the fake cuFFT of the tests: export macro, the failure
   knob and the call counters. The "device" is host memory.

   Knob: ZB_FAKE_CUDA_FAIL lists "entry:n" items separated by commas; the n-th call of that entry
   since the last reset fails (n of 0 or no ":n": every call). Read on every call, so a test may
   change it between calls. */
#ifndef ZB_FAKE_COMMON_H
#define ZB_FAKE_COMMON_H

#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#define FAKE_API __declspec(dllexport)
#else
#define FAKE_API __attribute__((visibility("default")))
#endif

static int fake_should_fail(const char *entry, long call_no) {
  const char *knob = getenv("ZB_FAKE_CUDA_FAIL");
  size_t len = strlen(entry);
  while (knob && *knob) {
    const char *end = strchr(knob, ',');
    size_t item = end ? (size_t)(end - knob) : strlen(knob);
    if (item >= len && strncmp(knob, entry, len) == 0 && (item == len || knob[len] == ':')) {
      long n = item > len ? strtol(knob + len + 1, NULL, 10) : 0;
      if (n == 0 || n == call_no)
        return 1;
    }
    knob = end ? end + 1 : NULL;
  }
  return 0;
}

#endif
