// The CUDA backend of the runtime layer: each call maps onto the CUDA
// runtime call of the same meaning on the default stream.
#include <cuda_runtime.h>
#include <cstring>

#include "forcecore/runtime.h"

namespace nbf::rt {

namespace {
// Every call hands its status back to the caller, so a failure must not also
// stay behind as the thread's last error: callers ignore some results (the
// cache preferences, the frees), and the check after a kernel launch reads
// the last error and would report such a stale failure as its own.
Status status(cudaError_t e) {
  if (e != cudaSuccess) cudaGetLastError();
  return static_cast<Status>(e);
}
}  // namespace

Status malloc_device(void** ptr, std::size_t bytes) { return status(cudaMalloc(ptr, bytes)); }
Status malloc_pinned(void** ptr, std::size_t bytes) { return status(cudaMallocHost(ptr, bytes)); }
Status free_device(void* ptr) { return status(cudaFree(ptr)); }
Status free_pinned(void* ptr) { return status(cudaFreeHost(ptr)); }
Status memset_device(void* ptr, int value, std::size_t bytes) {
  return status(cudaMemset(ptr, value, bytes));
}
Status copy_to_device(void* dst, const void* src, std::size_t bytes) {
  return status(cudaMemcpy(dst, src, bytes, cudaMemcpyHostToDevice));
}
Status copy_to_host(void* dst, const void* src, std::size_t bytes) {
  return status(cudaMemcpy(dst, src, bytes, cudaMemcpyDeviceToHost));
}
Status use_input(void* dst, const void* src, std::size_t bytes, const void** kernel_ptr) {
  *kernel_ptr = dst;
  return copy_to_device(dst, src, bytes);
}
void release_input() {}
Status synchronize() { return status(cudaDeviceSynchronize()); }
Status device_count(int* count) { return status(cudaGetDeviceCount(count)); }
Status set_device(int device) { return status(cudaSetDevice(device)); }
Status device_name(int device, char* name, std::size_t size) {
  cudaDeviceProp prop;
  const cudaError_t e = cudaGetDeviceProperties(&prop, device);
  if (e == cudaSuccess && size > 0) {
    std::strncpy(name, prop.name, size - 1);
    name[size - 1] = '\0';
  }
  return status(e);
}
Status prefer_shared(const void* kernel) {
  return status(cudaFuncSetCacheConfig(kernel, cudaFuncCachePreferShared));
}
const char* error_text(Status s) { return cudaGetErrorString(static_cast<cudaError_t>(s)); }

}  // namespace nbf::rt
