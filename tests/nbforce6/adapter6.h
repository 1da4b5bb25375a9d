// How the shared test suites see nbforce6: its records, names and numbers,
// and the accuracy expected of it.
#pragma once

#include "nbforce6.h"

#include "nbforce6/order6.h"
#include "support/cloud.h"

struct Adapter6 {
  using Predictor = ::Predictor;
  using Force = ::Force;
  using Order = nbf::Order6;
  static constexpr const char* kName = "nbforce6";
  static constexpr const char* kGravity = "h6_gravity";
  static constexpr int kDerivs = 3;
  static constexpr int kLineDeviceCount = 461;
  static constexpr int kLineSetDevice = 463;
  static constexpr int kLineProperties = 465;
  // Errors relative to the sum of |pair terms|, u = 2^-24.
  // Acceleration: each pair term carries about 8 roundings relative to
  // itself (the approximate 1/sqrt cubed among them) and the double-single
  // sums add only u^2-sized errors, so 1e-6 (17 u) bounds it.
  // Jerk and snap are summed in plain floats: a slice of m terms adds at most
  // m roundings relative to the partial sums, and m is about 3000 / 28 in the
  // suite, plus 5 merge and 5 reduction steps: 117 u ~ 7e-6. On top come the
  // terms' own roundings, relative to their pieces (m v / r^3 and 3 alpha a
  // for the jerk; m A / r^3, 6 alpha jrk and 3 beta a for the snap), which
  // may exceed the term itself; each derivative inherits the errors of the
  // previous ones. Hence 2e-5 for the jerk and 3e-5 for the snap. Measured
  // on 3000 particles (eps2 1e-4 to 1e-8, three clouds): 1.4e-7, 7.6e-7 and
  // 2.4e-6.
  static constexpr double kTolerance[4] = {1e-6, 2e-5, 3e-5, 0};

  static Predictor predictor(const nbtest::Particle& p) {
    return nbtest::pack_predictor<Predictor>(p);
  }
  static const double* deriv(const Force& f, int k) {
    return k == 0 ? f.acc : k == 1 ? f.jrk : f.snp;
  }
};
