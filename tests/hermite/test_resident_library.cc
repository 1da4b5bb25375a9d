// The resident particles of one force library (HERMITE_ORDER 4, 6 or 8)
// against the integrator's own path: states predicted by hermite/prediction.h
// and filled into records by the library backend, then calc_force. Forces
// must be the same bits, through updates, removals and resizes; potentials
// and neighbour lists are checked against plain double-precision sums.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "library_backend.h"
#include "prediction.h"
#include "support/prediction_switch.h"

#if HERMITE_ORDER == 4
#include "library4.h"
using Lib = hermite::Library4;
#elif HERMITE_ORDER == 6
#include "library6.h"
using Lib = hermite::Library6;
#elif HERMITE_ORDER == 8
#include "library8.h"
using Lib = hermite::Library8;
#endif

namespace {

using hermite::Derivs;
using hermite::Vec3;
constexpr int K = Lib::kDerivs;
constexpr double kEps = 1.0 / 64;

// A cloud of n particles with states at their own times: the derivatives
// shrink with their order as they would along an orbit, and every fifth
// particle's step ends before t = 0.125, so it is predicted with K terms.
struct Cloud {
  std::vector<double> m, t, dt;
  std::vector<Vec3> x, v;
  std::vector<Derivs<K>> d;
};

double noise(unsigned& s) {
  s = s * 1664525u + 1013904223u;
  return static_cast<double>(s >> 8) / 16777216.0 - 0.5;
}

Cloud make_cloud(int n, unsigned seed) {
  Cloud c;
  for (int i = 0; i < n; ++i) {
    c.m.push_back(1.0 / n * (1.0 + noise(seed)));
    c.x.push_back({noise(seed), noise(seed), noise(seed)});
    c.v.push_back({noise(seed), noise(seed), noise(seed)});
    Derivs<K> d{};
    for (int q = 0; q < 2 * K; ++q)
      for (int k = 0; k < 3; ++k) d[q][k] = noise(seed) * std::pow(4.0, q);
    c.d.push_back(d);
    // Every seventh ends its step at t = 0.125 exactly (tau == step).
    c.t.push_back(i % 7 == 0 ? 0.0625 : 0.0625 * (noise(seed) + 0.5));
    c.dt.push_back(i % 7 == 0 ? 0.0625 : i % 5 == 0 ? 0.03125 : 0.125);
  }
  return c;
}

void load(const Cloud& c, const std::vector<int>& slots) {
  std::vector<double> m, x, v, d, t, dt;
  for (int i : slots) {
    const auto k = static_cast<std::size_t>(i);
    m.push_back(c.m[k]);
    x.insert(x.end(), c.x[k].begin(), c.x[k].end());
    v.insert(v.end(), c.v[k].begin(), c.v[k].end());
    for (const Vec3& q : c.d[k]) d.insert(d.end(), q.begin(), q.end());
    t.push_back(c.t[k]);
    dt.push_back(c.dt[k]);
  }
  nbf_resident_set(static_cast<int>(slots.size()), slots.data(), m.data(), x.data(), v.data(),
                   d.data(), t.data(), dt.data());
}

std::vector<int> range(int begin, int end) {
  std::vector<int> r;
  for (int i = begin; i < end; ++i) r.push_back(i);
  return r;
}

// The integrator's path: the rank's j-particles [js, je) predicted over the
// range, the others in the list one by one, records filled by the backend.
// Removed particles stay where they are with mass 0.
std::vector<Vec3> host_path(const Cloud& c, double t, int js, int je, const std::vector<int>& list,
                            const std::vector<bool>& removed) {
  const std::size_t n = c.m.size();
  hermite::Predicted p;
  p.x.resize(n);
  p.v.resize(n);
  p.a.resize(n);
  p.j.resize(n);
  hermite::predict_range<K>(t, js, je, c.x, c.v, c.d, c.t, c.dt, p);
  for (int i : list) {
    if (i < js || i >= je) hermite::predict_one<K>(t, i, c.x, c.v, c.d, c.t, c.dt, p);
  }
  std::vector<double> mass = c.m;
  for (std::size_t i = 0; i < n; ++i) {
    if (!removed.empty() && removed[i]) {
      mass[i] = 0.0;
      p.x[i] = c.x[i];
      p.v[i] = c.v[i];
      p.a[i] = Vec3{};
      p.j[i] = Vec3{};
    }
  }
  hermite::LibraryBackend<Lib> backend(mass, js, je, kEps);
  std::vector<Vec3> out(list.size() * K);
  backend.forces(list, p, out.data());
  return out;
}

std::vector<Vec3> resident_path(double t, int js, int je, const std::vector<int>& list,
                                float eps2) {
  std::vector<Lib::Force> f(list.size());
  nbf_resident_force(t, js, je, static_cast<int>(list.size()), list.data(), eps2, f.data());
  std::vector<Vec3> out(list.size() * K);
  for (std::size_t k = 0; k < list.size(); ++k) Lib::unpack(f[k], &out[k * K]);
  return out;
}

const float kEps2 = static_cast<float>(kEps * kEps);

void expect_same_bits(const std::vector<Vec3>& a, const std::vector<Vec3>& b, const char* what) {
  ASSERT_EQ(a.size(), b.size());
  EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(Vec3))) << what;
}

class ResidentTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Lib::bind(0); }
};

// Forces over the whole set and over one rank's share, on targets inside
// and outside it, in passes small enough for the host's sweep and large
// enough for the kernels, after updates, removals and both resizes.
TEST_F(ResidentTest, ForcesAreTheHostPathsBits) {
  const int n = 300;
  Cloud c = make_cloud(n, 7);
  nbf_resident_resize(n);
  load(c, range(0, n));
  const double t = 0.125;
  const std::vector<int> few = {3, 299, 0, 150, 41};
  const std::vector<int> many = range(20, 220);
  std::vector<bool> removed;
  const auto check = [&](const char* stage, int nn) {
    for (const auto& share : {std::pair<int, int>{0, nn}, std::pair<int, int>{40, nn - 50}}) {
      for (const std::vector<int>* list : {&few, &many}) {
        std::vector<int> l;
        for (int i : *list)
          if (i < nn) l.push_back(i);
        SCOPED_TRACE(stage);
        expect_same_bits(resident_path(t, share.first, share.second, l, kEps2),
                         host_path(c, t, share.first, share.second, l, removed), stage);
      }
    }
  };
  check("loaded", n);

  // New states for some particles, as a corrector leaves them.
  unsigned seed = 99;
  std::vector<int> moved = {0, 17, 150, 298};
  for (int i : moved) {
    c.x[i][0] += 0.01 * noise(seed);
    c.d[i][1][2] += noise(seed);
    c.t[i] = 0.1;
  }
  load(c, moved);
  check("updated", n);

  removed.assign(n, false);
  std::vector<int> gone = {41, 100};
  for (int i : gone) removed[i] = true;
  nbf_resident_remove(static_cast<int>(gone.size()), gone.data());
  check("removed", n);

  // Growing keeps the slots; the new ones are empty until loaded.
  Cloud more = make_cloud(n + 60, 8);
  for (int i = 0; i < n; ++i) {
    more.m[i] = c.m[i];
    more.x[i] = c.x[i];
    more.v[i] = c.v[i];
    more.d[i] = c.d[i];
    more.t[i] = c.t[i];
    more.dt[i] = c.dt[i];
  }
  c = more;
  nbf_resident_resize(n + 60);
  removed.resize(n + 60, false);
  load(c, range(n, n + 60));
  check("grown", n + 60);

  nbf_resident_resize(n - 30);
  c.m.resize(n - 30);
  c.x.resize(n - 30);
  c.v.resize(n - 30);
  c.d.resize(n - 30);
  c.t.resize(n - 30);
  c.dt.resize(n - 30);
  removed.resize(n - 30);
  check("shrunk", n - 30);
}

// The sources predicted several slots at a time against one slot at a
// time, over every start and length of a few vector groups, so that each
// lane position, the single slots after the last whole group, removed slots
// and steps ending before the call's time all meet in one group.
TEST_F(ResidentTest, SourcesInLanesAreTheSingleSlotsBits) {
  const int n = 40;
  const Cloud c = make_cloud(n, 21);
  nbf_resident_resize(n);
  load(c, range(0, n));
  const std::vector<int> gone = {5, 18};
  nbf_resident_remove(static_cast<int>(gone.size()), gone.data());
  const std::vector<int> list = {0, 13, 39};
  for (double t : {0.125, 0.03}) {
    for (int js = 0; js < 10; ++js) {
      for (int je = js; je <= n; je += 3) {
        const std::vector<Vec3> lanes = resident_path(t, js, je, list, kEps2);
        support::predict_one_slot_at_a_time(true);
        const std::vector<Vec3> single = resident_path(t, js, je, list, kEps2);
        support::predict_one_slot_at_a_time(false);
        SCOPED_TRACE(testing::Message() << "t " << t << " js " << js << " je " << je);
        expect_same_bits(lanes, single, "lanes");
      }
    }
  }
}

// A second call at the same time predicts only the sources sent or removed
// since the first; its forces must be those of a call that predicts all.
TEST_F(ResidentTest, SlotsChangedBetweenCallsAtOneTimeArePredictedAnew) {
  const int n = 64;
  Cloud c = make_cloud(n, 31);
  nbf_resident_resize(n);
  load(c, range(0, n));
  const std::vector<int> list = {1, 17, 40};
  const double t = 0.125;
  resident_path(t, 0, n, list, kEps2);
  unsigned seed = 5;
  for (int i : {3, 17, 63}) {
    c.x[i][1] += 0.05 * noise(seed);
    c.d[i][0][0] += noise(seed);
  }
  load(c, {3, 17, 63});
  const std::vector<int> gone = {9};
  nbf_resident_remove(1, gone.data());
  const std::vector<Vec3> again = resident_path(t, 0, n, list, kEps2);
  resident_path(t + 0.01, 0, n, list, kEps2);
  expect_same_bits(again, resident_path(t, 0, n, list, kEps2), "changed slots");
}

// Plain double-precision references at the predicted positions.
std::vector<Vec3> predicted_positions(const Cloud& c, double t) {
  const std::size_t n = c.m.size();
  hermite::Predicted p;
  p.x.resize(n);
  p.v.resize(n);
  p.a.resize(n);
  p.j.resize(n);
  for (std::size_t i = 0; i < n; ++i) hermite::predict_one<K>(t, i, c.x, c.v, c.d, c.t, c.dt, p);
  return p.x;
}

// Without softening the particle itself is left out: forces on targets
// inside the sources are finite and match a double sum over the others;
// on targets outside them the bits are calc_force's.
TEST_F(ResidentTest, UnsoftenedForcesLeaveOutTheParticleItself) {
  const int n = 200;
  const Cloud c = make_cloud(n, 11);
  nbf_resident_resize(n);
  load(c, range(0, n));
  const double t = 0.125;
  const std::vector<int> list = {0, 5, 99, 150, 199};
  const std::vector<Vec3> got = resident_path(t, 0, n, list, 0.0f);
  const std::vector<Vec3> x = predicted_positions(c, t);
  for (std::size_t k = 0; k < list.size(); ++k) {
    Vec3 acc{};
    double scale = 0.0;
    const auto i = static_cast<std::size_t>(list[k]);
    for (std::size_t j = 0; j < static_cast<std::size_t>(n); ++j) {
      if (j == i) continue;
      const double dx = x[j][0] - x[i][0], dy = x[j][1] - x[i][1], dz = x[j][2] - x[i][2];
      const double r = std::sqrt(dx * dx + dy * dy + dz * dz);
      const double f = c.m[j] / (r * r * r);
      acc[0] += f * dx;
      acc[1] += f * dy;
      acc[2] += f * dz;
      scale += c.m[j] / (r * r);
    }
    for (int q = 0; q < 3; ++q) EXPECT_NEAR(got[k * K][q], acc[q], 1e-6 * scale) << list[k];
  }
  // calc_force over a share, unsoftened, on targets outside it.
  const std::vector<int> outside = {0, 1, 2, 150};
  std::vector<double> mass = c.m;
  hermite::Predicted p;
  p.x.resize(n);
  p.v.resize(n);
  p.a.resize(n);
  p.j.resize(n);
  hermite::predict_range<K>(t, 10, 140, c.x, c.v, c.d, c.t, c.dt, p);
  for (int i : outside)
    if (i < 10 || i >= 140) hermite::predict_one<K>(t, i, c.x, c.v, c.d, c.t, c.dt, p);
  std::vector<Vec3> host(outside.size() * K);
  hermite::LibraryBackend<Lib> backend(mass, 10, 140, 0.0);
  backend.forces(outside, p, host.data());
  expect_same_bits(resident_path(t, 10, 140, outside, 0.0f), host, "outside the sources");
}

TEST_F(ResidentTest, PotentialsAndNeighboursMatchDoubleSums) {
  const int n = 400;
  Cloud c = make_cloud(n, 5);
  nbf_resident_resize(n);
  load(c, range(0, n));
  std::vector<int> gone = {7, 8};
  nbf_resident_remove(2, gone.data());
  std::vector<bool> removed(n, false);
  removed[7] = removed[8] = true;
  const double t = 0.125;
  const std::vector<Vec3> x = predicted_positions(c, t);
  std::vector<Vec3> at = x;
  at[7] = c.x[7];
  at[8] = c.x[8];
  const int js = 0, je = 350;
  const std::vector<int> list = {0, 7, 120, 360, 399, 12};
  std::vector<double> pot(list.size());
  nbf_resident_potential(t, js, je, static_cast<int>(list.size()), list.data(), kEps2, pot.data());
  const int max_nb = 6;
  const double radius = 0.2;
  std::vector<int> count(list.size()), nb(list.size() * max_nb);
  int overflow = -1;
  nbf_resident_neighbours(t, js, je, static_cast<int>(list.size()), list.data(), radius, max_nb,
                          count.data(), nb.data(), &overflow);
  bool any_over = false;
  for (std::size_t k = 0; k < list.size(); ++k) {
    const auto i = static_cast<std::size_t>(list[k]);
    double ref = 0.0, scale = 0.0;
    std::vector<int> near;
    for (int j = js; j < je; ++j) {
      const auto u = static_cast<std::size_t>(j);
      if (u == i || removed[u]) continue;
      const double dx = at[u][0] - at[i][0], dy = at[u][1] - at[i][1], dz = at[u][2] - at[i][2];
      const double r2 = dx * dx + dy * dy + dz * dz;
      ref -= c.m[u] / std::sqrt(r2 + kEps * kEps);
      scale += c.m[u] / std::sqrt(r2 + kEps * kEps);
      if (r2 <= radius * radius) near.push_back(j);
    }
    EXPECT_NEAR(pot[k], ref, 1e-6 * scale) << list[k];
    ASSERT_EQ(count[k], static_cast<int>(near.size())) << list[k];
    for (int q = 0; q < std::min(count[k], max_nb); ++q) EXPECT_EQ(nb[k * max_nb + q], near[q]);
    any_over = any_over || count[k] > max_nb;
  }
  EXPECT_EQ(overflow, any_over ? 1 : 0);
  EXPECT_TRUE(any_over) << "the radius should overflow some lists";
}

// A slot outside the set, or a share past its end, is refused: the outputs
// keep what they held.
TEST_F(ResidentTest, BadArgumentsLeaveOutputsAlone) {
  const Cloud c = make_cloud(20, 3);
  nbf_resident_resize(20);
  load(c, range(0, 20));
  std::vector<Lib::Force> f(2);
  std::memset(f.data(), 0x7f, f.size() * sizeof(Lib::Force));
  const std::vector<Lib::Force> before = f;
  const int bad[] = {3, 20};
  nbf_resident_force(0.1, 0, 20, 2, bad, kEps2, f.data());
  const int good[] = {3, 4};
  nbf_resident_force(0.1, 0, 21, 2, good, kEps2, f.data());
  EXPECT_EQ(0, std::memcmp(f.data(), before.data(), f.size() * sizeof(Lib::Force)));
  nbf_resident_set(1, bad + 1, c.m.data(), c.x[0].data(), c.v[0].data(), c.d[0][0].data(),
                   c.t.data(), c.dt.data());
  nbf_resident_resize(-1);
  std::vector<double> pot(1, 42.0);
  nbf_resident_potential(0.1, 5, 4, 1, good, kEps2, pot.data());
  EXPECT_EQ(pot[0], 42.0);
}

}  // namespace
