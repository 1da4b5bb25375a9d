// nbforce8: kernels, binding and drivers of the eighth-order library. The
// same source builds the CUDA library (through nbforce8_cuda.cu) and the
// host library.
#include "forcecore/library/library.h"
#include "nbforce8/order8.h"

NBF_DEFINE_KERNELS(nbf::Order8, h8_gravity)

namespace {

struct Library {
  using Order = nbf::Order8;
  static constexpr const char* kName = "nbforce8";
  static constexpr int kLineDeviceCount = 475;
  static constexpr int kLineSetDevice = 477;
  static constexpr int kLineProperties = 479;
  static constexpr int kLinePotWait = 0;  // no report-only waits
  static constexpr int kLineGravityWait = 0;
  static constexpr int kLineReduceWait = 0;
  static constexpr auto gravity = &h8_gravity;
  static constexpr auto gravity_excluded = &gravity_excluded_kernel;
  static constexpr auto reduce = &reduce_kernel;
  static constexpr auto pot = &pot_kernel;
};

}  // namespace

NBF_DEFINE_ENTRY_POINTS(Library)
