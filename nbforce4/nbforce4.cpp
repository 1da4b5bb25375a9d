// nbforce4: kernels, binding and drivers of the fourth-order library. The
// same source builds the CUDA library (through nbforce4_cuda.cu) and the
// host library.
#include "forcecore/library/library.h"
#include "nbforce4/order4.h"

NBF_DEFINE_KERNELS(nbf::Order4, h4_gravity)

namespace {

struct Library {
  using Order = nbf::Order4;
  static constexpr const char* kName = "nbforce4";
  static constexpr int kLineDeviceCount = 437;
  static constexpr int kLineSetDevice = 439;
  static constexpr int kLineProperties = 441;
  static constexpr int kLinePotWait = 0;  // no report-only waits
  static constexpr int kLineGravityWait = 0;
  static constexpr int kLineReduceWait = 0;
  static constexpr auto gravity = &h4_gravity;
  static constexpr auto gravity_excluded = &gravity_excluded_kernel;
  static constexpr auto reduce = &reduce_kernel;
  static constexpr auto pot = &pot_kernel;
};

}  // namespace

NBF_DEFINE_ENTRY_POINTS(Library)
