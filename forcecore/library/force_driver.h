// calc_force: accelerations and their time derivatives of ni i-particles due
// to nj j-particles, in passes of at most NIMAX i-particles. The device
// buffers are made on the first call and kept for the life of the process.
#pragma once

#include <cstdio>

#include "forcecore/check_lines.h"
#include "forcecore/ds.h"
#include "forcecore/error_report.h"
#include "forcecore/library/launch.h"
#include "nbforce_common.h"

namespace nbf {

template <class L>
struct ForceBuffers {
  using Pred = typename L::Order::Predictor;
  using Rec = typename L::Order::ForceDev;
  Pred* jp_dev = nullptr;
  std::size_t jp_capacity = 0;  // records, the 128 spare ones included
  Pred* ip_dev = nullptr;
  Rec* fo_dev = nullptr;
  Rec* fo_reduce = nullptr;
  Rec* fo_host = nullptr;
};

template <class L>
ForceBuffers<L>& force_buffers() {
  static ForceBuffers<L> buffers;
  return buffers;
}

// Room for nj j-predictors plus the spare records that the tile reads of the
// last slice reach. A call with more j-particles than the buffer holds gets a
// larger buffer instead of a write past its end.
template <class L>
void reserve_j(ForceBuffers<L>& b, int nj) {
  using Pred = typename L::Order::Predictor;
  const std::size_t needed = static_cast<std::size_t>(nj) + NTHREAD;
  if (b.jp_dev != nullptr && needed <= b.jp_capacity) return;
  if (b.jp_dev != nullptr) rt::free_device(b.jp_dev);
  b.jp_dev = nullptr;
  check_or_exit(L::kName, check_line::kForceAllocJ,
                rt::malloc_device(reinterpret_cast<void**>(&b.jp_dev), needed * sizeof(Pred)));
  b.jp_capacity = needed;
}

template <class L>
void allocate_pass_buffers(ForceBuffers<L>& b) {
  using Pred = typename L::Order::Predictor;
  using Rec = typename L::Order::ForceDev;
  namespace line = check_line;
  const std::size_t partial_bytes = static_cast<std::size_t>(NIMAX) * NSLICE * sizeof(Rec);
  check_or_exit(L::kName, line::kForceAllocI,
                rt::malloc_device(reinterpret_cast<void**>(&b.ip_dev), NIMAX * sizeof(Pred)));
  check_or_exit(L::kName, line::kForceAllocPartial,
                rt::malloc_device(reinterpret_cast<void**>(&b.fo_dev), partial_bytes));
  // Columns NJBLOCK..NSLICE-1 are never written and must stay zero.
  check_or_exit(L::kName, line::kForceClearPartial, rt::memset_device(b.fo_dev, 0, partial_bytes));
  check_or_exit(L::kName, line::kForceAllocReduced,
                rt::malloc_device(reinterpret_cast<void**>(&b.fo_reduce), NIMAX * sizeof(Rec)));
  check_or_exit(L::kName, line::kForceAllocStaging,
                rt::malloc_pinned(reinterpret_cast<void**>(&b.fo_host), NIMAX * sizeof(Rec)));
}

// The passes of a force call over j-predictors already where the kernels
// read them: per pass of up to NIMAX i-particles, fill_i(off, n) puts the
// i-predictors off .. off + n - 1 into b.ip_dev, then the interaction
// kernel `gravity` (over the pair step Term) and the reduction run and the
// results come back into force[off ..]. Term is the order or a form of its
// pair step with the same records (self_excluded.h).
template <class L, class Term, class Gravity, class FillI>
void force_passes(int ni, int nj, const typename L::Order::Predictor* jp, Gravity gravity,
                  FillI fill_i, typename L::Order::Force* force, float eps2, double* ip_time,
                  double* fo_time) {
  using O = typename L::Order;
  using Rec = typename O::ForceDev;
  namespace line = check_line;
  ForceBuffers<L>& b = force_buffers<L>();
  const rt::Dim3 block{NTHREAD, 1, 1};
  for (int off = 0; off < ni; off += NIMAX) {
    const int n = ni - off < NIMAX ? ni - off : NIMAX;
    const double t0 = wtime();
    fill_i(off, n);
    *ip_time = (wtime() - t0) + *ip_time;

    const rt::Dim3 gravity_grid{static_cast<unsigned>((n - 1) / NTHREAD + 1), NJBLOCK, 1};
    const rt::Dim3 reduce_grid{static_cast<unsigned>((n - 1) / 4 + 1), 1, 1};
    // The host may run a small pass as one sweep into fo_reduce, with the
    // kernels' bits; both launches are checked all the same.
    const bool swept = rt::sweeps_pass<Term>(n);
    // A refused launch leaves the partial sums of an earlier pass in fo_dev;
    // they must never come back as results.
    check_or_exit(
        L::kName, line::kForceLaunchGravity,
        swept ? rt::admit(gravity, gravity_grid, block)
              : rt::launch(gravity, gravity_grid, block, n, nj, b.ip_dev, jp, b.fo_dev, eps2));
    if (L::kLineGravityWait != 0)
      check_and_report(L::kName, L::kLineGravityWait, rt::synchronize());
    check_or_exit(L::kName, line::kForceLaunchReduce,
                  swept ? rt::admit(L::reduce, reduce_grid, block)
                        : rt::launch(L::reduce, reduce_grid, block, b.fo_dev, b.fo_reduce));
    if (swept) rt::sweep_pass<Term>(n, nj, b.ip_dev, jp, b.fo_reduce, eps2);
    if (L::kLineReduceWait != 0) {
      check_and_report(L::kName, L::kLineReduceWait, rt::synchronize());
    } else {
      rt::synchronize();
    }

    const double t2 = wtime();
    check_or_exit(
        L::kName, line::kForceCopyBack,
        rt::copy_to_host(b.fo_host, b.fo_reduce, static_cast<std::size_t>(n) * sizeof(Rec)));
    *fo_time = (wtime() - t2) + *fo_time;
    for (int k = 0; k < n; ++k) O::to_force(b.fo_host[k], force[off + k]);
  }
}

template <class L>
void compute_force(int ni, int nj, const typename L::Order::Predictor* ipred,
                   const typename L::Order::Predictor* jpred, typename L::Order::Force* force,
                   float eps2, double* jp_stamp, double* ip_time, double* fo_time) {
  using O = typename L::Order;
  using Pred = typename O::Predictor;
  namespace line = check_line;
  if (nj < 0) {
    char text[96];
    std::snprintf(text, sizeof text, "invalid argument: calc_force needs nj >= 0 (nj = %d)", nj);
    report_error(L::kName, line::kForceArgs, text);
    return;
  }
  ForceBuffers<L>& b = force_buffers<L>();
  reserve_j(b, nj);
  if (b.ip_dev == nullptr) allocate_pass_buffers(b);

  // The device gets its own copy of the j-predictors; the host backend reads
  // the caller's array in place.
  const void* jp_kernel = nullptr;
  check_or_exit(
      L::kName, line::kForceCopyJ,
      rt::use_input(b.jp_dev, jpred, static_cast<std::size_t>(nj) * sizeof(Pred), &jp_kernel));
  const Pred* jp = static_cast<const Pred*>(jp_kernel);
  *jp_stamp = wtime();

  force_passes<L, O>(
      ni, nj, jp, L::gravity,
      [&](int off, int n) {
        check_or_exit(
            L::kName, line::kForceCopyI,
            rt::copy_to_device(b.ip_dev, ipred + off, static_cast<std::size_t>(n) * sizeof(Pred)));
      },
      force, eps2, ip_time, fo_time);
  rt::release_input();
}

}  // namespace nbf
