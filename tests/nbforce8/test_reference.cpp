// The double-precision reference that the libraries are judged by, checked
// against calculus: along a trajectory each derivative it returns must be
// the time derivative of the one below.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/cloud.h"
#include "support/reference.h"

namespace {

using nbtest::Derivs;
using nbtest::Particle;

// Every particle moved along its own Taylor series to time t; the relative
// motion of any pair then has exactly the velocity, acceleration and jerk
// that the reference is given.
std::vector<Particle> at_time(const std::vector<Particle>& p, double t) {
  std::vector<Particle> out = p;
  for (auto& q : out)
    for (int c = 0; c < 3; ++c) {
      q.x[c] += t * (q.v[c] + t * (q.a[c] / 2 + t * q.j[c] / 6));
      q.v[c] += t * (q.a[c] + t * q.j[c] / 2);
      q.a[c] += t * q.j[c];
    }
  return out;
}

std::vector<Derivs> reference_at(const std::vector<Particle>& p, double t, double eps2) {
  const auto moved = at_time(p, t);
  std::vector<Derivs> out;
  for (const auto& q : moved) out.push_back(nbtest::reference_derivs(q, moved, eps2));
  return out;
}

const double* quantity(const Derivs& d, int k) {
  const double* q[4] = {d.acc, d.jrk, d.snp, d.crk};
  return q[k];
}

struct Worst {
  double richardson = 0.0;  // central differences at h and h/2 combined
  double central = 0.0;     // the central difference at h alone
};

// For k = 0, 1, 2: the time derivative of quantity k against quantity k + 1,
// relative to the sum of |pair terms| of quantity k + 1. The central
// difference at step h is off by O(h^2); the Richardson combination
// (4 D(h/2) - D(h)) / 3 removes that term, leaving O(h^4).
std::vector<Worst> derivative_errors(const std::vector<Particle>& p, double eps2, double h) {
  const auto now = reference_at(p, 0.0, eps2);
  const auto p1 = reference_at(p, h, eps2), m1 = reference_at(p, -h, eps2);
  const auto p2 = reference_at(p, h / 2, eps2), m2 = reference_at(p, -h / 2, eps2);
  std::vector<Worst> worst(3);
  for (std::size_t i = 0; i < p.size(); ++i)
    for (int k = 0; k < 3; ++k)
      for (int c = 0; c < 3; ++c) {
        const double d_h = (quantity(p1[i], k)[c] - quantity(m1[i], k)[c]) / (2 * h);
        const double d_h2 = (quantity(p2[i], k)[c] - quantity(m2[i], k)[c]) / h;
        const double want = quantity(now[i], k + 1)[c];
        const double scale = now[i].scale[k + 1];
        worst[k].richardson =
            std::fmax(worst[k].richardson, std::fabs((4 * d_h2 - d_h) / 3 - want) / scale);
        worst[k].central = std::fmax(worst[k].central, std::fabs(d_h - want) / scale);
      }
  return worst;
}

// A small cloud (closest pair 0.1 apart), with softening lengths of 0.1 and
// 0.01, so that close pairs are either softened or not. With step h = 1e-3
// the Richardson combination agrees to about 1e-9 (it shrinks as h^4), the
// rounding of the differences (1e-16 / h of the sums) staying far below;
// 1e-8 is the bound. The plain central difference must miss by far more,
// which shows that the step is not so small that a wrong formula could pass.
TEST(ReferenceDerivs, EachDerivativeIsTheTimeDerivativeOfTheOneBelow) {
  const auto cloud = nbtest::plummer_cloud(40, 67);
  for (double eps2 : {1e-2, 1e-4}) {
    const auto worst = derivative_errors(cloud, eps2, 1e-3);
    const char* names[3] = {"d/dt acc vs jrk", "d/dt jrk vs snp", "d/dt snp vs crk"};
    for (int k = 0; k < 3; ++k) {
      EXPECT_LT(worst[k].richardson, 1e-8) << names[k] << ", eps2 " << eps2;
      EXPECT_GT(worst[k].central, 1e2 * worst[k].richardson) << names[k] << ", eps2 " << eps2;
    }
  }
}

// Coincident particles: the reference leaves out a source at the target's
// own position, and a pair of unit masses at unit distance along x, at rest
// and without softening, has the textbook acceleration and no derivatives.
TEST(ReferenceDerivs, SkipsCoincidentSourcesAndGetsTheUnitPairRight) {
  Particle a{}, b{};
  a.m = b.m = 1.0;
  b.x[0] = 1.0;
  const Derivs d = nbtest::reference_derivs(a, {a, b, a}, 0.0);
  EXPECT_DOUBLE_EQ(d.acc[0], 1.0);
  for (int c = 0; c < 3; ++c) {
    if (c != 0) {
      EXPECT_EQ(d.acc[c], 0.0);
    }
    EXPECT_EQ(d.jrk[c], 0.0);
    EXPECT_EQ(d.snp[c], 0.0);
    EXPECT_EQ(d.crk[c], 0.0);
  }
  EXPECT_DOUBLE_EQ(d.scale[0], 1.0);
}

}  // namespace
