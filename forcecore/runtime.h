// The runtime layer the drivers are written against: memory, copies,
// synchronisation, device selection and error text. One implementation maps
// each call onto the CUDA runtime, the other runs everything on the host.
// Kernel launches live in launch.h, since their form differs per backend.
#pragma once

#include <cstddef>

namespace nbf::rt {

// 0 is success; any other value is a backend error code, named by error_text.
using Status = int;
inline constexpr Status kSuccess = 0;

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
Status synchronize();
Status device_count(int* count);
Status set_device(int device);
// Copies the device's name, NUL-terminated, into name[0 .. size-1].
Status device_name(int device, char* name, std::size_t size);
// Asks that the kernel prefer on-chip shared memory over first-level cache.
Status prefer_shared(const void* kernel);
const char* error_text(Status status);

}  // namespace nbf::rt
