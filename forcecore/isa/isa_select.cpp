// The choice of a host library's instruction-set variant, made once per
// process: the most capable variant whose features the CPU has, or the one
// that NBFORCE_HOST_ISA names. Built for the baseline, like the rest of the
// library outside the kernels.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "forcecore/isa/isa_check.h"
#include "forcecore/isa/isa_dispatch.h"

// Set by the build: the features each level adds to the baseline,
// comma-separated, as the compiler reported them for its -march.
#ifndef NBF_ISA_REQUIRES_X86_64_V3
#define NBF_ISA_REQUIRES_X86_64_V3 "avx,avx2,bmi,bmi2,f16c,fma,movbe"
#endif
#ifndef NBF_ISA_REQUIRES_X86_64_V4
#define NBF_ISA_REQUIRES_X86_64_V4 "avx512bw,avx512cd,avx512dq,avx512f,avx512vl"
#endif

namespace {

struct Variant {
  const char* name;      // as NBFORCE_HOST_ISA spells it
  const char* tag;       // as the build names the variant
  const char* features;  // needed beyond the baseline
};

// v4 includes v3: a CPU must have both lists to run it.
constexpr Variant kVariants[] = {
    {"x86-64", "baseline", ""},
    {"x86-64-v3", "x86_64_v3", NBF_ISA_REQUIRES_X86_64_V3},
    {"x86-64-v4", "x86_64_v4", NBF_ISA_REQUIRES_X86_64_V3 "," NBF_ISA_REQUIRES_X86_64_V4},
};
constexpr int kCount = sizeof kVariants / sizeof kVariants[0];

int choose() {
  char missing[32];
  const char* forced = std::getenv("NBFORCE_HOST_ISA");
  if (forced != nullptr && *forced != '\0') {
    for (int k = 0; k < kCount; ++k) {
      if (std::strcmp(forced, kVariants[k].name) != 0) continue;
      if (nbforce_first_missing(kVariants[k].features, nbforce_cpu_supports, missing,
                                sizeof missing)) {
        std::fprintf(stderr, "nbforce: NBFORCE_HOST_ISA=%s needs %s, which this CPU lacks\n",
                     forced, missing);
        std::exit(1);
      }
      return k;
    }
    std::fprintf(stderr,
                 "nbforce: NBFORCE_HOST_ISA=\"%s\" is not one of x86-64, x86-64-v3, x86-64-v4\n",
                 forced);
    std::exit(1);
  }
  for (int k = kCount - 1; k > 0; --k)
    if (!nbforce_first_missing(kVariants[k].features, nbforce_cpu_supports, missing,
                               sizeof missing))
      return k;
  return 0;
}

}  // namespace

extern "C" int nbforce_host_isa_index(void) {
  static const int chosen = choose();
  return chosen;
}

extern "C" const char* nbforce_host_isa(void) { return kVariants[nbforce_host_isa_index()].name; }

extern "C" int nbforce_host_isa_is(const char* variant) {
  return std::strcmp(kVariants[nbforce_host_isa_index()].tag, variant) == 0;
}
