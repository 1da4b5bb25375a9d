// The runtime layer the drivers are written against: memory, copies,
// synchronisation, device selection and error text. One implementation maps
// each call onto the CUDA runtime, the other runs everything on the host.
// Kernel launches live in launch.h, since their form differs per backend.
#pragma once

#include <cstddef>

namespace nbf::rt {

// 0 is success; any other value is a backend error code, named by error_text.
using Status = int;
constexpr Status kSuccess = 0;

struct Dim3 {
  unsigned x = 1, y = 1, z = 1;
};

Status malloc_device(void** ptr, std::size_t bytes);
Status malloc_pinned(void** ptr, std::size_t bytes);
Status free_device(void* ptr);
Status free_pinned(void* ptr);
Status memset_device(void* ptr, int value, std::size_t bytes);
Status copy_to_device(void* dst, const void* src, std::size_t bytes);
Status copy_to_host(void* dst, const void* src, std::size_t bytes);
// Makes `bytes` at host address `src` an input of the kernels that follow,
// and sets *kernel_ptr to the address they are to read it at. The device
// backend copies it into `dst`, which has room for what the kernels' tile
// loads read past the end. The host backend reads `src` in place: its tile
// loads stop at the end of the array, so they stay inside the caller's
// memory. On the host the array is an input until release_input().
Status use_input(void* dst, const void* src, std::size_t bytes, const void** kernel_ptr);
void release_input();
Status synchronize();
Status device_count(int* count);
Status set_device(int device);
// Copies the device's name, NUL-terminated, into name[0 .. size-1].
Status device_name(int device, char* name, std::size_t size);
// Asks that the kernel prefer on-chip shared memory over first-level cache.
Status prefer_shared(const void* kernel);
const char* error_text(Status status);

}  // namespace nbf::rt
