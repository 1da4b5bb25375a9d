#include "neighbours.h"

#include <nanoflann.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace diagnostics {
namespace {

// The positions as nanoflann reads them.
struct Cloud {
  const Vec3* x;
  std::size_t n;
  std::size_t kdtree_get_point_count() const { return n; }
  double kdtree_get_pt(std::size_t i, std::size_t d) const { return x[i][d]; }
  template <class Box>
  bool kdtree_get_bbox(Box&) const {
    return false;  // the tree finds the bounding box itself
  }
};

using Tree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, Cloud>, Cloud,
                                                 3, unsigned>;

// Spreads the low 21 bits of k three apart (bit b to bit 3b).
std::uint64_t spread_bits(std::uint64_t k) {
  k &= 0x1fffff;
  k = (k | k << 32) & 0x1f00000000ffffULL;
  k = (k | k << 16) & 0x1f0000ff0000ffULL;
  k = (k | k << 8) & 0x100f00f00f00f00fULL;
  k = (k | k << 4) & 0x10c30c30c30c30c3ULL;
  k = (k | k << 2) & 0x1249249249249249ULL;
  return k;
}

// The particles in Morton order over their bounding box: neighbours in
// space lie close in memory, which keeps the tree's leaves and successive
// queries in cache (random order is several times slower at a million).
std::vector<unsigned> spatial_order(const Vec3* x, std::size_t n) {
  Vec3 lo = x[0], hi = x[0];
  for (std::size_t i = 1; i < n; ++i) {
    for (int c = 0; c < 3; ++c) {
      lo[c] = std::fmin(lo[c], x[i][c]);
      hi[c] = std::fmax(hi[c], x[i][c]);
    }
  }
  double scale = 0.0;
  for (int c = 0; c < 3; ++c) scale = std::fmax(scale, hi[c] - lo[c]);
  scale = scale > 0.0 ? 2097151.0 / scale : 0.0;
  std::vector<std::pair<std::uint64_t, unsigned>> keyed(n);
  for (std::size_t i = 0; i < n; ++i) {
    std::uint64_t key = 0;
    for (int c = 0; c < 3; ++c) {
      const auto q = static_cast<std::uint64_t>((x[i][c] - lo[c]) * scale);
      key |= spread_bits(q) << c;
    }
    keyed[i] = {key, static_cast<unsigned>(i)};
  }
  std::sort(keyed.begin(), keyed.end());
  std::vector<unsigned> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = keyed[i].second;
  return order;
}

}  // namespace

Neighbours find_neighbours(const Vec3* x, std::size_t n, const double* mass) {
  if (n <= static_cast<std::size_t>(kDensityNeighbours)) {
    throw std::invalid_argument("the neighbour search needs more than " +
                                std::to_string(kDensityNeighbours) + " particles");
  }
  const std::vector<unsigned> order = spatial_order(x, n);
  std::vector<Vec3> sorted(n);
  for (std::size_t s = 0; s < n; ++s) sorted[s] = x[order[s]];
  const Cloud cloud{sorted.data(), n};
  // Leaves of some two dozen points: a query visits few of them and the
  // tree costs little to build.
  const Tree tree(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(24));
  Neighbours out;
  out.r6.resize(n);
  out.nearest.resize(n);
  if (mass != nullptr) out.m5.resize(n);
  constexpr int k = kDensityNeighbours + 1;  // the particle itself is among them
  const auto count = static_cast<long>(n);
#pragma omp parallel for schedule(dynamic, 4096)
  for (long q = 0; q < count; ++q) {
    const auto self = static_cast<unsigned>(q);
    unsigned index[k];
    double d2[k];
    const std::size_t found = tree.knnSearch(sorted[self].data(), k, index, d2);
    // Leave the particle itself out; where other particles share its
    // position it may not be in the list, and then the farthest goes.
    unsigned kept = 0;
    double kept_d2[k];
    double inner = 0.0;
    int m = 0;
    for (std::size_t s = 0; s < found && m < kDensityNeighbours; ++s) {
      if (index[s] == self) continue;
      if (m == 0) kept = index[s];
      if (mass != nullptr && m + 1 < kDensityNeighbours) inner += mass[order[index[s]]];
      kept_d2[m++] = d2[s];
    }
    const unsigned i = order[self];
    out.nearest[i] = static_cast<int>(order[kept]);
    out.r6[i] = std::sqrt(kept_d2[kDensityNeighbours - 1]);
    if (mass != nullptr) out.m5[i] = inner;
  }
  return out;
}

}  // namespace diagnostics
