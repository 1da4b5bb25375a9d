#include "core.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

#include "local_density.h"
#include "two_body.h"

namespace diagnostics {
namespace {

double distance(const Vec3& a, const Vec3& b) {
  const double d0 = a[0] - b[0], d1 = a[1] - b[1], d2 = a[2] - b[2];
  return std::sqrt(d0 * d0 + d1 * d1 + d2 * d2);
}

// Radii about c holding each fraction of the mass: the distance of the
// particle, in order of distance, at which the enclosed mass first reaches
// the fraction of the total; the last particle closes every fraction.
// r receives each particle's distance from c, order the particles by
// distance.
void radii_about(const Snapshot& s, const Vec3& c, double total, Core& out, std::vector<double>& r,
                 std::vector<std::size_t>& order) {
  r.resize(s.n);
  for (std::size_t i = 0; i < s.n; ++i) r[i] = distance(s.x[i], c);
  // Sorted as (distance, index) pairs: ties go by index, and the pairs sort
  // faster than indices compared through r.
  std::vector<std::pair<double, std::size_t>> keyed(s.n);
  for (std::size_t i = 0; i < s.n; ++i) keyed[i] = {r[i], i};
  std::sort(keyed.begin(), keyed.end());
  order.resize(s.n);
  for (std::size_t i = 0; i < s.n; ++i) order[i] = keyed[i].second;
  double enclosed = 0.0;
  std::size_t k = 0;
  for (std::size_t f = 0; f < kCoreFractions.size(); ++f) {
    const double target = kCoreFractions[f] * total;
    while (k + 1 < s.n && enclosed + s.m[order[k]] < target) enclosed += s.m[order[k++]];
    out.radii[f] = r[order[k]];
  }
}

}  // namespace

Core core_diagnostics(const Snapshot& s, std::vector<Binary>* binaries) {
  if (s.n <= static_cast<std::size_t>(kDensityNeighbours)) {
    throw std::invalid_argument("the core diagnostics need more than " +
                                std::to_string(kDensityNeighbours) + " particles, found " +
                                std::to_string(s.n));
  }
  double total = 0.0;
  for (std::size_t i = 0; i < s.n; ++i) total += s.m[i];
  if (!(total > 0.0)) throw std::invalid_argument("the core diagnostics need a positive mass");
  const LocalDensities dens = local_densities(s.x, s.m, s.n, total);
  const Neighbours& nb = dens.nb;
  const std::vector<double>& rho = dens.rho;
  Core out;

  // The density centre and core radius weighted by the local densities.
  Vec3 moment{};
  for (std::size_t i = 0; i < s.n; ++i) {
    for (int c = 0; c < 3; ++c) moment[c] += rho[i] * s.x[i][c];
  }
  const double sum_rho = dens.sum;
  if (sum_rho > 0.0) {
    for (int c = 0; c < 3; ++c) out.centre[c] = moment[c] / sum_rho;
    double spread = 0.0;
    for (std::size_t i = 0; i < s.n; ++i) {
      const double d = distance(s.x[i], out.centre);
      spread += rho[i] * d * d;
    }
    out.rc = std::sqrt(spread / sum_rho);
    out.rhoc = weighted_density(dens);
  }

  std::vector<double> r;
  std::vector<std::size_t> order;
  radii_about(s, out.centre, total, out, r, order);

  // The frame of the centre of mass: kT and the escapers' energies.
  Vec3 vcm{};
  for (std::size_t i = 0; i < s.n; ++i) {
    for (int c = 0; c < 3; ++c) vcm[c] += s.m[i] * s.v[i][c];
  }
  for (int c = 0; c < 3; ++c) vcm[c] /= total;
  auto speed2 = [&](std::size_t i) {
    const double a = s.v[i][0] - vcm[0], b = s.v[i][1] - vcm[1], c = s.v[i][2] - vcm[2];
    return a * a + b * b + c * c;
  };
  double kinetic = 0.0;
  for (std::size_t i = 0; i < s.n; ++i) kinetic += 0.5 * s.m[i] * speed2(i);

  // Bound pairs of mutual nearest neighbours count as one system each: their
  // internal kinetic energy leaves the sum and their members the count.
  struct Pair {
    std::size_t i, j;
    PairOrbit orbit;
  };
  std::vector<Pair> pairs;
  double internal = 0.0;
  for (std::size_t i = 0; i < s.n; ++i) {
    const auto j = static_cast<std::size_t>(nb.nearest[i]);
    if (j <= i || static_cast<std::size_t>(nb.nearest[j]) != i) continue;
    const PairOrbit o = pair_orbit(s.m[i], s.x[i], s.v[i], s.m[j], s.x[j], s.v[j], s.eps);
    if (!(o.binding > 0.0)) continue;
    pairs.push_back({i, j, o});
    const double w0 = s.v[j][0] - s.v[i][0], w1 = s.v[j][1] - s.v[i][1], w2 = s.v[j][2] - s.v[i][2];
    internal += 0.5 * s.m[i] * s.m[j] / (s.m[i] + s.m[j]) * (w0 * w0 + w1 * w1 + w2 * w2);
  }
  out.nsys = static_cast<int>(s.n - pairs.size());
  out.kT =
      2.0 / 3.0 * (pairs.empty() ? kinetic : kinetic - internal) / static_cast<double>(out.nsys);

  for (const Pair& p : pairs) {
    const std::size_t i = p.i, j = p.j;
    const PairOrbit& o = p.orbit;
    if (!(o.binding > out.kT)) continue;
    ++out.nbin;
    out.ebin += o.binding;
    if (binaries != nullptr) {
      binaries->push_back(Binary{static_cast<int>(i), static_cast<int>(j), o.a, o.e, o.binding});
    }
  }

  // Escapers: the particles beyond the escape radius, the last ones in
  // order of distance. Without a given potential, theirs is that of the
  // system spread into spherical shells about the density centre, one per
  // particle: the mass inside over r, plus m_j / r_j of each shell outside.
  // At 20 half-mass radii over 99% of the mass lies inside, and the
  // departures from spherical symmetry fall off as (r_inside / r)^2.
  const double r_escape = kEscapeRadius * out.radii[2];
  double outside = 0.0;         // mass from the particle outwards
  double shells_outside = 0.0;  // sum of m_j / r_j beyond the particle
  for (std::size_t k = s.n; k-- > 0;) {
    const std::size_t i = order[k];
    if (!(r[i] > r_escape)) break;
    outside += s.m[i];
    const double phi = s.pot != nullptr ? s.pot[i] : -((total - outside) / r[i] + shells_outside);
    if (0.5 * speed2(i) + phi > 0.0) ++out.nesc;
    shells_outside += s.m[i] / r[i];
  }

  if (s.group != nullptr && s.groups > 0) {
    out.groups = group_radii(s.m, s.x, s.n, s.group, s.groups, out.centre,
                             {kGroupFractions.begin(), kGroupFractions.end()});
  }
  return out;
}

}  // namespace diagnostics
