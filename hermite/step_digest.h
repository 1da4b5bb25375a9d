// A check that every rank takes the same block step, at the cost of three
// more numbers in the force sum the ranks already make. Each rank hashes its
// decision (the block time and the particles whose forces it asks for) into
// a small integer d and adds d, d * d, and d on rank 0 only (0 elsewhere).
// Integers this small add up exactly in doubles, whatever order the sum
// takes, so every rank sees the same three sums S1, S2, d0 and finds
//   sum over ranks (d - d0)^2 = S2 - 2 d0 S1 + P d0^2,
// which is zero exactly when all ranks hashed the same decision.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "scheme.h"

namespace hermite {

// Digests lie in [0, 2^16): the three sums stay exact integers in a double
// for up to 2^20 ranks.
inline double step_digest(double t, const int* list, std::size_t n) {
  std::uint64_t h = 14695981039346656037ull;  // FNV-1a over 64-bit words
  auto mix = [&h](std::uint64_t w) {
    for (int b = 0; b < 8; ++b) {
      h ^= (w >> (8 * b)) & 0xffu;
      h *= 1099511628211ull;
    }
  };
  std::uint64_t bits = 0;
  std::memcpy(&bits, &t, sizeof bits);
  mix(bits);
  mix(n);
  for (std::size_t k = 0; k < n; ++k) mix(static_cast<std::uint32_t>(list[k]));
  const std::uint64_t folded = h ^ (h >> 16) ^ (h >> 32) ^ (h >> 48);
  return static_cast<double>(folded & 0xffffu);
}

// This rank's three terms of the digest sum.
inline Vec3 digest_terms(double d, bool root) { return Vec3{d, d * d, root ? d : 0.0}; }

// Whether the summed terms of `ranks` ranks show one decision on all of
// them. Anything that is not the sum of such terms counts as disagreement.
inline bool digests_agree(const Vec3& sum, int ranks) {
  const double limit = 0x1p53;
  for (double s : sum) {
    if (!(s >= 0.0 && s < limit) || std::floor(s) != s) return false;
  }
  const auto s1 = static_cast<std::uint64_t>(sum[0]);
  const auto s2 = static_cast<std::uint64_t>(sum[1]);
  const auto d0 = static_cast<std::uint64_t>(sum[2]);
  if (d0 >= 65536u || ranks < 1 || ranks > (1 << 20)) return false;
  const auto p = static_cast<std::uint64_t>(ranks);
  return s2 + p * d0 * d0 == 2u * d0 * s1;
}

}  // namespace hermite
