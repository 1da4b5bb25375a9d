// The host backend of the runtime layer: memory is 64-byte aligned heap
// memory, copies are memcpy, kernels run on the host executor. Every call
// passes through a seam where tests can make it fail with a chosen code.
#include <omp.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "forcecore/host/executor_host.h"
#include "forcecore/host/host_control.h"
#include "forcecore/runtime.h"

namespace nbf::host {
namespace {

struct PendingFailure {
  int countdown;
  rt::Status status;
};

struct State {
  std::vector<PendingFailure> failures[static_cast<int>(Call::kCount)];
  int device_count = 1;
  int device = 0;
  ExecutionMode mode{false, false, Fanout::measured, false};
  InputRegion input{nullptr, nullptr};
  bool swept = false;
  std::vector<std::pair<std::string, const void*>> kernels;
};

State& state() {
  static State s;
  return s;
}

rt::Status before_call(Call call) {
  auto& pending = state().failures[static_cast<int>(call)];
  for (std::size_t k = 0; k < pending.size(); ++k) {
    if (--pending[k].countdown == 0) {
      const rt::Status status = pending[k].status;
      pending.erase(pending.begin() + static_cast<long>(k));
      for (std::size_t r = k; r < pending.size(); ++r) --pending[r].countdown;
      return status;
    }
  }
  return rt::kSuccess;
}

bool is_registered(const void* kernel) {
  for (const auto& entry : state().kernels)
    if (entry.second == kernel) return true;
  return false;
}

// Copies are made by the calling thread: the largest left, the i-predictors
// and results of one pass, take well under a millisecond, less than waking
// a team would cost on a busy machine.
void copy_bytes(void* dst, const void* src, std::size_t bytes) {
  if (bytes != 0) std::memcpy(dst, src, bytes);
}

rt::Status allocate(Call call, void** ptr, std::size_t bytes) {
  if (ptr == nullptr) return kInvalidValue;
  if (const rt::Status s = before_call(call)) return s;
  const std::size_t rounded = (bytes + 63) / 64 * 64;
  void* p = std::aligned_alloc(64, rounded == 0 ? 64 : rounded);
  if (p == nullptr) return kOutOfMemory;
  // Zeroed, so that no kernel ever reads indeterminate bytes on the host.
  std::memset(p, 0, rounded == 0 ? 64 : rounded);
  *ptr = p;
  return rt::kSuccess;
}

}  // namespace

void fail_call(Call call, int nth, rt::Status status) {
  state().failures[static_cast<int>(call)].push_back({nth, status});
}

void clear_failures() {
  for (auto& pending : state().failures) pending.clear();
}

void set_device_count(int count) {
  state().device_count = count;
  state().device = 0;
}

int current_device() { return state().device; }

void set_thread_order(ThreadOrder order) { state().mode.reversed = order == ThreadOrder::reversed; }

void set_executor(Executor executor) { state().mode.plain = executor == Executor::plain; }

void set_prediction(Prediction prediction) {
  state().mode.plain_prediction = prediction == Prediction::plain;
}

void set_fanout(Fanout fanout) { state().mode.fanout = fanout; }

ExecutionMode execution_mode() { return state().mode; }

InputRegion input_region() { return state().input; }

void note_pass_swept(bool swept) { state().swept = swept; }

bool last_pass_swept() { return state().swept; }

std::vector<std::string> registered_kernels() {
  std::vector<std::string> names;
  for (const auto& entry : state().kernels) names.push_back(entry.first);
  return names;
}

KernelRegistration::KernelRegistration(bool active, std::initializer_list<Entry> kernels) {
  if (!active) return;
  for (const Entry& k : kernels) state().kernels.emplace_back(k.name, k.kernel);
  std::atexit([] { state().kernels.clear(); });
}

rt::Status begin_launch(const void* kernel, rt::Dim3 grid, rt::Dim3 block) {
  if (const rt::Status s = before_call(Call::launch)) return s;
  if (!is_registered(kernel)) return kInvalidDeviceFunction;
  if (block.x != NTHREAD || block.y != 1 || block.z != 1) return kInvalidConfiguration;
  if (grid.x == 0 || grid.y == 0 || grid.z == 0) return kInvalidConfiguration;
  return rt::kSuccess;
}

}  // namespace nbf::host

namespace nbf::rt {

using host::before_call;
using host::Call;

Status malloc_device(void** ptr, std::size_t bytes) {
  return host::allocate(Call::malloc_device, ptr, bytes);
}
Status malloc_pinned(void** ptr, std::size_t bytes) {
  return host::allocate(Call::malloc_pinned, ptr, bytes);
}
Status free_device(void* ptr) {
  std::free(ptr);
  return kSuccess;
}
Status free_pinned(void* ptr) {
  std::free(ptr);
  return kSuccess;
}
Status memset_device(void* ptr, int value, std::size_t bytes) {
  if (const Status s = before_call(Call::memset_device)) return s;
  std::memset(ptr, value, bytes);
  return kSuccess;
}
Status copy_to_device(void* dst, const void* src, std::size_t bytes) {
  if (const Status s = before_call(Call::copy_to_device)) return s;
  host::copy_bytes(dst, src, bytes);
  return kSuccess;
}
Status copy_to_host(void* dst, const void* src, std::size_t bytes) {
  if (const Status s = before_call(Call::copy_to_host)) return s;
  host::copy_bytes(dst, src, bytes);
  return kSuccess;
}
Status use_input(void*, const void* src, std::size_t bytes, const void** kernel_ptr) {
  if (const Status s = before_call(Call::copy_to_device)) return s;
  const auto* begin = static_cast<const unsigned char*>(src);
  host::state().input = {begin, begin + bytes};
  *kernel_ptr = src;
  return kSuccess;
}
void release_input() { host::state().input = {nullptr, nullptr}; }
Status synchronize() { return before_call(Call::synchronize); }

Status device_count(int* count) {
  if (const Status s = before_call(Call::device_count)) return s;
  *count = host::state().device_count;
  return kSuccess;
}

Status set_device(int device) {
  if (const Status s = before_call(Call::set_device)) return s;
  if (device < 0 || device >= host::state().device_count) return host::kInvalidDevice;
  host::state().device = device;
  return kSuccess;
}

Status device_name(int device, char* name, std::size_t size) {
  if (const Status s = before_call(Call::device_properties)) return s;
  if (device < 0 || device >= host::state().device_count) return host::kInvalidDevice;
  std::snprintf(name, size, "Host executor %d (%d threads)", device, omp_get_max_threads());
  return kSuccess;
}

Status prefer_shared(const void* kernel) {
  return host::is_registered(kernel) ? kSuccess : host::kInvalidDeviceFunction;
}

const char* error_text(Status status) {
  switch (status) {
    case kSuccess:
      return "no error";
    case host::kInvalidValue:
      return "invalid argument";
    case host::kOutOfMemory:
      return "out of memory";
    case host::kInvalidConfiguration:
      return "invalid configuration argument";
    case host::kInvalidDeviceFunction:
      return "invalid device function";
    case host::kNoDevice:
      return "no host device is available";
    case host::kInvalidDevice:
      return "invalid device ordinal";
    case host::kLaunchFailure:
      return "unspecified launch failure";
    default:
      return "unknown error";
  }
}

}  // namespace nbf::rt
