// How the shared test suites see nbforce8: its records, names and numbers,
// and the accuracy expected of it.
#pragma once

#include "nbforce8.h"

#include "nbforce8/order8.h"
#include "support/cloud.h"

struct Adapter8 {
  using Predictor = ::Predictor;
  using Force = ::Force;
  using Order = nbf::Order8;
  static constexpr const char* kName = "nbforce8";
  static constexpr const char* kGravity = "h8_gravity";
  static constexpr int kDerivs = 4;
  static constexpr int kLineDeviceCount = 475;
  static constexpr int kLineSetDevice = 477;
  static constexpr int kLineProperties = 479;
  // Errors relative to the sum of |pair terms|, u = 2^-24. Acceleration,
  // jerk and snap are those of the sixth order (same arithmetic, same
  // bounds): 1e-6 for the double-single acceleration, and for the float sums
  // about 117 u ~ 7e-6 from summing a slice of ~3000 / 28 terms and the 10
  // merge and reduction steps, plus the terms' own roundings. The crackle
  // term combines four pieces (m J / r^3, 9 alpha snp, 9 beta jrk,
  // 3 gamma a) carrying the errors of all lower terms, so it gets 5e-5.
  // Measured on 3000 particles (eps2 1e-4 to 1e-8, three clouds): 1.4e-7,
  // 7.6e-7, 2.4e-6 and 2.3e-6.
  static constexpr double kTolerance[4] = {1e-6, 2e-5, 3e-5, 5e-5};

  static Predictor predictor(const nbtest::Particle& p) {
    return nbtest::pack_predictor<Predictor>(p);
  }
  static const double* deriv(const Force& f, int k) {
    return k == 0 ? f.acc : k == 1 ? f.jrk : k == 2 ? f.snp : f.crk;
  }
};
