// The choice of a host library's instruction-set variant, made once per
// process: the most capable variant whose features the CPU has, or the one
// that NBFORCE_HOST_ISA names. Built for the baseline, like the rest of the
// library outside the kernels.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "forcecore/isa/isa_check.h"
#include "forcecore/isa/isa_dispatch.h"
#include "forcecore/isa/variants.h"

namespace {

struct Variant {
  const char* name;      // as NBFORCE_HOST_ISA spells it
  const char* tag;       // as the build names the variant
  const char* features;  // every feature needed beyond the baseline
};

#define NBF_VARIANT_ROW_(tag, level, features, ...) {level, #tag, features},
constexpr Variant kVariants[] = {NBF_ISA_VARIANTS(NBF_VARIANT_ROW_)};
#undef NBF_VARIANT_ROW_
constexpr int kCount = sizeof kVariants / sizeof kVariants[0];
static_assert(kCount >= 2, "a library that chooses at run time has two variants or more");

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
    std::fprintf(stderr, "nbforce: NBFORCE_HOST_ISA=\"%s\" is not one of", forced);
    for (int k = 0; k < kCount; ++k)
      std::fprintf(stderr, "%s %s", k == 0 ? "" : ",", kVariants[k].name);
    std::fprintf(stderr, "\n");
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
