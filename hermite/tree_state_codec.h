// The integrator's pair-search tree as bytes, for the "neighbour_tree"
// section of a checkpoint: the time of its last build and the slots and
// positions it was built from. The tree is rebuilt lazily, at times that
// depend on the run's history and not only on its state; a continued run
// rebuilds this very tree, so that its pair searches (formations,
// perturbers, the eighth order's pace) propose the candidates that the run
// which never stopped sees.
//
// Layout (native byte order): u32 format (1), f64 time of the build, u64
// count, then per slot an i32 slot and its three f64 coordinates. Slots
// are increasing and below the particle count.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "section_bytes.h"
#include "state.h"

namespace hermite {

inline constexpr const char* kNeighbourTreeSection = "neighbour_tree";

inline std::string encode_tree_state(double time, const std::vector<int>& ids,
                                     const std::vector<Vec3>& x) {
  std::string out;
  put_bytes(out, std::uint32_t{1});
  put_bytes(out, time);
  put_bytes(out, static_cast<std::uint64_t>(ids.size()));
  for (std::size_t k = 0; k < ids.size(); ++k) {
    put_bytes(out, static_cast<std::int32_t>(ids[k]));
    for (double c : x[k]) put_bytes(out, c);
  }
  return out;
}

// Throws std::runtime_error for bytes that are not such an encoding for n
// particles; the outputs are then unspecified.
inline void decode_tree_state(const std::string& b, std::size_t n, double& time,
                              std::vector<int>& ids, std::vector<Vec3>& x) {
  SectionReader in(b, "truncated");
  std::uint32_t format = 0;
  in.get(format);
  if (format != 1) throw std::runtime_error("unknown format " + std::to_string(format));
  in.get(time);
  std::uint64_t count = 0;
  in.get(count);
  constexpr std::size_t kRecord = sizeof(std::int32_t) + 3 * sizeof(double);
  if (count > n || count > in.left() / kRecord) throw std::runtime_error("truncated");
  ids.clear();
  x.clear();
  for (std::uint64_t k = 0; k < count; ++k) {
    std::int32_t id = 0;
    Vec3 p{};
    in.get(id);
    for (double& c : p) in.get(c);
    if (id < 0 || static_cast<std::size_t>(id) >= n || (!ids.empty() && id <= ids.back()))
      throw std::runtime_error("slots out of order or out of range");
    ids.push_back(id);
    x.push_back(p);
  }
  if (in.left() != 0) throw std::runtime_error("bytes left over");
}

}  // namespace hermite
