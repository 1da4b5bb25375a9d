// The generator's random numbers: xoshiro256** seeded through splitmix64, so
// that a seed gives the same model on every machine and C library (only the
// mathematical functions of the C library enter the model's values).
#pragma once

#include <cstdint>

namespace models {

class Random {
 public:
  explicit Random(std::uint64_t seed) {
    for (auto& word : s_) {
      seed += 0x9e3779b97f4a7c15ULL;
      std::uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
      word = z ^ (z >> 31);
    }
  }
  std::uint64_t next() {
    const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
  }
  // Uniform on [0, 1) in steps of 2^-53.
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  // Uniform on (0, 1): never 0, for logarithms and inverse powers.
  double open_uniform() { return (static_cast<double>(next() >> 11) + 0.5) * 0x1.0p-53; }

 private:
  static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::uint64_t s_[4];
};

}  // namespace models
