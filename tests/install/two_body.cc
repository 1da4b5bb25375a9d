// A C++ caller of an installed nbforce6_host: the two-body force and
// potential against the closed-form values, with the program's own wtime()
// in place of the library's default. Exits 1 on a mismatch.
#include <nbforce6.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {
int wtime_calls = 0;
}

// The libraries time their copies with the caller's clock.
double wtime() {
  ++wtime_calls;
  using clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(clock::now().time_since_epoch()).count();
}

int main() {
  const float mass = 0.25f, eps2 = 0.0625f;
  // Body 0 at the origin at rest, body 1 at distance 2 along z moving along x.
  std::vector<Predictor> pred(2, Predictor{});
  const double z[2] = {0.0, 2.0};
  for (int i = 0; i < 2; ++i) {
    nbforce_split(z[i], &pred[i].posH[2], &pred[i].posL[2]);
    pred[i].mass = mass;
  }
  pred[1].vel[0] = 1.0f;

  CUDA_MPI_Init(0);
  std::vector<Force> force(2);
  double stamp = 0, ip_time = 0, fo_time = 0;
  calc_force(2, 2, pred.data(), pred.data(), force.data(), eps2, &stamp, &ip_time, &fo_time);

  std::vector<Posm> posm(2, Posm{});
  for (int i = 0; i < 2; ++i) {
    nbforce_split(z[i], &posm[i].pos[2].x, &posm[i].pos[2].y);
    posm[i].mass = mass;
  }
  std::vector<double> pot(2);
  calc_pot(2, 0, 2, eps2, posm.data(), pot.data());

  // Pull m d / (d^2 + eps2)^(3/2) along z; the perpendicular motion gives a
  // jerk of m v / (d^2 + eps2)^(3/2) along x.
  const double r2 = 4.0 + eps2, r3 = r2 * std::sqrt(r2);
  const struct {
    const char* what;
    double got, want;
  } checks[] = {
      {"acc.z", force[0].acc[2], mass * 2.0 / r3},  {"jrk.x", force[0].jrk[0], mass / r3},
      {"acc.z", force[1].acc[2], -mass * 2.0 / r3}, {"jrk.x", force[1].jrk[0], -mass / r3},
      {"pot", pot[0], -mass / std::sqrt(r2)},       {"pot", pot[1], -mass / std::sqrt(r2)},
  };
  bool ok = true;
  for (const auto& c : checks) {
    const bool close = std::fabs(c.got - c.want) <= 1e-6 * std::fabs(c.want);
    std::printf("%-6s %.9f (expected %.9f)%s\n", c.what, c.got, c.want, close ? "" : "  MISMATCH");
    ok = ok && close;
  }
  if (wtime_calls == 0) {
    std::puts("the library did not call the program's wtime()");
    ok = false;
  }
  std::puts(ok ? "two_body (C++): ok" : "two_body (C++): FAILED");
  return ok ? 0 : 1;
}
