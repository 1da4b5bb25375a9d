// How the shared test suites see nbforce4: its records and its numbers.
#pragma once

#include "nbforce4.h"
#include "nbforce4/order4.h"
#include "support/cloud.h"

struct Adapter4 {
  using Predictor = ::Predictor;
  using Force = ::Force;
  using Order = nbf::Order4;
  static constexpr const char* kName = "nbforce4";
  static constexpr const char* kGravity = "h4_gravity";
  static constexpr int kDerivs = 2;
  static constexpr int kLineDeviceCount = 437;
  static constexpr int kLineSetDevice = 439;
  static constexpr int kLineProperties = 441;
  // Acceleration: each pair term carries a few roundings (about 8 units of
  // 2^-24 relative to itself) and the double-single sum adds almost nothing,
  // so the error stays below 1e-6 of the sum of |terms|. The jerk is summed in
  // plain floats: a slice of m terms adds up to m roundings relative to the
  // partial sums (m is about 3000 / 28 here, plus the 5 + 5 steps of the
  // merges), so 110 * 2^-24 ~ 7e-6 bounds it; 2e-5 leaves room for the terms'
  // own roundings.
  static constexpr double kTolerance[4] = {1e-6, 2e-5, 0, 0};
  static Predictor predictor(const nbtest::Particle& p) {
    return nbtest::pack_predictor<Predictor>(p);
  }
  static const double* deriv(const Force& f, int k) { return k == 0 ? f.acc : f.jrk; }
};
