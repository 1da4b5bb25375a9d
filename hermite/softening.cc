#include "softening.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>

#include "number_text.h"

namespace hermite {

namespace {

// Two particles at one position, unsoftened: the pair term is 1/0. Found
// among the positions sorted in lexicographic order, where such a pair
// stands side by side.
std::string coincidence(const std::vector<Vec3>& pos) {
  std::vector<std::size_t> order(pos.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return pos[a] < pos[b] || (pos[a] == pos[b] && a < b);
  });
  for (std::size_t k = 1; k < order.size(); ++k) {
    const std::size_t a = order[k - 1], b = order[k];
    if (pos[a] != pos[b]) continue;
    return "eps = 0 with particles " + std::to_string(a) + " and " + std::to_string(b) +
           " (counted from 0) at one position (" + format_number(pos[a][0]) + ", " +
           format_number(pos[a][1]) + ", " + format_number(pos[a][2]) +
           "): their unsoftened force is infinite";
  }
  return "";
}

}  // namespace

std::string softening_fault(double eps, const std::vector<double>& mass,
                            const std::vector<Vec3>& pos) {
  // Unsoftened: the self terms are excluded by index; any other pair must
  // be apart.
  if (eps == 0.0) return coincidence(pos);
  const std::string head = "eps = " + format_number(eps) + " is too small for single precision: ";
  const float eps2 = static_cast<float>(eps * eps);
  if (!(eps2 >= FLT_MIN)) {
    return head + "its square underflows (eps must be at least about 1.1e-19)";
  }
  double m_max = 0.0, x_max = 0.0;
  for (const double m : mass) m_max = std::fmax(m_max, m);
  for (const Vec3& x : pos) {
    for (const double c : x) x_max = std::fmax(x_max, std::fabs(c));
  }
  // A particle meets itself with r^2 = eps^2: its terms are finite powers
  // times zero only while those powers are finite. A factor 4 of margin
  // covers the rounding of the approximate reciprocal square root.
  const double limit = FLT_MAX / 4;
  const double inv2 = 1.0 / static_cast<double>(eps2);
  const double m_inv3 = m_max * inv2 / std::sqrt(static_cast<double>(eps2));
  if (!(inv2 < limit) || !(m_inv3 < limit)) {
    return head + "m/eps^3 = " + format_number(m_inv3) +
           " for the heaviest particle overflows a float";
  }
  // The kernels form separations from double-single positions, about 48
  // bits; a softening below that spacing of the largest coordinate (with two
  // bits of margin) is lost in the rounding of the separations it smooths.
  // Far-off particles with a small eps are fine: 1e-6 against 1e6 passes.
  const double spacing = x_max * std::ldexp(1.0, -46);
  if (eps < spacing) {
    return head + "it vanishes against the positions (|coordinate| up to " + format_number(x_max) +
           ", whose double-single spacing is about " + format_number(spacing) + ")";
  }
  return "";
}

}  // namespace hermite
