// Neighbours of every particle among the others, from a k-d tree: the
// nearest one, the distance to the sixth nearest and the mass of the five
// nearest, what the density estimate and the binary search need.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace diagnostics {

using Vec3 = std::array<double, 3>;

// The neighbour count of the local density: the distance to the sixth
// nearest other particle sets the volume that holds five of them.
inline constexpr int kDensityNeighbours = 6;

struct Neighbours {
  std::vector<double> r6;    // distance to the sixth nearest other particle
  std::vector<int> nearest;  // index of the nearest other particle
  // With masses given: the summed mass of the five nearest other particles
  // (the sixth, at r6, left out), added nearest first.
  std::vector<double> m5;
};

// For each of the n particles at x (n > kDensityNeighbours). A particle
// never counts as its own neighbour, even where others share its position;
// among neighbours at one distance the choice follows the tree, which
// depends on the positions alone, so the result is the same on every run
// and thread count. The queries run on all OpenMP threads.
// mass, where not null, gives m5.
Neighbours find_neighbours(const Vec3* x, std::size_t n, const double* mass = nullptr);

}  // namespace diagnostics
