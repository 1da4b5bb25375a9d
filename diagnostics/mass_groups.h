// Mass groups: particles sorted by their initial mass into bins, and the
// radii of each bin's particles about a centre, to watch mass segregation.
//
// Boundaries b_1 < ... < b_k in units of the initial mean mass make k + 1
// groups: group g holds the particles with b_g <= m / mean < b_(g+1)
// (b_0 = 0, b_(k+1) = infinity). A particle of zero mass (one that has
// left the run) belongs to none (-1).
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "neighbours.h"

namespace diagnostics {

// Mass fractions of each group's radii.
inline constexpr std::array<double, 2> kGroupFractions = {0.1, 0.5};

struct GroupRadii {
  std::size_t count = 0;  // members present (non-zero mass)
  // For each fraction, of the group's own mass, about the centre: the
  // distance of the member, in order of (distance, index), at which the
  // group's enclosed mass first reaches the fraction. NaN for an empty group.
  std::vector<double> radii;
  // Mean mass of the members at or inside the first radius; NaN if empty.
  double mean_inside = 0.0;
};

// Boundaries from "0.5,1,2,5": positive and increasing, else
// std::invalid_argument naming the fault.
std::vector<double> parse_mass_groups(const std::string& text);

// The group of each of the n particles from the masses m (their mean taken
// over the particles of non-zero mass).
std::vector<int> assign_mass_groups(const double* m, std::size_t n,
                                    const std::vector<double>& bounds);

// Radii of groups 0 .. groups - 1 about the centre c, for the given
// fractions (ascending, in (0, 1]).
std::vector<GroupRadii> group_radii(const double* m, const Vec3* x, std::size_t n, const int* group,
                                    int groups, const Vec3& c,
                                    const std::vector<double>& fractions);

}  // namespace diagnostics
