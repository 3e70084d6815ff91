/* A stand-in for the CUDA runtime: cudaGetDeviceCount, cudaMalloc, cudaFree, cudaMemcpy,
   cudaMallocHost and cudaFreeHost on host memory, with counters the tests read through
   zbfake_cudart_counter. Built once complete, once without each entry point
   (ZBFAKE_OMIT_<name>), and once reporting ZBFAKE_DEVICES devices instead of one. */
#include "fake_common.h"

#include <stddef.h>

#define MAX_LIVE 256

#ifndef ZBFAKE_DEVICES
#define ZBFAKE_DEVICES 1
#endif

static void *live[MAX_LIVE], *live_host[MAX_LIVE];
static size_t live_size[MAX_LIVE];
static long n_malloc, n_free, n_memcpy, n_mallochost, n_freehost, n_count, n_bad;

FAKE_API void zbfake_cudart_reset(void) {
  n_malloc = n_free = n_memcpy = n_mallochost = n_freehost = n_count = n_bad = 0;
}

/* "malloc", "free", "memcpy", "mallochost", "freehost", "devicecount": calls since the reset;
   "live", "livehost": device and page-locked allocations not freed (whatever the reset); "bad":
   frees of unknown pointers and copies with an unknown kind or range. */
FAKE_API long zbfake_cudart_counter(const char *name) {
  long l = 0;
  int i;
  if (strcmp(name, "malloc") == 0)
    return n_malloc;
  if (strcmp(name, "free") == 0)
    return n_free;
  if (strcmp(name, "memcpy") == 0)
    return n_memcpy;
  if (strcmp(name, "mallochost") == 0)
    return n_mallochost;
  if (strcmp(name, "freehost") == 0)
    return n_freehost;
  if (strcmp(name, "devicecount") == 0)
    return n_count;
  if (strcmp(name, "bad") == 0)
    return n_bad;
  for (i = 0; i < MAX_LIVE; ++i)
    l += (strcmp(name, "livehost") == 0 ? live_host[i] : live[i]) != NULL;
  return l;
}

#ifndef ZBFAKE_OMIT_cudaGetDeviceCount
FAKE_API int cudaGetDeviceCount(int *count) {
  ++n_count;
  *count = 0;
  if (fake_should_fail("cudaGetDeviceCount", n_count))
    return 100; /* no device */
  *count = ZBFAKE_DEVICES;
  return 0;
}
#endif

#ifndef ZBFAKE_OMIT_cudaMallocHost
FAKE_API int cudaMallocHost(void **ptr, size_t size) {
  int i;
  ++n_mallochost;
  if (fake_should_fail("cudaMallocHost", n_mallochost))
    return 2;
  for (i = 0; i < MAX_LIVE; ++i)
    if (!live_host[i]) {
      live_host[i] = malloc(size ? size : 1);
      if (!live_host[i])
        return 2;
      *ptr = live_host[i];
      return 0;
    }
  return 2;
}
#endif

#ifndef ZBFAKE_OMIT_cudaFreeHost
FAKE_API int cudaFreeHost(void *ptr) {
  int i;
  ++n_freehost;
  for (i = 0; i < MAX_LIVE; ++i)
    if (ptr && live_host[i] == ptr) {
      free(live_host[i]);
      live_host[i] = NULL;
      return 0;
    }
  ++n_bad;
  return 1;
}
#endif

#ifndef ZBFAKE_OMIT_cudaMemcpy
static int find_block(const void *p, size_t count) {
  int i;
  for (i = 0; i < MAX_LIVE; ++i)
    if (live[i] && (const char *)p >= (const char *)live[i] &&
        (const char *)p + count <= (const char *)live[i] + live_size[i])
      return i;
  return -1;
}
#endif

#ifndef ZBFAKE_OMIT_cudaMalloc
FAKE_API int cudaMalloc(void **dev, size_t size) {
  int i;
  ++n_malloc;
  if (fake_should_fail("cudaMalloc", n_malloc))
    return 2; /* out of memory */
  for (i = 0; i < MAX_LIVE; ++i)
    if (!live[i]) {
      live[i] = malloc(size ? size : 1);
      if (!live[i])
        return 2;
      live_size[i] = size;
      *dev = live[i];
      return 0;
    }
  return 2;
}
#endif

#ifndef ZBFAKE_OMIT_cudaFree
FAKE_API int cudaFree(void *dev) {
  int i;
  ++n_free;
  if (!dev)
    return 0;
  for (i = 0; i < MAX_LIVE; ++i)
    if (live[i] == dev) {
      free(live[i]);
      live[i] = NULL;
      return fake_should_fail("cudaFree", n_free) ? 1 : 0;
    }
  ++n_bad;
  return 1;
}
#endif

#ifndef ZBFAKE_OMIT_cudaMemcpy
FAKE_API int cudaMemcpy(void *dst, const void *src, size_t count, int kind) {
  ++n_memcpy;
  if (fake_should_fail("cudaMemcpy", n_memcpy))
    return 1;
  /* The device side must lie inside a live allocation. */
  if ((kind == 1 && find_block(dst, count) < 0) || (kind == 2 && find_block(src, count) < 0) ||
      (kind != 1 && kind != 2)) {
    ++n_bad;
    return 1;
  }
  memcpy(dst, src, count);
  return 0;
}
#endif
