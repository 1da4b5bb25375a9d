// Building subsystems and taking members out of them.
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "subsystem.h"
#include "vec3.h"

namespace encounters {

namespace {

bool finite3(const Vec3& a) {
  return std::isfinite(a[0]) && std::isfinite(a[1]) && std::isfinite(a[2]);
}

CentreOfMass centre_of_mass(const std::vector<double>& m, const std::vector<Vec3>& x,
                            const std::vector<Vec3>& v) {
  CentreOfMass cm;
  for (std::size_t i = 0; i < m.size(); ++i) {
    cm.m += m[i];
    for (int k = 0; k < 3; ++k) {
      cm.x[k] += m[i] * x[i][k];
      cm.v[k] += m[i] * v[i][k];
    }
  }
  for (int k = 0; k < 3; ++k) {
    cm.x[k] /= cm.m;
    cm.v[k] /= cm.m;
  }
  return cm;
}

void check_bodies(std::size_t nids, const std::vector<double>& m, const std::vector<Vec3>& x,
                  const std::vector<Vec3>& v) {
  const std::size_t n = m.size();
  if (n < 2) throw std::invalid_argument("encounters: a subsystem needs at least two members");
  if (nids != n || x.size() != n || v.size() != n)
    throw std::invalid_argument("encounters: ids, masses, positions and velocities differ in size");
  for (std::size_t i = 0; i < n; ++i) {
    if (!(m[i] > 0.0) || !std::isfinite(m[i]))
      throw std::invalid_argument("encounters: member " + std::to_string(i) +
                                  " has a non-positive or non-finite mass");
    if (!finite3(x[i]) || !finite3(v[i]))
      throw std::invalid_argument("encounters: member " + std::to_string(i) +
                                  " has a non-finite position or velocity");
  }
}

}  // namespace

void check_subsystem(const Subsystem& s) {
  check_bodies(s.ids.size(), s.m, s.x, s.v);
  if (!std::isfinite(s.t)) throw std::invalid_argument("encounters: non-finite subsystem time");
}

Subsystem make_subsystem(const std::vector<int>& ids, const std::vector<double>& m,
                         const std::vector<Vec3>& x, const std::vector<Vec3>& v, double t,
                         CentreOfMass* cm) {
  check_bodies(ids.size(), m, x, v);
  if (!std::isfinite(t)) throw std::invalid_argument("encounters: non-finite subsystem time");
  const CentreOfMass c = centre_of_mass(m, x, v);
  Subsystem s;
  s.ids = ids;
  s.m = m;
  s.t = t;
  for (std::size_t i = 0; i < m.size(); ++i) {
    s.x.push_back(sub(x[i], c.x));
    s.v.push_back(sub(v[i], c.v));
  }
  if (cm) *cm = c;
  return s;
}

int find_escaper(const Subsystem& s, double r_escape) {
  const std::size_t n = s.m.size();
  double mtot = 0.0;
  for (double mi : s.m) mtot += mi;
  int found = -1;
  double farthest = 0.0;
  for (std::size_t k = 0; k < n; ++k) {
    // The rest's centre of mass is at -m_k x_k / (M - m_k) (the whole one is
    // at the origin), so the member's position relative to it is
    // x_k M / (M - m_k), and likewise for the velocity.
    const double rest = mtot - s.m[k];
    const double scale = mtot / rest;
    const Vec3 d{s.x[k][0] * scale, s.x[k][1] * scale, s.x[k][2] * scale};
    const Vec3 w{s.v[k][0] * scale, s.v[k][1] * scale, s.v[k][2] * scale};
    const double r = norm(d);
    if (!(r > r_escape) || dot(d, w) <= 0.0) continue;
    const double mu = s.m[k] * rest / mtot;
    const double energy = 0.5 * mu * dot(w, w) - s.m[k] * rest / r;
    if (!(energy > 0.0 && r > farthest)) continue;
    // A member bound to another one is half of a binary, whose partner
    // the rest's centre of mass blurs out: it does not leave alone.
    bool paired = false;
    for (std::size_t l = 0; l < n && !paired; ++l) {
      if (l == k) continue;
      const Vec3 dx{s.x[l][0] - s.x[k][0], s.x[l][1] - s.x[k][1], s.x[l][2] - s.x[k][2]};
      const Vec3 dv{s.v[l][0] - s.v[k][0], s.v[l][1] - s.v[k][1], s.v[l][2] - s.v[k][2]};
      paired = pair_elements(s.m[k], s.m[l], dx, dv).binding > 0.0;
    }
    if (paired) continue;
    farthest = r;
    found = static_cast<int>(k);
  }
  return found;
}

Departure find_departure(const Subsystem& s, double r_far, bool receding) {
  const std::size_t n = s.m.size();
  Departure best;
  if (n < 3) return best;
  double mtot = 0.0;
  for (double mi : s.m) mtot += mi;
  double farthest = 0.0;
  // A part of mass mp at xp, vp (relative to the whole's centre of mass,
  // at the origin) lies at xp M / (M - mp) from the rest's centre of mass.
  auto consider = [&](double mp, const Vec3& xp, const Vec3& vp, int k, int l) {
    const double scale = mtot / (mtot - mp);
    const Vec3 d{xp[0] * scale, xp[1] * scale, xp[2] * scale};
    const Vec3 w{vp[0] * scale, vp[1] * scale, vp[2] * scale};
    const double r = norm(d);
    if (!(r > r_far) || (receding && dot(d, w) <= 0.0) || !(r > farthest)) return;
    farthest = r;
    best.k = k;
    best.l = l;
  };
  // Each member's partner: the one it is most bound to as a pair, if any.
  // A pair leaves together only where each is the other's partner: the
  // outer body of a triple is often bound to one inner member, which is
  // itself far more bound to the other.
  std::vector<int> partner(n, -1);
  for (std::size_t k = 0; k < n; ++k) {
    double tightest = 0.0;
    for (std::size_t l = 0; l < n; ++l) {
      if (l == k) continue;
      const Vec3 dx{s.x[l][0] - s.x[k][0], s.x[l][1] - s.x[k][1], s.x[l][2] - s.x[k][2]};
      const Vec3 dv{s.v[l][0] - s.v[k][0], s.v[l][1] - s.v[k][1], s.v[l][2] - s.v[k][2]};
      const double binding = pair_elements(s.m[k], s.m[l], dx, dv).binding;
      if (binding > tightest) {
        tightest = binding;
        partner[k] = static_cast<int>(l);
      }
    }
  }
  for (std::size_t k = 0; k < n; ++k) {
    const int p = partner[k];
    if (p < 0 || partner[static_cast<std::size_t>(p)] != static_cast<int>(k)) {
      consider(s.m[k], s.x[k], s.v[k], static_cast<int>(k), -1);
      continue;
    }
    const auto l = static_cast<std::size_t>(p);
    if (n < 4 || l < k) continue;  // each pair once
    const double mp = s.m[k] + s.m[l];
    Vec3 xp, vp;
    for (int c = 0; c < 3; ++c) {
      xp[c] = (s.m[k] * s.x[k][c] + s.m[l] * s.x[l][c]) / mp;
      vp[c] = (s.m[k] * s.v[k][c] + s.m[l] * s.v[l][c]) / mp;
    }
    consider(mp, xp, vp, static_cast<int>(k), p);
  }
  return best;
}

Escaper remove_member(Subsystem& s, int index) {
  const int n = static_cast<int>(s.m.size());
  if (index < 0 || index >= n)
    throw std::invalid_argument("encounters: no member " + std::to_string(index) + " to remove");
  if (n < 2) throw std::invalid_argument("encounters: cannot remove the last member");
  Escaper e;
  e.index = index;
  e.id = s.ids[index];
  e.m = s.m[index];
  e.x = s.x[index];
  e.v = s.v[index];
  s.ids.erase(s.ids.begin() + index);
  s.m.erase(s.m.begin() + index);
  s.x.erase(s.x.begin() + index);
  s.v.erase(s.v.begin() + index);
  const CentreOfMass c = centre_of_mass(s.m, s.x, s.v);
  e.dx_cm = c.x;
  e.dv_cm = c.v;
  for (std::size_t i = 0; i < s.m.size(); ++i) {
    s.x[i] = sub(s.x[i], c.x);
    s.v[i] = sub(s.v[i], c.v);
  }
  s.ds = 0.0;  // the step of the old group means nothing to the new one
  return e;
}

Escaper split_escaper(Subsystem& s, double r_escape) {
  if (s.m.size() < 3) return Escaper{};
  const int k = find_escaper(s, r_escape);
  if (k < 0) return Escaper{};
  return remove_member(s, k);
}

}  // namespace encounters
