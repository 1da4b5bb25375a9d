#include "neighbours.h"

#include <nanoflann.hpp>

#include <cmath>
#include <stdexcept>
#include <string>

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

}  // namespace

Neighbours find_neighbours(const Vec3* x, std::size_t n) {
  if (n <= static_cast<std::size_t>(kDensityNeighbours)) {
    throw std::invalid_argument("the neighbour search needs more than " +
                                std::to_string(kDensityNeighbours) + " particles");
  }
  const Cloud cloud{x, n};
  // Leaves of about a dozen points: a query visits few of them and the
  // tree costs little to build.
  const Tree tree(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(12));
  Neighbours out;
  out.r6.resize(n);
  out.nearest.resize(n);
  constexpr int k = kDensityNeighbours + 1;  // the particle itself is among them
  const auto count = static_cast<long>(n);
#pragma omp parallel for schedule(dynamic, 4096)
  for (long q = 0; q < count; ++q) {
    const auto i = static_cast<unsigned>(q);
    unsigned index[k];
    double d2[k];
    const std::size_t found = tree.knnSearch(x[i].data(), k, index, d2);
    // Leave the particle itself out; where other particles share its
    // position it may not be in the list, and then the farthest goes.
    unsigned kept[k];
    double kept_d2[k];
    int m = 0;
    for (std::size_t s = 0; s < found && m < kDensityNeighbours; ++s) {
      if (index[s] == i) continue;
      kept[m] = index[s];
      kept_d2[m++] = d2[s];
    }
    out.nearest[i] = static_cast<int>(kept[0]);
    out.r6[i] = std::sqrt(kept_d2[kDensityNeighbours - 1]);
  }
  return out;
}

}  // namespace diagnostics
