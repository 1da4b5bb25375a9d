// The block-step machinery that keeps a step's host work to its active
// particles: the schedule against a scan of all particles, the threaded
// prediction against the scalar predictor, and the ranks' step digest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "prediction.h"
#include "schedule.h"
#include "scheme.h"
#include "step_digest.h"

namespace hermite_test {
namespace {

using hermite::Derivs;
using hermite::Vec3;

// The block step by its definition: the smallest rounded t + dt, and every
// particle whose t + dt is that value, in index order.
double scan_next(const std::vector<double>& t, const std::vector<double>& dt,
                 std::vector<int>& active) {
  double next = t[0] + dt[0];
  for (std::size_t i = 1; i < t.size(); ++i) next = std::fmin(next, t[i] + dt[i]);
  active.clear();
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i] + dt[i] == next) active.push_back(static_cast<int>(i));
  }
  return next;
}

// Particles on random power-of-two levels step through many block steps,
// changing level as the block rules allow, from t = 0 and from a time far
// from it. After every step the schedule must agree with the scan.
TEST(Schedule, FollowsTheScanOfAllParticlesThroughLevelChanges) {
  for (double t0 : {0.0, 3e5}) {
    std::mt19937 gen(7);
    std::uniform_int_distribution<int> level(0, 12), move(-2, 1);
    const int n = 300;
    std::vector<double> t(n, t0), dt(n);
    for (double& d : dt) d = std::ldexp(1.0, -level(gen));
    hermite::Schedule s;
    hermite::schedule_build(s, t, dt);
    std::vector<int> active, expected;
    double time = t0;
    for (int step = 0; step < 2000; ++step) {
      const double want = scan_next(t, dt, expected);
      ASSERT_EQ(hermite::schedule_next(s), want) << "step " << step;
      hermite::schedule_take_next(s, active);
      ASSERT_EQ(active, expected) << "step " << step;
      ASSERT_GT(want, time);
      time = want;
      for (int i : active) {
        t[i] = want;
        const int m = move(gen);
        const double wanted = m < 0 ? dt[i] * std::ldexp(1.0, m) : m > 0 ? 4 * dt[i] : dt[i];
        dt[i] = hermite::next_block_step(dt[i], wanted, want, 1.0, 0x1p-30);
        hermite::schedule_add(s, t[i] + dt[i], i);
      }
    }
  }
}

// Times and steps off the block structure (as an imported state could
// hold): grouping by the rounded end time still gives the scan's answer,
// and a rebuild starts over from scratch.
TEST(Schedule, GroupsArbitraryEndTimesAndRebuilds) {
  std::mt19937 gen(3);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<double> t(100), dt(100);
  for (std::size_t i = 0; i < t.size(); ++i) {
    t[i] = u(gen);
    dt[i] = i % 3 == 0 ? 1.0 - t[i] : u(gen);  // a third end together at 1
  }
  hermite::Schedule s;
  hermite::schedule_build(s, t, dt);
  hermite::schedule_build(s, t, dt);
  std::vector<int> active, expected;
  for (int k = 0; k < 40; ++k) {
    const double want = scan_next(t, dt, expected);
    EXPECT_EQ(hermite::schedule_next(s), want);
    hermite::schedule_take_next(s, active);
    EXPECT_EQ(active, expected);
    for (int i : active) dt[i] += 2.0;  // out of the way, not rescheduled
  }
}

// A bucket fed in any order (particles that appear mid-run, subsystems'
// members) hands out its members in index order: one run, a few, an odd
// number, and one run per member.
TEST(Schedule, HandsOutMembersInIndexOrderWhateverTheOrderTheyCameIn) {
  std::mt19937 gen(5);
  for (int runs : {1, 2, 3, 7, 64, 1000}) {
    std::vector<int> ids(1000);
    for (int i = 0; i < 1000; ++i) ids[static_cast<std::size_t>(i)] = 3 * i + 1;
    std::shuffle(ids.begin(), ids.end(), gen);
    for (int r = 0; r < runs; ++r)
      std::sort(ids.begin() + 1000 * r / runs, ids.begin() + 1000 * (r + 1) / runs);
    hermite::Schedule s;
    for (int i : ids) hermite::schedule_add(s, 2.0, i);
    hermite::schedule_add(s, 1.0, 0);  // an earlier block first
    std::vector<int> active;
    hermite::schedule_take_next(s, active);
    EXPECT_EQ(active, std::vector<int>{0});
    hermite::schedule_take_next(s, active);
    std::vector<int> expected = ids;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(active, expected) << runs << " runs";
    EXPECT_TRUE(s.buckets.empty());
    // The emptied bucket's list comes back without its runs.
    hermite::schedule_add(s, 3.0, 9);
    hermite::schedule_add(s, 3.0, 10);
    hermite::schedule_take_next(s, active);
    EXPECT_EQ(active, (std::vector<int>{9, 10}));
  }
}

template <int K>
Derivs<K> random_derivs(std::mt19937& gen) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Derivs<K> d;
  for (auto& v : d) v = Vec3{u(gen), u(gen), u(gen)};
  return d;
}

// The threaded prediction over more particles than one thread takes gives
// the scalar predictor's bits, with all derivatives within a step and the
// acceleration's own beyond it.
template <int K>
void check_predict_range() {
  std::mt19937 gen(11);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const int n = hermite::kParallelPrediction + 1000;
  std::vector<Vec3> x(n), v(n);
  std::vector<Derivs<K>> d(n);
  std::vector<double> t(n), dt(n);
  for (int i = 0; i < n; ++i) {
    x[i] = Vec3{u(gen), u(gen), u(gen)};
    v[i] = Vec3{u(gen), u(gen), u(gen)};
    d[i] = random_derivs<K>(gen);
    dt[i] = std::ldexp(1.0, -(i % 9));
    t[i] = 0.5 - (i % 5 == 0 ? 2.0 : 0.75) * dt[i];  // every fifth past its step
  }
  hermite::Predicted p;
  p.x.resize(n);
  p.v.resize(n);
  p.a.resize(n);
  p.j.resize(n);
  hermite::predict_range<K>(0.5, 0, n, x, v, d, t, dt, p);
  for (int i = 0; i < n; ++i) {
    const double tau = 0.5 - t[i];
    Vec3 xp, vp, ap{}, jp{};
    hermite::predict<K>(tau, x[i], v[i], d[i], &xp, &vp, K >= 3 ? &ap : nullptr,
                        K >= 4 ? &jp : nullptr, tau <= dt[i] ? 2 * K : K);
    ASSERT_EQ(p.x[i], xp) << "order " << 2 * K << " particle " << i;
    ASSERT_EQ(p.v[i], vp) << "order " << 2 * K << " particle " << i;
    if (K >= 3) {
      ASSERT_EQ(p.a[i], ap) << "order " << 2 * K << " particle " << i;
    }
    if (K >= 4) {
      ASSERT_EQ(p.j[i], jp) << "order " << 2 * K << " particle " << i;
    }
  }
}

TEST(Prediction, ThreadedRangeGivesTheScalarPredictorsBits) {
  check_predict_range<2>();
  check_predict_range<3>();
  check_predict_range<4>();
}

// What the ranks would sum: each rank's three digest terms.
Vec3 summed(const std::vector<double>& digests) {
  Vec3 s{};
  for (std::size_t r = 0; r < digests.size(); ++r) {
    const Vec3 d = hermite::digest_terms(digests[r], r == 0);
    for (int c = 0; c < 3; ++c) s[c] += d[c];
  }
  return s;
}

TEST(StepDigest, AgreementExactlyWhenEveryRankHashedTheSameStep) {
  const std::vector<int> list = {3, 17, 18, 400};
  const double d = hermite::step_digest(0.25, list.data(), list.size());
  EXPECT_GE(d, 0.0);
  EXPECT_LT(d, 65536.0);
  for (int ranks : {1, 2, 3, 4, 1024}) {
    EXPECT_TRUE(hermite::digests_agree(summed(std::vector<double>(ranks, d)), ranks)) << ranks;
  }
  // Other block times, another particle, one more or one fewer: another
  // digest (for these cases; a digest can collide only by chance).
  const std::vector<int> other = {3, 17, 19, 400}, shorter = {3, 17, 18};
  const std::vector<int> longer = {3, 17, 18, 400, 401};
  for (double e : {hermite::step_digest(0.25 + 0x1p-40, list.data(), list.size()),
                   hermite::step_digest(0.25, other.data(), other.size()),
                   hermite::step_digest(0.25, shorter.data(), shorter.size()),
                   hermite::step_digest(0.25, longer.data(), longer.size())}) {
    ASSERT_NE(e, d);
    // Any one rank off, rank 0 included, and pairs off in opposite senses
    // that keep the plain sum.
    for (int ranks : {2, 3, 4}) {
      for (int off = 0; off < ranks; ++off) {
        std::vector<double> ds(ranks, d);
        ds[off] = e;
        EXPECT_FALSE(hermite::digests_agree(summed(ds), ranks)) << ranks << " " << off;
      }
    }
    EXPECT_FALSE(hermite::digests_agree(summed({d, d - 5, d + 5}), 3));
  }
  // Sums that no set of digests gives.
  EXPECT_FALSE(hermite::digests_agree(Vec3{0.5, 0.25, 0.5}, 1));
  EXPECT_FALSE(hermite::digests_agree(Vec3{NAN, 0, 0}, 2));
  EXPECT_FALSE(hermite::digests_agree(Vec3{-1, 1, 0}, 2));
}

}  // namespace
}  // namespace hermite_test
