#include "orbit.h"

#include <cmath>
#include <stdexcept>

namespace fields {

void orbit_derivatives(const Galaxy& galaxy, const Vec3& r, const Vec3& v, int nd, Vec3* out) {
  Vec3 dy[3] = {v, Vec3{}, Vec3{}};
  for (int n = 1; n <= nd; ++n) {
    galaxy.derivatives(r, dy, n, out);
    if (n < 3) dy[n] = out[n - 1];
  }
}

namespace {
constexpr int kKeep = 4096;  // nodes kept behind the latest
}

Orbit::Orbit(const Galaxy& galaxy, const Vec3& r0, const Vec3& v0) : galaxy_(galaxy) {
  Vec3 g[1];
  orbit_derivatives(galaxy, r0, v0, 1, g);
  const double r = hermite::norm(r0), v = hermite::norm(v0), a = hermite::norm(g[0]);
  double scale = std::sqrt(r / a);
  if (v > 0.0) scale = std::fmin(scale, r / v);
  if (!(scale > 0.0) || !std::isfinite(scale)) {
    throw std::invalid_argument("the orbit has no time scale (at the galaxy's centre?)");
  }
  int e = 0;
  std::frexp(scale / 64.0, &e);
  h_ = std::ldexp(0.5, e);  // the power of two at or below scale / 64
  first_.r = r0;
  first_.v = v0;
  first_.d = hermite::Derivs<4>{};
  orbit_derivatives(galaxy, r0, v0, 4, first_.d.data());
  // The higher derivatives at the start from the interpolant over a first
  // trial step, then the step taken again with them.
  const Node trial = advance(first_);
  Vec3 end[4], begin[4];
  hermite::interpolate<4>(first_.d.data(), trial.d.data(), h_, end, begin);
  for (int q = 0; q < 4; ++q) first_.d[4 + q] = begin[q];
  nodes_.push_back(first_);
}

Orbit::Node Orbit::advance(const Node& a) const {
  Node b;
  Vec3 rp, vp, f[4];
  hermite::predict<4>(h_, a.r, a.v, a.d, &rp, &vp);
  // P(EC)^2 and a last evaluation at the corrected state.
  for (int it = 0; it < 2; ++it) {
    orbit_derivatives(galaxy_, rp, vp, 4, f);
    hermite::correct<4>(h_, a.r, a.v, a.d.data(), f, rp, vp);
  }
  orbit_derivatives(galaxy_, rp, vp, 4, f);
  Vec3 hi[4];
  hermite::interpolate<4>(a.d.data(), f, h_, hi);
  b.r = rp;
  b.v = vp;
  for (int n = 0; n < 4; ++n) {
    b.d[n] = f[n];
    b.d[4 + n] = hi[n];
  }
  return b;
}

const Orbit::Node& Orbit::node(long long k) const {
  if (k < first_k_) {
    nodes_.assign(1, first_);
    first_k_ = 0;
  }
  while (first_k_ + static_cast<long long>(nodes_.size()) <= k) {
    nodes_.push_back(advance(nodes_.back()));
    if (nodes_.size() > 2 * kKeep) {
      nodes_.erase(nodes_.begin(), nodes_.begin() + kKeep);
      first_k_ += kKeep;
    }
  }
  return nodes_[static_cast<std::size_t>(k - first_k_)];
}

void Orbit::at(double t, Vec3& r, Vec3& v) const {
  if (!(t >= 0.0)) throw std::invalid_argument("the orbit starts at t = 0");
  const long long k = static_cast<long long>(std::floor(t / h_));
  const Node& n = node(k);
  hermite::predict<4>(t - static_cast<double>(k) * h_, n.r, n.v, n.d, &r, &v);
}

}  // namespace fields
