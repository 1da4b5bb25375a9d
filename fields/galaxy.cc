#include "galaxy.h"

namespace fields {

double Galaxy::potential(const Vec3& y) const {
  double phi = 0.0;
  for (const auto& c : parts_) phi += c->potential(y);
  return phi;
}

Vec3 Galaxy::acceleration(const Vec3& y) const {
  Vec3 out[1];
  derivatives(y, nullptr, 1, out);
  return out[0];
}

void Galaxy::derivatives(const Vec3& y, const Vec3* dy, int nd, Vec3* out) const {
  // The path y(t) = y + dy0 t + dy1 t^2 / 2 + dy2 t^3 / 6, cut where the
  // derivatives are not needed.
  Jet path[3];
  for (int i = 0; i < 3; ++i) {
    path[i].c[0] = y[i];
    for (int m = 0; m + 1 < nd && m < 3; ++m)
      path[i].c[m + 1] = dy[m][i] / hermite::factorial(m + 1);
  }
  Jet sum[3];
  for (const auto& c : parts_) {
    Jet g[3];
    c->acceleration(path, g);
    for (int i = 0; i < 3; ++i) sum[i] = sum[i] + g[i];
  }
  for (int n = 0; n < nd; ++n) {
    for (int i = 0; i < 3; ++i) out[n][i] = sum[i].c[n] * hermite::factorial(n);
  }
}

std::string Galaxy::describe() const {
  std::string s;
  for (const auto& c : parts_) s += (s.empty() ? "" : " + ") + c->describe();
  return s;
}

}  // namespace fields
