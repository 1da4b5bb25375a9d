#include "mass_groups.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <utility>

namespace diagnostics {

std::vector<double> parse_mass_groups(const std::string& text) {
  std::vector<double> bounds;
  const char* p = text.c_str();
  for (;;) {
    char* end = nullptr;
    errno = 0;
    const double b = std::strtod(p, &end);
    if (end == p || (*end != ',' && *end != '\0') || errno == ERANGE || !std::isfinite(b)) {
      throw std::invalid_argument("mass groups '" + text +
                                  "': expected numbers separated by commas, e.g. 0.5,1,2,5");
    }
    if (!(b > 0.0) || (!bounds.empty() && !(b > bounds.back()))) {
      throw std::invalid_argument("mass groups '" + text +
                                  "': the boundaries must be positive and increasing");
    }
    bounds.push_back(b);
    if (*end == '\0') break;
    p = end + 1;
  }
  return bounds;
}

std::vector<int> assign_mass_groups(const double* m, std::size_t n,
                                    const std::vector<double>& bounds) {
  double total = 0.0;
  std::size_t present = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (m[i] > 0.0) total += m[i], ++present;
  }
  const double mean = present > 0 ? total / static_cast<double>(present) : 0.0;
  std::vector<int> group(n, -1);
  for (std::size_t i = 0; i < n; ++i) {
    if (!(m[i] > 0.0)) continue;
    const double scaled = m[i] / mean;
    group[i] =
        static_cast<int>(std::upper_bound(bounds.begin(), bounds.end(), scaled) - bounds.begin());
  }
  return group;
}

std::vector<GroupRadii> group_radii(const double* m, const Vec3* x, std::size_t n, const int* group,
                                    int groups, const Vec3& c,
                                    const std::vector<double>& fractions) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Members of every group in order of (distance, index).
  std::vector<std::vector<std::pair<double, std::size_t>>> members(
      static_cast<std::size_t>(groups));
  std::vector<double> mass(static_cast<std::size_t>(groups), 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    const int g = group[i];
    if (g < 0 || g >= groups || !(m[i] > 0.0)) continue;
    const double d0 = x[i][0] - c[0], d1 = x[i][1] - c[1], d2 = x[i][2] - c[2];
    members[g].push_back({std::sqrt(d0 * d0 + d1 * d1 + d2 * d2), i});
    mass[g] += m[i];
  }
  std::vector<GroupRadii> out(static_cast<std::size_t>(groups));
  for (int g = 0; g < groups; ++g) {
    auto& list = members[g];
    GroupRadii& r = out[g];
    r.count = list.size();
    r.radii.assign(fractions.size(), nan);
    if (list.empty()) {
      r.mean_inside = nan;
      continue;
    }
    std::sort(list.begin(), list.end());
    double enclosed = 0.0;
    std::size_t k = 0;
    for (std::size_t f = 0; f < fractions.size(); ++f) {
      const double target = fractions[f] * mass[g];
      while (k + 1 < list.size() && enclosed + m[list[k].second] < target) {
        enclosed += m[list[k++].second];
      }
      r.radii[f] = list[k].first;
      if (f == 0) {
        // Members at or inside r10: up to k, and any beyond at the same distance.
        std::size_t last = k;
        while (last + 1 < list.size() && list[last + 1].first == list[k].first) ++last;
        double sum = 0.0;
        for (std::size_t j = 0; j <= last; ++j) sum += m[list[j].second];
        r.mean_inside = sum / static_cast<double>(last + 1);
      }
    }
  }
  return out;
}

}  // namespace diagnostics
