// How a block of the interaction kernel divides its work: the j-slice of
// its grid row, and the sharing of one i-particle among several threads
// when the block's last i-particles are few.
#pragma once

#include "forcecore/platform.h"
#include "nbforce_common.h"

namespace nbf {

// ni_block is a power of two, so that a thread's i- and j-share come from a
// mask and a shift: the host runs these for every thread of every phase,
// where a division would cost more than the phase's own work.
struct Split {
  int rem;       // i-particles from the block's first to the end of the pass
  int jsplit;    // threads sharing one i-particle
  int ni_block;  // i-particles the block handles, NTHREAD / jsplit
  int ni_shift;  // log2(ni_block)
  NBF_HD int ioff(int t) const { return t & (ni_block - 1); }
  NBF_HD int joff(int t) const { return t >> ni_shift; }
};

NBF_HD Split split_for(int rem) {
  const int shift = rem <= 4 ? 2 : rem <= 8 ? 3 : rem <= 16 ? 4 : rem <= 32 ? 5 : rem <= 64 ? 6 : 7;
  static_assert(NTHREAD == 1 << 7, "the shares assume 128 threads per block");
  return Split{rem, NTHREAD >> shift, 1 << shift, shift};
}

// Slice `by` of NJBLOCK over [0, nj). The products are formed in 64 bits so
// that any non-negative int nj works; below 2^31 / NJBLOCK the bounds equal
// those of 32-bit arithmetic.
NBF_HD void slice_bounds(int by, int nj, int& js, int& je) {
  js = static_cast<int>(static_cast<long long>(by) * nj / NJBLOCK);
  je = static_cast<int>(static_cast<long long>(by + 1) * nj / NJBLOCK);
}

}  // namespace nbf
