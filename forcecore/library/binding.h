// CUDA_MPI_Init: binds the calling thread to device rank % count.
#pragma once

#include <cstdio>

#include "forcecore/error_report.h"
#include "forcecore/runtime.h"

namespace nbf {

template <class L>
void bind_device(int rank) {
  int count = 0;
  check_or_exit(L::kName, L::kLineDeviceCount, rt::device_count(&count));
  // A runtime may report success and no device; the remainder below needs one.
  if (count <= 0) fail(L::kName, L::kLineDeviceCount, "no device found (device count is 0)");
  const int device = rank % count;
  check_or_exit(L::kName, L::kLineSetDevice, rt::set_device(device));
  char name[256] = {};
  check_or_exit(L::kName, L::kLineProperties, rt::device_name(device, name, sizeof name));
  std::printf("Rank %02d : GPU %d : %s\n", rank, device, name);
  // Preferences only: they never stop the binding, and a refused one leaves
  // no error behind for later checks.
  rt::prefer_shared(reinterpret_cast<const void*>(L::gravity));
  rt::prefer_shared(reinterpret_cast<const void*>(L::reduce));
  rt::prefer_shared(reinterpret_cast<const void*>(L::pot));
}

}  // namespace nbf
