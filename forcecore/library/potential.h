// calc_pot: the potential of every particle due to the sources [js, je).
// Buffers live for one call only.
#pragma once

#include <cstdio>

#include "forcecore/check_lines.h"
#include "forcecore/ds.h"
#include "forcecore/error_report.h"
#include "forcecore/library/launch.h"

namespace nbf {

template <class L>
void compute_potential(int n, int js, int je, float eps2, const Posm* posm, double* pot) {
  namespace line = check_line;
  if (n < 0 || js < 0 || js > je || je > n) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "invalid argument: calc_pot needs 0 <= js <= je <= n (n = %d, js = %d, je = %d)",
                  n, js, je);
    report_error(L::kName, line::kPotArgs, text);
    return;
  }
  const std::size_t records = static_cast<std::size_t>(n) + NTHREAD;
  Posm* posm_dev = nullptr;
  float2* pot_dev = nullptr;
  float2* staging = nullptr;
  check_or_exit(L::kName, line::kPotAllocSources,
                rt::malloc_device(reinterpret_cast<void**>(&posm_dev), records * sizeof(Posm)));
  check_or_exit(L::kName, line::kPotAllocSums,
                rt::malloc_device(reinterpret_cast<void**>(&pot_dev), records * sizeof(float2)));
  check_or_exit(L::kName, line::kPotAllocStaging,
                rt::malloc_pinned(reinterpret_cast<void**>(&staging), records * sizeof(float2)));
  check_or_exit(L::kName, line::kPotCopyIn,
                rt::copy_to_device(posm_dev, posm, static_cast<std::size_t>(n) * sizeof(Posm)));

  const rt::Dim3 grid{static_cast<unsigned>((n - 1) / NTHREAD + 1), 1, 1};
  check_or_exit(L::kName, line::kPotLaunch,
                rt::launch(L::pot, grid, rt::Dim3{NTHREAD, 1, 1}, js, je, eps2, posm_dev, pot_dev));
  if (L::kLinePotWait != 0) check_and_report(L::kName, L::kLinePotWait, rt::synchronize());

  check_or_exit(L::kName, line::kPotCopyBack,
                rt::copy_to_host(staging, pot_dev, static_cast<std::size_t>(n) * sizeof(float2)));
  // The device sums m/r; the sign is changed here.
  for (int i = 0; i < n; ++i) pot[i] = -ds_to_double(staging[i]);
  rt::free_device(posm_dev);
  rt::free_device(pot_dev);
  rt::free_pinned(staging);
}

}  // namespace nbf
