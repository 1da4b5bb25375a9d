// The host libraries built for several instruction sets: each variant the
// CPU has gives the same bits, the default is the most capable one, and a
// variant the CPU lacks or a name nobody knows is refused with a message.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <set>
#include <string>

#include "forcecore/isa/isa_check.h"
#include "forcecore/isa/variants.h"

namespace {

struct ProbeRun {
  int status = -1;
  std::string out;
};

// Runs a probe with NBFORCE_HOST_ISA set to `isa` (unset when null).
ProbeRun probe(const std::string& path, const char* isa) {
  std::string command = isa == nullptr ? "env -u NBFORCE_HOST_ISA "
                                       : "env NBFORCE_HOST_ISA='" + std::string(isa) + "' ";
  command += "'" + path + "' 2>&1";
  ProbeRun r;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) r.out += buffer;
  const int raw = pclose(pipe);
  r.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

std::string field(const std::string& out, const std::string& key) {
  const std::size_t at = out.find(key + " ");
  if (at == std::string::npos) return "";
  const std::size_t from = at + key.size() + 1;
  return out.substr(from, out.find('\n', from) - from);
}

struct Level {
  const char* name;
  const char* features;
};

// The build's list of variants, the same one the libraries dispatch over.
#define LEVEL_ROW(tag, level, features, ...) {level, features},
const Level kLevels[] = {NBF_ISA_VARIANTS(LEVEL_ROW)};
#undef LEVEL_ROW

bool cpu_has(const Level& level) {
  char missing[32];
  return !nbforce_first_missing(level.features, nbforce_cpu_supports, missing, sizeof missing);
}

std::set<std::string> feature_set(const char* list) {
  std::set<std::string> names;
  std::string rest = list;
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    names.insert(rest.substr(0, comma));
    rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
  }
  return names;
}

// The choice takes the last variant the CPU can run: that is the most
// capable one only if each level needs all that the one before it needs.
TEST(IsaVariantList, EachLevelNeedsWhatTheLevelBeforeNeeds) {
  ASSERT_GE(sizeof kLevels / sizeof kLevels[0], 2u);
  EXPECT_TRUE(feature_set(kLevels[0].features).empty()) << kLevels[0].features;
  for (std::size_t k = 1; k < sizeof kLevels / sizeof kLevels[0]; ++k) {
    const std::set<std::string> before = feature_set(kLevels[k - 1].features);
    const std::set<std::string> here = feature_set(kLevels[k].features);
    EXPECT_GT(here.size(), before.size()) << kLevels[k].name;
    for (const std::string& f : before)
      EXPECT_TRUE(here.count(f)) << kLevels[k].name << " lacks " << f;
  }
}

class IsaVariants : public ::testing::TestWithParam<const char*> {};

TEST_P(IsaVariants, EveryVariantGivesTheSameBits) {
  const std::string path = GetParam();
  const ProbeRun base = probe(path, kLevels[0].name);
  ASSERT_EQ(base.status, 0) << base.out;
  ASSERT_EQ(field(base.out, "isa"), kLevels[0].name) << base.out;
  const std::string digest = field(base.out, "digest");
  ASSERT_EQ(digest.size(), 16u) << base.out;
  std::string best = kLevels[0].name;
  for (const Level& level : kLevels) {
    const ProbeRun r = probe(path, level.name);
    if (cpu_has(level)) {
      best = level.name;
      ASSERT_EQ(r.status, 0) << level.name << "\n" << r.out;
      EXPECT_EQ(field(r.out, "isa"), level.name) << r.out;
      EXPECT_EQ(field(r.out, "digest"), digest) << level.name;
      // Only the variant that runs registers its kernels.
      EXPECT_EQ(field(r.out, "kernels"), "4") << level.name;
    } else {
      EXPECT_EQ(r.status, 1) << level.name << "\n" << r.out;
      EXPECT_NE(r.out.find("which this CPU lacks"), std::string::npos) << r.out;
      std::printf("[ info ] this CPU cannot run %s\n", level.name);
    }
  }
  const ProbeRun chosen = probe(path, nullptr);
  ASSERT_EQ(chosen.status, 0) << chosen.out;
  EXPECT_EQ(field(chosen.out, "isa"), best);
  EXPECT_EQ(field(chosen.out, "digest"), digest);
}

TEST_P(IsaVariants, UnknownNamesAreRefused) {
  for (const char* name : {"avx9000", "x86-64-v5", "X86-64"}) {
    const ProbeRun r = probe(GetParam(), name);
    EXPECT_EQ(r.status, 1) << name << "\n" << r.out;
    EXPECT_NE(r.out.find(name), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("digest"), std::string::npos) << r.out;
  }
}

INSTANTIATE_TEST_SUITE_P(Orders, IsaVariants,
                         ::testing::Values(ISA_PROBE4_PATH, ISA_PROBE6_PATH, ISA_PROBE8_PATH));

}  // namespace
