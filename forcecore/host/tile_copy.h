// The tile copies of the host executor. A copy into a block's shared array
// is recorded and made only when something other than the pair phase needs
// the shared bytes; until then the pair phase reads the copy's source. A
// source that is an input read in place (the caller's own array) may end
// before the tile does: only its readable part is copied, and the rest of
// the tile is zero-filled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace nbf {

// An input array that kernels read in place: reads stop at `end`.
struct InputRegion {
  const unsigned char* begin;
  const unsigned char* end;
};

// How many of `bytes` from src may be read: all of them, unless src lies in
// the input region, which ends sooner.
inline std::size_t readable_bytes(const void* src, std::size_t bytes, InputRegion in) {
  const auto* s = static_cast<const unsigned char*>(src);
  if (in.begin == nullptr || s < in.begin || s >= in.end) return bytes;
  const auto left = static_cast<std::size_t>(in.end - s);
  return left < bytes ? left : bytes;
}

struct TileCopy {
  unsigned char* dst = nullptr;
  const unsigned char* src = nullptr;
  std::size_t bytes = 0;     // 0: no copy pending
  std::size_t readable = 0;  // bytes of src that may be read

  bool pending() const { return bytes != 0; }

  // Makes the copy: the readable bytes, then zeros.
  void make() {
    if (bytes == 0) return;
    std::memcpy(dst, src, readable);
    if (readable < bytes) std::memset(dst + readable, 0, bytes - readable);
    bytes = 0;
  }

  // Where the `len` bytes that the copy puts at `at` can be read before it
  // is made: in the source when they lie in the pending copy, else at `at`.
  const void* source_of(const void* at, std::size_t len) const {
    // Compared as addresses: `at` need not point into dst, and no pointer
    // past either buffer is formed.
    const auto a = reinterpret_cast<std::uintptr_t>(at);
    const auto d = reinterpret_cast<std::uintptr_t>(dst);
    if (bytes != 0 && a >= d && a - d <= bytes && len <= bytes - (a - d)) return src + (a - d);
    return at;
  }
};

}  // namespace nbf
