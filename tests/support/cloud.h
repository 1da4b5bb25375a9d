// Test particles: a Plummer-like cloud in double precision with velocities,
// accelerations and jerks, and its conversion into the libraries' records.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <type_traits>
#include <vector>

#include "nbforce_common.h"

namespace nbtest {

struct Particle {
  double m;
  double x[3];
  double v[3];
  double a[3];  // used as the predicted acceleration by the higher orders
  double j[3];  // used as the predicted jerk by the eighth order
};

// n equal-mass particles with a Plummer density profile (scale radius
// 3 pi / 16), isotropic velocities of virial size, and accelerations and
// jerks of the size they have in such a model. Deterministic for a seed.
inline std::vector<Particle> plummer_cloud(int n, std::uint32_t seed = 12345) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  auto direction = [&](double len, double* out) {
    const double z = 1.0 - 2.0 * u(gen);
    const double phi = 2.0 * M_PI * u(gen);
    const double s = std::sqrt(1.0 - z * z);
    out[0] = len * s * std::cos(phi);
    out[1] = len * s * std::sin(phi);
    out[2] = len * z;
  };
  const double scale = 3.0 * M_PI / 16.0;
  std::vector<Particle> p(static_cast<std::size_t>(n));
  for (auto& q : p) {
    q.m = 1.0 / n;
    double r;
    do {
      r = 1.0 / std::sqrt(std::pow(u(gen), -2.0 / 3.0) - 1.0);
    } while (!(r < 20.0));
    direction(r * scale, q.x);
    direction(0.5 * u(gen), q.v);
    direction(u(gen), q.a);
    direction(2.0 * u(gen), q.j);
  }
  return p;
}

// Splits a double into the hi/lo pair the libraries expect.
inline void split(double x, float& hi, float& lo) { nbforce_split(x, &hi, &lo); }

inline std::vector<Posm> to_posm(const std::vector<Particle>& p) {
  std::vector<Posm> out(p.size());
  for (std::size_t i = 0; i < p.size(); ++i) {
    for (int c = 0; c < 3; ++c) split(p[i].x[c], out[i].pos[c].x, out[i].pos[c].y);
    out[i].mass = static_cast<float>(p[i].m);
    out[i].unused = 0.0f;
  }
  return out;
}

template <class Pred, class = void>
struct HasAcc : std::false_type {};
template <class Pred>
struct HasAcc<Pred, std::void_t<decltype(Pred::acc)>> : std::true_type {};
template <class Pred, class = void>
struct HasJrk : std::false_type {};
template <class Pred>
struct HasJrk<Pred, std::void_t<decltype(Pred::jrk)>> : std::true_type {};

// The library's predictor record of a particle, for any order: positions
// split into hi + lo, the rest rounded to float, and the predicted
// acceleration (sixth and eighth order) and jerk (eighth) where the record
// has them. Unused words are zero.
template <class Pred>
Pred pack_predictor(const Particle& q) {
  Pred out{};
  for (int c = 0; c < 3; ++c) {
    split(q.x[c], out.posH[c], out.posL[c]);
    out.vel[c] = static_cast<float>(q.v[c]);
    if constexpr (HasAcc<Pred>::value) out.acc[c] = static_cast<float>(q.a[c]);
    if constexpr (HasJrk<Pred>::value) out.jrk[c] = static_cast<float>(q.j[c]);
  }
  out.mass = static_cast<float>(q.m);
  return out;
}

// The particles as the library would see them: every value rounded the way
// the records carry it (positions to hi + lo, the rest to float).
inline std::vector<Particle> as_stored(const std::vector<Particle>& p) {
  std::vector<Particle> out = p;
  for (auto& q : out) {
    q.m = static_cast<float>(q.m);
    for (int c = 0; c < 3; ++c) {
      float hi, lo;
      split(q.x[c], hi, lo);
      q.x[c] = static_cast<double>(hi) + static_cast<double>(lo);
      q.v[c] = static_cast<float>(q.v[c]);
      q.a[c] = static_cast<float>(q.a[c]);
      q.j[c] = static_cast<float>(q.j[c]);
    }
  }
  return out;
}

}  // namespace nbtest
