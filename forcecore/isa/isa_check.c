/* Load-time check of the host library's instruction set. A host library
 * built for a newer instruction set than the x86-64 baseline (-march=native,
 * or an x86-64 level) would die by SIGILL on a CPU without it; this check
 * runs before any other initialisation and says so in one line instead.
 * Plain C built for the baseline, so that it runs on any x86-64 and shares
 * no inline code with the kernels built for the newer instruction set. */
#include "forcecore/isa/isa_check.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Set by the build: the features the library's kernels were compiled with,
 * comma-separated, and the flags that chose them. */
#ifndef NBF_HOST_ISA_REQUIRES
#define NBF_HOST_ISA_REQUIRES ""
#endif
#ifndef NBF_HOST_ISA_FLAGS
#define NBF_HOST_ISA_FLAGS ""
#endif

const char nbforce_host_isa_checked = 1;

int nbforce_cpu_supports(const char* feature) {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  /* The CPU-feature query takes literal names only, hence one line each. */
#define NBF_FEATURE(name) \
  if (strcmp(feature, name) == 0) return __builtin_cpu_supports(name) ? 1 : 0;
  NBF_FEATURE("sse3")
  NBF_FEATURE("ssse3")
  NBF_FEATURE("sse4.1")
  NBF_FEATURE("sse4.2")
  NBF_FEATURE("popcnt")
#if !defined(__clang__) /* names clang's CPU query does not know */
  NBF_FEATURE("movbe")
  NBF_FEATURE("f16c")
#endif
  NBF_FEATURE("bmi")
  NBF_FEATURE("bmi2")
  NBF_FEATURE("avx")
  NBF_FEATURE("avx2")
  NBF_FEATURE("fma")
  NBF_FEATURE("avx512f")
  NBF_FEATURE("avx512vl")
  NBF_FEATURE("avx512bw")
  NBF_FEATURE("avx512dq")
  NBF_FEATURE("avx512cd")
  NBF_FEATURE("avx512ifma")
  NBF_FEATURE("avx512vbmi")
  NBF_FEATURE("avx512vbmi2")
  NBF_FEATURE("avx512vnni")
  NBF_FEATURE("avx512bitalg")
  NBF_FEATURE("avx512vpopcntdq")
  NBF_FEATURE("avx512bf16")
#if !defined(__clang__)
  NBF_FEATURE("avx512fp16")
#endif
#undef NBF_FEATURE
#endif
  (void)feature;
  return -1;
}

int nbforce_first_missing(const char* required, int (*supports)(const char*), char* missing,
                          size_t size) {
  const char* p = required;
  while (*p) {
    const size_t n = strcspn(p, ",");
    char name[32];
    if (n > 0 && n < sizeof name) {
      memcpy(name, p, n);
      name[n] = '\0';
      if (supports(name) == 0) {
        snprintf(missing, size, "%s", name);
        return 1;
      }
    }
    p += n;
    if (*p == ',') ++p;
  }
  return 0;
}

__attribute__((constructor(101))) static void nbforce_check_host_isa(void) {
  char missing[32];
  if (nbforce_first_missing(NBF_HOST_ISA_REQUIRES, nbforce_cpu_supports, missing, sizeof missing)) {
    fprintf(stderr,
            "nbforce: this host library was compiled with %s and needs %s, which this CPU "
            "lacks; build it for the baseline (NBFORCE_NATIVE=OFF, NBFORCE_HOST_ARCH empty) to run "
            "here.\n",
            NBF_HOST_ISA_FLAGS, missing);
    exit(1);
  }
}
