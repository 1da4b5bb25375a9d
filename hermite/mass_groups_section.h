// The checkpoint section "mass_groups": the boundaries of --mass-groups and
// the group of every particle, fixed at the run's start, so that a
// continued run reports the same groups whatever the masses are by then.
#pragma once

#include <string>
#include <vector>

namespace hermite {

inline constexpr const char* kMassGroupsSection = "mass_groups";

struct MassGroups {
  std::vector<double> bounds;  // in units of the initial mean mass, increasing
  std::vector<int> member;     // group of each particle slot, -1 for none
  bool empty() const { return bounds.empty(); }
};

// Text: "bounds" and the boundaries as hexadecimal floats (exact), then
// "members" and the count, then the groups on one line.
std::string encode_mass_groups_section(const MassGroups& g);

// Throws std::runtime_error for a section that does not read back: bad
// numbers, boundaries not positive and increasing, a group outside
// -1 .. bounds.size(), or a count that disagrees with n (the particles of
// the checkpointed run).
MassGroups decode_mass_groups_section(const std::string& bytes, std::size_t n);

}  // namespace hermite
