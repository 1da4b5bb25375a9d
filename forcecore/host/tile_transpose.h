// A tile of records turned into columns, one per record word, so that the
// words of consecutive records load as one lane vector.
#pragma once

#include <cstddef>
#include <cstring>

#include "forcecore/host/lanes.h"
#include "forcecore/host/record_words.h"
#include "nbforce_common.h"

namespace nbf {

// columns[w][k] is word w of record k. The kLanes columns past the last
// record give the vector loads that start near the end a defined value.
struct TileColumns {
  alignas(64) float word[kMaxRecordWords][NTHREAD + kLanes];
};

// Records [0, lim) of `src` into `out`, four records and one 16-byte unit
// at a time; the columns of records lim up to lim + kLanes are zero. Only
// the lim records are read: the tile may end where readable memory ends.
template <class Record>
void transpose_tile(const Record* src, int lim, TileColumns& out) {
  typedef float Quad __attribute__((vector_size(16)));
  constexpr int kUnits = static_cast<int>(sizeof(Record) / 16);
  static_assert(sizeof(Record) % 16 == 0 && 4 * kUnits <= kMaxRecordWords, "record shape");
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(src);
  for (int k = 0; k < lim; k += 4)
    for (int u = 0; u < kUnits; ++u) {
      Quad r[4] = {};
      const int count = lim - k < 4 ? lim - k : 4;
      if (count == 4) {
        for (int q = 0; q < 4; ++q)
          std::memcpy(&r[q], bytes + (static_cast<std::size_t>(k + q) * kUnits + u) * 16, 16);
      } else {
        for (int q = 0; q < count; ++q)
          std::memcpy(&r[q], bytes + (static_cast<std::size_t>(k + q) * kUnits + u) * 16, 16);
      }
      const Quad lo01 = __builtin_shufflevector(r[0], r[1], 0, 4, 1, 5);
      const Quad hi01 = __builtin_shufflevector(r[0], r[1], 2, 6, 3, 7);
      const Quad lo23 = __builtin_shufflevector(r[2], r[3], 0, 4, 1, 5);
      const Quad hi23 = __builtin_shufflevector(r[2], r[3], 2, 6, 3, 7);
      const Quad w0 = __builtin_shufflevector(lo01, lo23, 0, 1, 4, 5);
      const Quad w1 = __builtin_shufflevector(lo01, lo23, 2, 3, 6, 7);
      const Quad w2 = __builtin_shufflevector(hi01, hi23, 0, 1, 4, 5);
      const Quad w3 = __builtin_shufflevector(hi01, hi23, 2, 3, 6, 7);
      std::memcpy(&out.word[4 * u + 0][k], &w0, 16);
      std::memcpy(&out.word[4 * u + 1][k], &w1, 16);
      std::memcpy(&out.word[4 * u + 2][k], &w2, 16);
      std::memcpy(&out.word[4 * u + 3][k], &w3, 16);
    }
  const int end = (lim + 3) / 4 * 4;
  for (int w = 0; w < 4 * kUnits; ++w) std::memset(&out.word[w][end], 0, kLanes * sizeof(float));
}

}  // namespace nbf
