// The host's pair terms against the pair's field differentiated
// numerically along a known relative trajectory: the acceleration
// m r / (r^2 + eps^2)^(3/2) evaluated on a cubic path, its time
// derivatives by Richardson-extrapolated central differences.
#include <gtest/gtest.h>

#include <cmath>

#include "pair_terms.h"

namespace {

using hermite::Vec3;

// Relative position on the path r(t) = r0 + v0 t + a0 t^2/2 + j0 t^3/6 and
// its derivatives at t = 0.
const Vec3 r0{0.3, -0.2, 0.15}, v0{-0.4, 0.9, 0.2}, a0{1.1, 0.3, -0.7}, j0{-2.0, 0.5, 1.3};

Vec3 path(double t) {
  Vec3 r;
  for (int c = 0; c < 3; ++c) {
    r[c] = r0[c] + t * (v0[c] + t * (a0[c] / 2.0 + t * j0[c] / 6.0));
  }
  return r;
}

Vec3 field(double t, double m, double eps2) {
  const Vec3 r = path(t);
  const double r2 = r[0] * r[0] + r[1] * r[1] + r[2] * r[2] + eps2;
  const double f = m / (r2 * std::sqrt(r2));
  return Vec3{f * r[0], f * r[1], f * r[2]};
}

// The n-th derivative (n = 1, 2, 3) of the field at t = 0 by central
// differences of step h, extrapolated over h and h/2.
double derivative(int n, int c, double m, double eps2) {
  auto diff = [&](double h) {
    auto f = [&](double t) { return field(t, m, eps2)[c]; };
    switch (n) {
      case 1:
        return (f(h) - f(-h)) / (2.0 * h);
      case 2:
        return (f(h) - 2.0 * f(0.0) + f(-h)) / (h * h);
      default:
        return (f(2.0 * h) - 2.0 * f(h) + 2.0 * f(-h) - f(-2.0 * h)) / (2.0 * h * h * h);
    }
  };
  const double h = 2e-3;
  return (4.0 * diff(h / 2.0) - diff(h)) / 3.0;
}

TEST(PairTerms, MatchTheFieldDifferentiatedAlongThePath) {
  for (double eps2 : {0.0, 0.01}) {
    const double m = 0.7;
    Vec3 out[4] = {};
    hermite::add_pair_terms<4>(r0, v0, a0, j0, m, eps2, out);
    const Vec3 a = field(0.0, m, eps2);
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(out[0][c], a[c], 1e-14) << "eps2 " << eps2;
      for (int n = 1; n <= 3; ++n) {
        const double want = derivative(n, c, m, eps2);
        EXPECT_NEAR(out[n][c], want, 2e-5 * (1.0 + std::fabs(want)))
            << "derivative " << n << ", eps2 " << eps2;
      }
    }
    // The lower orders compute the same leading terms and add to what is there.
    Vec3 four[2] = {Vec3{1, 1, 1}, Vec3{2, 2, 2}};
    hermite::add_pair_terms<2>(r0, v0, a0, j0, m, eps2, four);
    for (int c = 0; c < 3; ++c) {
      EXPECT_DOUBLE_EQ(four[0][c], 1.0 + out[0][c]);
      EXPECT_DOUBLE_EQ(four[1][c], 2.0 + out[1][c]);
    }
  }
}

}  // namespace
