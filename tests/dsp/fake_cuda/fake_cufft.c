/* A stand-in for cuFFT: single-precision complex-to-complex plans (cufftPlan1d of batch 1, and
   contiguous batches of cufftPlanMany), executed with its own transform (radix-2 for powers of
   two, the plain DFT otherwise), accumulating in double. Counters through zbfake_cufft_counter.
   Built once complete and once without each entry point (ZBFAKE_OMIT_<name>). */
#include "fake_common.h"

#include <math.h>

#define MAX_PLANS 64

typedef struct {
  float x, y;
} fake_complex;

static int plan_size[MAX_PLANS]; /* 0: free slot */
static int plan_batch[MAX_PLANS];
static long n_plan, n_planmany, n_destroy, n_exec, n_bad;

FAKE_API void zbfake_cufft_reset(void) {
  n_plan = n_planmany = n_destroy = n_exec = n_bad = 0;
}

/* "plan", "planmany", "destroy", "exec": calls since the reset; "live": plans not destroyed;
   "bad": misuse (unknown plan, wrong type, layout, batch or direction). */
FAKE_API long zbfake_cufft_counter(const char *name) {
  long l = 0;
  int i;
  if (strcmp(name, "plan") == 0)
    return n_plan;
  if (strcmp(name, "planmany") == 0)
    return n_planmany;
  if (strcmp(name, "destroy") == 0)
    return n_destroy;
  if (strcmp(name, "exec") == 0)
    return n_exec;
  if (strcmp(name, "bad") == 0)
    return n_bad;
  for (i = 0; i < MAX_PLANS; ++i)
    l += plan_size[i] != 0;
  return l;
}

#ifndef ZBFAKE_OMIT_cufftExecC2C
static void transform(const fake_complex *in, fake_complex *out, int n) {
  const double two_pi = 6.283185307179586476925286766559;
  double *re = malloc(sizeof(double) * (size_t)n), *im = malloc(sizeof(double) * (size_t)n);
  int i, k, len;
  if (!re || !im) {
    free(re);
    free(im);
    return;
  }
  if ((n & (n - 1)) == 0) {
    /* Bit-reversed load, then butterflies with twiddles from the angle (no recurrence). */
    int bits = 0;
    while ((1 << bits) < n)
      ++bits;
    for (i = 0; i < n; ++i) {
      int r = 0, b;
      for (b = 0; b < bits; ++b)
        r |= ((i >> b) & 1) << (bits - 1 - b);
      re[r] = in[i].x;
      im[r] = in[i].y;
    }
    for (len = 2; len <= n; len *= 2) {
      int half = len / 2;
      for (k = 0; k < half; ++k) {
        double wr = cos(-two_pi * k / len), wi = sin(-two_pi * k / len);
        for (i = k; i < n; i += len) {
          int j = i + half;
          double tr = re[j] * wr - im[j] * wi, ti = re[j] * wi + im[j] * wr;
          re[j] = re[i] - tr;
          im[j] = im[i] - ti;
          re[i] += tr;
          im[i] += ti;
        }
      }
    }
  } else {
    for (k = 0; k < n; ++k) {
      double sr = 0, si = 0;
      for (i = 0; i < n; ++i) {
        double a = -two_pi * (double)(((long long)i * k) % n) / n;
        sr += in[i].x * cos(a) - in[i].y * sin(a);
        si += in[i].x * sin(a) + in[i].y * cos(a);
      }
      re[k] = sr;
      im[k] = si;
    }
  }
  for (i = 0; i < n; ++i) {
    out[i].x = (float)re[i];
    out[i].y = (float)im[i];
  }
  free(re);
  free(im);
}
#endif

#ifndef ZBFAKE_OMIT_cufftPlan1d
FAKE_API int cufftPlan1d(int *plan, int nx, int type, int batch) {
  int i;
  ++n_plan;
  if (fake_should_fail("cufftPlan1d", n_plan))
    return 2; /* allocation failed */
  if (type != 41 || batch != 1 || nx < 1) {
    ++n_bad;
    return 4; /* invalid value */
  }
  for (i = 0; i < MAX_PLANS; ++i)
    if (!plan_size[i]) {
      plan_size[i] = nx;
      plan_batch[i] = 1;
      *plan = i + 1;
      return 0;
    }
  return 2;
}
#endif

#ifndef ZBFAKE_OMIT_cufftPlanMany
/* Only the layout the engine asks for: one dimension, blocks back to back. */
FAKE_API int cufftPlanMany(int *plan, int rank, int *n, int *inembed, int istride, int idist, int *onembed,
                           int ostride, int odist, int type, int batch) {
  int i;
  ++n_planmany;
  if (fake_should_fail("cufftPlanMany", n_planmany))
    return 2;
  if (rank != 1 || !n || n[0] < 1 || inembed || onembed || istride != 1 || ostride != 1 || idist != n[0] ||
      odist != n[0] || type != 41 || batch < 1) {
    ++n_bad;
    return 4;
  }
  for (i = 0; i < MAX_PLANS; ++i)
    if (!plan_size[i]) {
      plan_size[i] = n[0];
      plan_batch[i] = batch;
      *plan = i + 1;
      return 0;
    }
  return 2;
}
#endif

#ifndef ZBFAKE_OMIT_cufftExecC2C
FAKE_API int cufftExecC2C(int plan, fake_complex *in, fake_complex *out, int direction) {
  ++n_exec;
  if (fake_should_fail("cufftExecC2C", n_exec))
    return 6; /* execution failed */
  if (plan < 1 || plan > MAX_PLANS || !plan_size[plan - 1] || direction != -1) {
    ++n_bad;
    return 1;
  }
  {
    const int n = plan_size[plan - 1];
    int b;
    for (b = 0; b < plan_batch[plan - 1]; ++b)
      transform(in + (size_t)b * (size_t)n, out + (size_t)b * (size_t)n, n);
  }
  return 0;
}
#endif

#ifndef ZBFAKE_OMIT_cufftDestroy
FAKE_API int cufftDestroy(int plan) {
  ++n_destroy;
  if (plan < 1 || plan > MAX_PLANS || !plan_size[plan - 1]) {
    ++n_bad;
    return 1;
  }
  plan_size[plan - 1] = 0;
  return 0;
}
#endif
