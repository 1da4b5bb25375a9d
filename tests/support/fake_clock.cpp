#include "support/fake_clock.h"

namespace {
double g_now = 1000.0;
}

namespace nbtest {
double clock_now() { return g_now; }
}  // namespace nbtest

// The caller-supplied clock of the libraries; this definition replaces their
// weak default.
double wtime() {
  const double now = g_now;
  g_now += nbtest::kClockTick;
  return now;
}
