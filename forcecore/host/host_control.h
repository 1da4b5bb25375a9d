// Controls of the host backend, for tests and benchmarks: failure injection,
// emulated devices, the thread order and executor of each block, and the
// registry of the library's kernels.
#pragma once

#include <string>
#include <vector>

#include "forcecore/runtime.h"

namespace nbf::host {

enum class Call {
  device_count,
  set_device,
  device_properties,
  malloc_device,
  malloc_pinned,
  memset_device,
  copy_to_device,
  copy_to_host,
  synchronize,
  launch,
  kCount
};

// The nth call of `call` from now on (1 = the next one) returns `status`
// without doing anything.
void fail_call(Call call, int nth, rt::Status status);
void clear_failures();

// Number of devices the backend reports (default 1); 0 emulates a runtime
// that reports success with no device.
void set_device_count(int count);
int current_device();

enum class ThreadOrder { forward, reversed };
void set_thread_order(ThreadOrder order);

// lanes: threads run kLanes at a time in vectors (the default);
// plain: one thread at a time, the plainest execution of the kernels.
enum class Executor { lanes, plain };
void set_executor(Executor executor);

// How the resident particles' sources are predicted: lanes: kDoubleLanes
// slots at a time (forcecore/host/predict_lanes.h, the default); plain: one
// slot at a time by the scalar predictor, the reference of the lanes.
enum class Prediction { lanes, plain };
void set_prediction(Prediction prediction);

// How many threads run a grid's blocks (see block_team.h).
enum class Fanout {
  measured,  // the calling thread, and helpers as the first block's time asks for
  always,    // every thread the OpenMP limit allows, for tests of the team
  never,     // the calling thread alone
};
void set_fanout(Fanout fanout);

// Whether the last pass of calc_force ran as one sweep of the host (a pass
// of few i-particles with the default executor) rather than block by block.
bool last_pass_swept();

// Kernels registered at process start, in registration order.
std::vector<std::string> registered_kernels();

// Error codes of the host backend.
enum Error : rt::Status {
  kInvalidValue = 1,
  kOutOfMemory = 2,
  kInvalidConfiguration = 9,
  kInvalidDeviceFunction = 98,
  kNoDevice = 100,
  kInvalidDevice = 101,
  kLaunchFailure = 719,
};

// Registers a library's kernels under their names when constructed (at
// process start) and undoes it at process exit. An inactive registration
// (an instruction-set variant not chosen on this CPU) registers nothing.
struct KernelRegistration {
  struct Entry {
    const char* name;
    const void* kernel;
  };
  KernelRegistration(bool active, std::initializer_list<Entry> kernels);
};

}  // namespace nbf::host
