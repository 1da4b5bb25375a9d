// Building subsystems and taking members out of them.
#include <cmath>
#include <stdexcept>
#include <string>

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
    if (energy > 0.0 && r > farthest) {
      farthest = r;
      found = static_cast<int>(k);
    }
  }
  return found;
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
