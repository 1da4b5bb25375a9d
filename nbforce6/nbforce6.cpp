// nbforce6: kernels, binding and drivers of the sixth-order library. The
// same source builds the CUDA library (through nbforce6_cuda.cu) and the
// host library.
#include "forcecore/library/library.h"
#include "nbforce6/order6.h"

NBF_DEFINE_KERNELS(nbf::Order6, h6_gravity)

namespace {

struct Library {
  using Order = nbf::Order6;
  static constexpr const char* kName = "nbforce6";
  static constexpr int kLineDeviceCount = 461;
  static constexpr int kLineSetDevice = 463;
  static constexpr int kLineProperties = 465;
  // This library waits for the device after each kernel and reports a
  // failed wait, then carries on.
  static constexpr int kLinePotWait = 447;
  static constexpr int kLineGravityWait = 345;
  static constexpr int kLineReduceWait = 351;
  static constexpr auto gravity = &h6_gravity;
  static constexpr auto gravity_excluded = &gravity_excluded_kernel;
  static constexpr auto reduce = &reduce_kernel;
  static constexpr auto pot = &pot_kernel;
};

}  // namespace

NBF_DEFINE_ENTRY_POINTS(Library)
