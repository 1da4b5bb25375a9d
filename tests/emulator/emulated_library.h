// One calc_force pass and one calc_pot as the GPU runs them, on the device
// emulator: the kernel templates of the libraries in the device's block
// context, over device buffers whose unwritten parts hold NaN and that are
// sized exactly as far as the kernels may reach.
#pragma once

#include <cstring>
#include <limits>
#include <vector>

#include "emulator/device_emulator.h"
#include "forcecore/ds.h"
#include "forcecore/kernels.h"

namespace nbf::emu {

// `count` records of T, every byte past the first `used` records NaN.
template <class T>
std::vector<T> nan_buffer(std::size_t count, const T* data = nullptr, std::size_t used = 0) {
  static_assert(sizeof(T) % sizeof(float) == 0, "records of 4-byte words");
  std::vector<float> words(count * sizeof(T) / sizeof(float),
                           std::numeric_limits<float>::quiet_NaN());
  std::vector<T> out(count);
  std::memcpy(out.data(), words.data(), count * sizeof(T));
  if (used > 0) std::memcpy(out.data(), data, used * sizeof(T));
  return out;
}

inline unsigned blocks_of(int n, int per_block) {
  return static_cast<unsigned>((n - 1) / per_block + 1);
}

// Forces on ni (1 to NIMAX) i-particles due to nj j-particles: the
// interaction kernel, then the reduction, then the conversion to doubles.
template <class O>
std::vector<typename O::Force> emulated_forces(const std::vector<typename O::Predictor>& ip,
                                               const std::vector<typename O::Predictor>& jp,
                                               float eps2, unsigned seed) {
  using Pred = typename O::Predictor;
  using Rec = typename O::ForceDev;
  const int ni = static_cast<int>(ip.size());
  const int nj = static_cast<int>(jp.size());
  // The kernel reads i-records up to the end of the last i-block and tiles
  // up to 127 records past the last j-particle.
  std::vector<Pred> ip_dev = nan_buffer<Pred>(blocks_of(ni, NTHREAD) * NTHREAD, ip.data(), ni);
  std::vector<Pred> jp_dev = nan_buffer<Pred>(jp.size() + NTHREAD, jp.data(), jp.size());
  // Rows up to the last reduction block; only the columns past the slices
  // are zero, as the driver keeps them.
  const std::size_t rows = blocks_of(ni, NTHREAD / NSLICE) * (NTHREAD / NSLICE);
  std::vector<Rec> fo_dev = nan_buffer<Rec>(rows * NSLICE);
  for (std::size_t r = 0; r < rows; ++r)
    std::memset(&fo_dev[r * NSLICE + NJBLOCK], 0, (NSLICE - NJBLOCK) * sizeof(Rec));
  std::vector<Rec> fo_reduce = nan_buffer<Rec>(rows);

  run_grid({blocks_of(ni, NTHREAD), NJBLOCK}, seed, [&] {
    DeviceBlock blk;
    gravity_block<O>(blk, ni, nj, ip_dev.data(), jp_dev.data(), fo_dev.data(), eps2);
  });
  run_grid({blocks_of(ni, NTHREAD / NSLICE), 1}, seed + 1, [&] {
    DeviceBlock blk;
    reduce_block<O>(blk, fo_dev.data(), fo_reduce.data());
  });

  std::vector<typename O::Force> out(ip.size());
  for (int k = 0; k < ni; ++k) O::to_force(fo_reduce[k], out[k]);
  return out;
}

// Potentials of the n particles due to the sources [js, je).
inline std::vector<double> emulated_potential(const std::vector<Posm>& posm, int js, int je,
                                              float eps2, unsigned seed) {
  const int n = static_cast<int>(posm.size());
  std::vector<Posm> posm_dev = nan_buffer<Posm>(posm.size() + NTHREAD, posm.data(), posm.size());
  std::vector<float2> pot_dev = nan_buffer<float2>(blocks_of(n, NTHREAD) * NTHREAD);
  run_grid({blocks_of(n, NTHREAD), 1}, seed, [&] {
    DeviceBlock blk;
    pot_block(blk, js, je, eps2, posm_dev.data(), pot_dev.data());
  });
  std::vector<double> pot(posm.size());
  for (int i = 0; i < n; ++i) pot[i] = -ds_to_double(pot_dev[i]);
  return pot;
}

}  // namespace nbf::emu
