// The host library's load-time instruction-set check: which required
// feature it reports, and the CPU query it rests on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "forcecore/isa/isa_check.h"

namespace {

// A CPU with AVX and AVX2 but neither FMA nor anything else it knows of.
int avx2_without_fma(const char* feature) {
  if (std::strcmp(feature, "avx") == 0 || std::strcmp(feature, "avx2") == 0) return 1;
  if (std::strcmp(feature, "mystery") == 0) return -1;
  return 0;
}

std::string first_missing(const char* required) {
  char missing[32] = "untouched";
  return nbforce_first_missing(required, avx2_without_fma, missing, sizeof missing) ? missing : "";
}

TEST(IsaCheck, ReportsTheFirstFeatureTheCpuLacks) {
  EXPECT_EQ(first_missing(""), "");
  EXPECT_EQ(first_missing("avx,avx2"), "");
  EXPECT_EQ(first_missing("avx,fma,avx512f"), "fma");
  EXPECT_EQ(first_missing("avx512f"), "avx512f");
  // Names the check cannot query are not held against the CPU; empty items
  // and an overlong name neither.
  EXPECT_EQ(first_missing("mystery,,avx2,"), "");
  EXPECT_EQ(first_missing("a-name-longer-than-any-feature-name-at-all,avx"), "");
}

TEST(IsaCheck, KnowsTheFeaturesTheKernelsAreBuiltWith) {
  // What -march=x86-64-v3, x86-64-v4 and native add for the kernels' code.
  for (const char* f : {"sse3", "ssse3", "sse4.1", "sse4.2", "popcnt", "avx", "avx2", "fma", "bmi",
                        "bmi2", "avx512f", "avx512vl", "avx512bw", "avx512dq", "avx512cd"})
    EXPECT_NE(nbforce_cpu_supports(f), -1) << f;
#if !defined(__clang__)
  // GCC's CPU query also knows these; clang's does not, and skips them.
  for (const char* f : {"f16c", "movbe"}) EXPECT_NE(nbforce_cpu_supports(f), -1) << f;
#endif
  EXPECT_EQ(nbforce_cpu_supports("no-such-feature"), -1);
  EXPECT_EQ(nbforce_cpu_supports("avx2"), __builtin_cpu_supports("avx2") ? 1 : 0);
}

}  // namespace
