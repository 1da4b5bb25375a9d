// Adapter of the order-6 force library for the integrator.
#pragma once

#include "nbforce6.h"

// After the library header, whose entry points it calls.
#include "library_calls.h"
#include "scheme.h"

namespace hermite {

struct Library6 : LibraryCalls {
  static constexpr int kOrder = 6;
  static constexpr int kDerivs = 3;
  using Predictor = ::Predictor;
  using Force = ::Force;

  static void set_derivs(Predictor& r, const Vec3& acc, const Vec3&) {
    for (int c = 0; c < 3; ++c) r.acc[c] = static_cast<float>(acc[c]);
    r.unused2 = 0.0f;
  }
  static void unpack(const Force& f, Vec3* d) {
    for (int c = 0; c < 3; ++c) {
      d[0][c] = f.acc[c];
      d[1][c] = f.jrk[c];
      d[2][c] = f.snp[c];
    }
  }
};

}  // namespace hermite
