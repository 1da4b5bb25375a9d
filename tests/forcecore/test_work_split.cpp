// How the interaction grid divides its work: the j-slices and the sharing of
// i-particles among threads.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "forcecore/split.h"

namespace {

TEST(WorkSplit, SharingFollowsTheParticlesLeft) {
  struct Case {
    int rem, jsplit, ni_block;
  };
  for (Case c : {Case{1, 32, 4}, Case{4, 32, 4}, Case{5, 16, 8}, Case{16, 8, 16}, Case{17, 4, 32},
                 Case{64, 2, 64}, Case{65, 1, 128}, Case{4096, 1, 128}}) {
    const nbf::Split s = nbf::split_for(c.rem);
    EXPECT_EQ(s.jsplit, c.jsplit) << "rem " << c.rem;
    EXPECT_EQ(s.ni_block, c.ni_block) << "rem " << c.rem;
  }
  const nbf::Split s = nbf::split_for(1);
  EXPECT_EQ(s.ioff(124), 0);
  EXPECT_EQ(s.joff(124), 31);
  // Every thread's i- and j-share, as remainder and quotient by ni_block.
  for (int rem = 1; rem <= 200; ++rem) {
    const nbf::Split r = nbf::split_for(rem);
    for (int t = 0; t < NTHREAD; ++t) {
      ASSERT_EQ(r.ioff(t), t % r.ni_block) << "rem " << rem << ", t " << t;
      ASSERT_EQ(r.joff(t), t / r.ni_block) << "rem " << rem << ", t " << t;
    }
  }
}

std::vector<int> slice_lengths(int nj) {
  std::vector<int> len;
  int end = 0;
  for (int by = 0; by < NJBLOCK; ++by) {
    int js, je;
    nbf::slice_bounds(by, nj, js, je);
    EXPECT_EQ(js, end) << "slices must tile without gap or overlap";
    end = je;
    len.push_back(je - js);
  }
  EXPECT_EQ(end, nj);
  return len;
}

TEST(WorkSplit, SlicesTileTheJParticles) {
  const auto one = slice_lengths(1);
  for (int by = 0; by < 27; ++by) EXPECT_EQ(one[by], 0);
  EXPECT_EQ(one[27], 1);

  const auto twenty = slice_lengths(20);
  for (int by : {0, 3, 7, 10, 14, 17, 21, 24}) EXPECT_EQ(twenty[by], 0) << by;

  const auto thirty = slice_lengths(30);
  for (int by = 0; by < NJBLOCK; ++by) EXPECT_EQ(thirty[by], by == 13 || by == 27 ? 2 : 1);

  // Beyond 2^31 / 28 a 32-bit product would wrap; the bounds stay right.
  const auto huge = slice_lengths(INT_MAX);
  for (int len : huge) EXPECT_NEAR(len, INT_MAX / 28.0, 1.0);
}

}  // namespace
