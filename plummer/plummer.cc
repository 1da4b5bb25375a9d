// Sampling and centre-of-mass correction.
#include "plummer.h"

#include <cmath>
#include <cstdlib>

namespace plummer {

void Particles::Free::operator()(double* p) const { std::free(p); }

Particles::Particles(std::int64_t capacity)
    : capacity_(capacity),
      data_(static_cast<double*>(
          std::calloc(static_cast<std::size_t>(7 * capacity), sizeof(double)))) {}

double uniform_deviate() { return std::rand() / 2147483647.0; }

void sample(std::int64_t n, const Particles& p, std::FILE* progress) {
  if (n <= 0) return;
  const double two_pi = 6.283185307179586;
  const double mass = 1.0 / static_cast<double>(n);
  // Models under 64 particles get one dot per particle.
  const std::int64_t dot_every = n / 64 > 0 ? n / 64 : 1;
  double* m = p.m();
  Vec3* x = p.x();
  Vec3* v = p.v();
  for (std::int64_t i = 0; i < n; ++i) {
    // Radius from the inverse of the cumulative mass r^3 / (1 + r^2)^(3/2);
    // the far tail beyond r = 100 is cut off.
    double r, x2, x3;
    for (;;) {
      const double x1 = uniform_deviate();
      x2 = uniform_deviate();
      x3 = uniform_deviate();
      r = 1.0 / std::sqrt(std::pow(x1, -0.6666666666666666) - 1.0);
      if (!(r >= 100.0) && !std::isnan(r)) break;
    }
    const double pz = (1.0 - 2.0 * x2) * r;
    const double px = std::sqrt(r * r - pz * pz) * std::cos(two_pi * x3);
    const double py = std::sqrt(r * r - pz * pz) * std::sin(two_pi * x3);

    // Speed as a fraction q of the escape speed, drawn by rejection from the
    // density q^2 (1 - q^2)^(7/2), whose maximum is below 0.1.
    const double escape = 1.4142135623730951 * std::pow(1.0 + r * r, -0.25);
    double x4 = 0.0, x5 = 0.0;
    while (0.1 * x5 >= x4 * x4 * std::pow(1.0 - x4 * x4, 3.5)) {
      x4 = uniform_deviate();
      x5 = uniform_deviate();
    }
    const double speed = escape * x4;
    const double x6 = uniform_deviate();
    const double x7 = uniform_deviate();
    const double vz = (1.0 - 2.0 * x6) * speed;
    const double vx = std::sqrt(speed * speed - vz * vz) * std::cos(two_pi * x7);
    const double vy = std::sqrt(speed * speed - vz * vz) * std::sin(two_pi * x7);

    const double vscale = std::sqrt(kConv);
    x[i][0] = px * kConv;
    x[i][1] = py * kConv;
    x[i][2] = pz * kConv;
    v[i][0] = vx / vscale;
    v[i][1] = vy / vscale;
    v[i][2] = vz / vscale;
    m[i] = mass;

    if (progress != nullptr && i % dot_every == 0) {
      std::fputc('.', progress);
      std::fflush(progress);
    }
  }
}

void correct_centre_of_mass(std::int64_t n, const Particles& p) {
  if (n <= 0) return;
  const double* m = p.m();
  Vec3* x = p.x();
  Vec3* v = p.v();
  double mcm = 0.0;
  double xcm[3] = {0.0, 0.0, 0.0};
  double vcm[3] = {0.0, 0.0, 0.0};
  for (std::int64_t i = 0; i < n; ++i) {
    mcm += m[i];
    for (int k = 0; k < 3; ++k) {
      xcm[k] += m[i] * x[i][k];
      vcm[k] += m[i] * v[i][k];
    }
  }
  for (int k = 0; k < 3; ++k) {
    xcm[k] /= mcm;
    vcm[k] /= mcm;
  }
  for (std::int64_t i = 0; i < n; ++i) {
    for (int k = 0; k < 3; ++k) {
      x[i][k] -= xcm[k];
      v[i][k] -= vcm[k];
    }
  }
}

void build_model(std::int64_t n, unsigned seed, const Particles& p, std::FILE* progress) {
  std::srand(seed);
  sample(n, p, progress);
  correct_centre_of_mass(n, p);
}

void build_model(std::int64_t n, const Particles& p, std::FILE* progress) {
  build_model(n, kSeed, p, progress);
}

}  // namespace plummer
