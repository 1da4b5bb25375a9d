// Adapter of the order-4 force library for the integrator.
#pragma once

#include "nbforce4.h"

// After the library header, whose entry points it calls.
#include "library_calls.h"
#include "scheme.h"

namespace hermite {

struct Library4 : LibraryCalls {
  static constexpr int kOrder = 4;
  static constexpr int kDerivs = 2;
  using Predictor = ::Predictor;
  using Force = ::Force;

  static void set_derivs(Predictor&, const Vec3&, const Vec3&) {}
  static void unpack(const Force& f, Vec3* d) {
    for (int c = 0; c < 3; ++c) {
      d[0][c] = f.acc[c];
      d[1][c] = f.jrk[c];
    }
  }
};

}  // namespace hermite
