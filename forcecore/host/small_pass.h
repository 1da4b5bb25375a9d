// A pass of few i-particles on the host, run as one sweep that gives the bits
// of the interaction and reduction kernels.
//
// With n <= kSmallPassMaxI i-particles the interaction kernel has one i-block
// per j-slice, and the block shares each i-particle among jsplit = NTHREAD /
// ni_block threads (split.h). Run block by block, such a pass costs far more
// than its n * nj pair terms: each of the NJBLOCK blocks loads and gathers
// its threads, merges up to jsplit - 1 partial records one at a time, and the
// reduction runs 128 threads per four rows. The sweep does the same
// operations in the same order with one lane per j-slice:
//   - row p of slice group q holds, in lane l, record js + p of slice
//     q * kLanes + l, in the pair step's Body form;
//   - accumulator (i, g) holds, in lane l, the sums of the thread that has
//     i-particle i and j-share g in that slice: terms js + g, js + g + jsplit,
//     ..., each lane in its thread's order;
//   - the block's merge (share g += share g + h, h = jsplit / 2 ... 1) and the
//     reduction's tree over the NSLICE columns (c += c + h) are operations on
//     whole accumulators, or on one shifted down by h lanes.
// Lanes of slices NJBLOCK .. NSLICE - 1, the reduction's zero columns, read
// the records of a live slice, and their sums are set to zero before the
// column tree. Lanes past the end of a shorter slice read a zero record and
// keep their sums (a select), as its threads do no pair step there.
//
// The sweep is shared among the block team by slice group and by the residue
// of the j-share modulo S: shares g = s (mod S) read rows p = s (mod S) only,
// so no row is transposed twice. Merge levels h >= S stay within an item; the
// last log2(S) levels run after the items, in the caller.
#pragma once

#include <omp.h>

#include <climits>
#include <cstring>
#include <utility>

#include "forcecore/host/block_team.h"
#include "forcecore/host/executor_host.h"
#include "forcecore/host/lane_records.h"
#include "forcecore/host/record_words.h"
#include "forcecore/split.h"
#include "nbforce_common.h"

namespace nbf::host {

// Passes of at most this many i-particles take the sweep: at most one
// i-block, whose i-particles each have two or more j-shares.
constexpr int kSmallPassMaxI = NTHREAD / 2;

static_assert(NSLICE % kLanes == 0 && NJBLOCK <= NSLICE, "slice lanes");
// Slice groups that hold a live slice; the rest are zero columns only.
constexpr int kLiveGroups = (NJBLOCK + kLanes - 1) / kLanes;
constexpr int kSliceGroups = NSLICE / kLanes;

// Rows of a slice that an item of a long pass keeps at least.
constexpr int kItemRows = 128;

template <class O>
struct SmallPass {
  using Pred = typename O::Predictor;
  using BodyL = typename O::template Body<Lanes>;
  using AccL = typename O::template Acc<Lanes>;

  int n;
  int nj;
  const Pred* ip;
  const Pred* jp;
  float eps2;
  int jsplit;  // threads sharing an i-particle, as in the kernel
  int items;   // per slice group: S
  int shares;  // j-shares per item: jsplit / S
  AccL* sums;  // item b's accumulators at sums + b * n * shares, i-major
};

// Rows transposed at a time, on the stack (at most 32 KiB): consecutive
// rows, read in the order the records lie, and several rows per share, over
// which a share's sums stay in registers. A function, not a static member:
// the per-instruction-set builds (-fno-weak) cannot share constant data.
template <class O>
constexpr int sweep_rows() {
  constexpr int fit = static_cast<int>(32768 / sizeof(typename O::template Body<Lanes>));
  return fit >= 128 ? 128 : fit >= 64 ? 64 : fit >= 32 ? 32 : 16;
}

// Whether this pass takes the sweep: the default executor only (the plain
// and reversed ones are the references it is tested against), a record whose
// Body words are plain record words, and enough items for the threads.
template <class O>
bool small_pass_fits(int n) {
  const ExecutionMode mode = execution_mode();
  if (mode.plain || mode.reversed || n < 1 || n > kSmallPassMaxI) return false;
  if (!record_words<O>().direct) return false;
  const int items = kLiveGroups * split_for(n).jsplit;
  return mode.fanout == Fanout::never || omp_get_max_threads() <= items;
}

// Shuffles of a row's transposition. Segment t (4 lanes) of vector c holds
// a 16-byte unit of the record of lane 4 t + c; the shuffles work within
// segments, as a 4 x 4 transpose in each.
#if defined(__AVX512F__)
#define NBF_SEGMENTS(a, b, c, d) \
  a, b, c, d, a + 4, b + 4, c + 4, d + 4, a + 8, b + 8, c + 8, d + 8, a + 12, b + 12, c + 12, d + 12
#define NBF_PAIR_LO NBF_SEGMENTS(0, 16, 1, 17)
#define NBF_PAIR_HI NBF_SEGMENTS(2, 18, 3, 19)
#define NBF_HALF_LO NBF_SEGMENTS(0, 1, 16, 17)
#define NBF_HALF_HI NBF_SEGMENTS(2, 3, 18, 19)
#elif defined(__AVX__)
#define NBF_SEGMENTS(a, b, c, d) a, b, c, d, a + 4, b + 4, c + 4, d + 4
#define NBF_PAIR_LO NBF_SEGMENTS(0, 8, 1, 9)
#define NBF_PAIR_HI NBF_SEGMENTS(2, 10, 3, 11)
#define NBF_HALF_LO NBF_SEGMENTS(0, 1, 8, 9)
#define NBF_HALF_HI NBF_SEGMENTS(2, 3, 10, 11)
#else
#define NBF_PAIR_LO 0, 4, 1, 5
#define NBF_PAIR_HI 2, 6, 3, 7
#define NBF_HALF_LO 0, 1, 4, 5
#define NBF_HALF_HI 2, 3, 6, 7
#endif

// The Body word that each record word becomes, -1 for none (record_words()
// read the other way). Every Body word is some record word's: the sweep runs
// only where the map is direct.
template <class O>
const int* body_word_of() {
  static const struct Inverse {
    int word[RecordWords<O>::kRecord];
    Inverse() {
      for (int& w : word) w = -1;
      const RecordWords<O>& map = record_words<O>();
      for (int b = 0; b < RecordWords<O>::kBody; ++b)
        if (map.word[b] >= 0) word[map.word[b]] = b;
    }
  } inverse;
  return inverse.word;
}

// Lanes 4 t .. 4 t + 3 from the 16 bytes at offset `at` of record rec[4 t],
// joined in registers: a vector load of parts just stored would wait for
// the stores.
template <int W, class Pred>
NBF_DEV auto unit_lanes(const Pred* const* rec, int at) {
  typedef float Quad __attribute__((vector_size(16)));
  if constexpr (W == 4) {
    Quad q;
    std::memcpy(&q, reinterpret_cast<const unsigned char*>(rec[0]) + at, 16);
    return q;
  } else {
    const auto lo = unit_lanes<W / 2>(rec, at);
    const auto hi = unit_lanes<W / 2>(rec + W / 2, at);
    if constexpr (W == 8) {
      return __builtin_shufflevector(lo, hi, 0, 1, 2, 3, 4, 5, 6, 7);
    } else {
      return __builtin_shufflevector(lo, hi, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    }
  }
}

// One row into `row`: lane l from the record at rec[l] (a zero record where
// the lane has none). Each 16-byte unit of the records is turned into four
// record words at once.
template <class O>
NBF_DEV void load_row(typename SmallPass<O>::BodyL& row, const typename O::Predictor* const* rec,
                      const int* into) {
  using Pred = typename O::Predictor;
  constexpr int kUnits = static_cast<int>(sizeof(Pred) / 16);
  Lanes* out = reinterpret_cast<Lanes*>(&row);
  for (int u = 0; u < kUnits; ++u) {
    Lanes r[4];
    for (int c = 0; c < 4; ++c) r[c] = unit_lanes<kLanes>(rec + c, 16 * u);
    const Lanes lo01 = __builtin_shufflevector(r[0], r[1], NBF_PAIR_LO);
    const Lanes hi01 = __builtin_shufflevector(r[0], r[1], NBF_PAIR_HI);
    const Lanes lo23 = __builtin_shufflevector(r[2], r[3], NBF_PAIR_LO);
    const Lanes hi23 = __builtin_shufflevector(r[2], r[3], NBF_PAIR_HI);
    const Lanes w[4] = {__builtin_shufflevector(lo01, lo23, NBF_HALF_LO),
                        __builtin_shufflevector(lo01, lo23, NBF_HALF_HI),
                        __builtin_shufflevector(hi01, hi23, NBF_HALF_LO),
                        __builtin_shufflevector(hi01, hi23, NBF_HALF_HI)};
    for (int c = 0; c < 4; ++c)
      if (into[4 * u + c] >= 0) out[into[4 * u + c]] = w[c];
  }
}

#undef NBF_SEGMENTS
#undef NBF_PAIR_LO
#undef NBF_PAIR_HI
#undef NBF_HALF_LO
#undef NBF_HALF_HI

// Item b: slice group b / S, j-shares b % S (mod S), every i-particle.
template <class O>
void small_pass_item(const SmallPass<O>& job, long b) {
  using Pred = typename O::Predictor;
  using BodyL = typename O::template Body<Lanes>;
  using AccL = typename O::template Acc<Lanes>;
  constexpr int kRows = sweep_rows<O>();
  const int q = static_cast<int>(b / job.items);
  const int s = static_cast<int>(b % job.items);
  const int stride = job.items;

  // The lanes of zero columns read the records of lane 0 (a live slice);
  // their sums are dropped.
  int first[kLanes], len[kLanes];
  int minlen = INT_MAX, maxlen = 0;
  for (int l = 0; l < kLanes; ++l) {
    const int by = q * kLanes + l < NJBLOCK ? q * kLanes + l : q * kLanes;
    int je;
    slice_bounds(by, job.nj, first[l], je);
    len[l] = je - first[l];
    if (len[l] < minlen) minlen = len[l];
    if (len[l] > maxlen) maxlen = len[l];
  }
  // Rows s + S r of the item; those below the shortest slice need no mask.
  const int rows = maxlen > s ? (maxlen - s + stride - 1) / stride : 0;
  const int full = minlen > s ? (minlen - s + stride - 1) / stride : 0;

  const int shares = job.shares;
  AccL* acc = job.sums + b * job.n * shares;
  const Lanes eps = splat<Lanes>(job.eps2);
  const Pred zero_record{};
  const int* into = body_word_of<O>();
  BodyL chunk[kRows];
  LaneMask live[kRows];
  // Share g reads rows g, g + shares, ... of each chunk; every row is
  // transposed once and met by every i-particle.
  for (int r0 = 0; r0 < rows; r0 += kRows) {
    const int nr = rows - r0 < kRows ? rows - r0 : kRows;
    for (int k = 0; k < nr; ++k) {
      const int p = s + stride * (r0 + k);
      const Pred* rec[kLanes];
      if (r0 + k < full) {
        for (int l = 0; l < kLanes; ++l) rec[l] = job.jp + first[l] + p;
      } else {
        for (int l = 0; l < kLanes; ++l) {
          rec[l] = p < len[l] ? job.jp + first[l] + p : &zero_record;
          live[k][l] = p < len[l] ? -1 : 0;
        }
      }
      load_row<O>(chunk[k], rec, into);
    }
    // Rows of the chunk before `unmasked` need no mask.
    const int unmasked = full - r0 >= nr ? nr : full > r0 ? full - r0 : 0;
    for (int i = 0; i < job.n; ++i) {
      const BodyL me = O::template load<Lanes>(job.ip[i]);
      AccL* a = acc + i * shares;
      for (int g = 0; g < shares; ++g) {
        AccL sum = r0 == 0 ? AccL{} : a[g];
        int k = g;
        for (; k < unmasked; k += shares) O::interaction(me, chunk[k], eps, sum);
        for (; k < nr; k += shares) {
          AccL next = sum;
          O::interaction(me, chunk[k], eps, next);
          select_lanes(live[k], sum, next);
        }
        a[g] = sum;
      }
    }
  }
  // Shares that met no row.
  for (int g = rows < shares ? rows : shares; g < shares; ++g)
    for (int i = 0; i < job.n; ++i) acc[i * shares + g] = AccL{};
  // The block's merge levels h >= S: share g += share g + h.
  for (int h = shares / 2; h >= 1; h /= 2)
    for (int i = 0; i < job.n; ++i)
      for (int g = 0; g < h; ++g) O::add(acc[i * shares + g], acc[i * shares + g + h]);
}

// Lane l of every word of v gets lane l + h; the top h lanes get zero. One
// shuffle per word: index l + h past the last lane reads the zero vector.
template <int H, std::size_t... L>
Lanes lanes_shifted_down(Lanes w, std::index_sequence<L...>) {
  return __builtin_shufflevector(w, Lanes{}, static_cast<int>(L + H)...);
}

template <int H, class SL>
SL shifted_down_by(const SL& v) {
  constexpr int kWords = static_cast<int>(sizeof(SL) / sizeof(Lanes));
  const Lanes* w = reinterpret_cast<const Lanes*>(&v);
  SL r;
  Lanes* out = reinterpret_cast<Lanes*>(&r);
  for (int k = 0; k < kWords; ++k)
    out[k] = lanes_shifted_down<H>(w[k], std::make_index_sequence<kLanes>());
  return r;
}

template <class SL>
SL shifted_down(const SL& v, int h) {
  static_assert(kLanes <= 16, "shifts of up to 8 lanes");
  switch (h) {
    case 1:
      return shifted_down_by<1>(v);
    case 2:
      return shifted_down_by<2>(v);
    case 4:
      if constexpr (kLanes > 4) return shifted_down_by<4>(v);
      break;
    case 8:
      if constexpr (kLanes > 8) return shifted_down_by<8>(v);
      break;
    default:
      break;
  }
  return SL{};  // h >= kLanes: every lane shifted out
}

// The reduced records of the pass's n i-particles into out[0, n), as the
// interaction and reduction kernels leave them in fo_reduce. The caller has
// checked small_pass_fits(n).
template <class O>
void run_small_pass(int n, int nj, const typename O::Predictor* ip, const typename O::Predictor* jp,
                    typename O::ForceDev* out, float eps2) {
  using AccL = typename O::template Acc<Lanes>;
  using AccF = typename O::template Acc<float>;
  // n * jsplit <= NTHREAD accumulators per slice group. Never freed: a call
  // may come at any time until the process ends.
  static AccL* const store = new AccL[kLiveGroups * NTHREAD];

  const Split sp = split_for(n);
  const int threads = execution_mode().fanout == Fanout::never ? 1 : omp_get_max_threads();
  // Items per slice group: a few per thread, so that they balance, and
  // more while each keeps kItemRows rows of a slice. The caller times the
  // first item alone before it wakes helpers (block_team.h), so with long
  // slices smaller items start the helpers sooner.
  const int slice_rows = nj / NJBLOCK;
  int items = 1;
  while (items < sp.jsplit &&
         (kLiveGroups * items < 4 * threads || slice_rows / (2 * items) >= kItemRows))
    items *= 2;
  const SmallPass<O> job{n, nj, ip, jp, eps2, sp.jsplit, items, sp.jsplit / items, store};

  BlockJob team_job;
  team_job.blocks = static_cast<long>(kLiveGroups) * items;
  team_job.run = [](void* ctx, HostBlock&, long b) {
    small_pass_item(*static_cast<const SmallPass<O>*>(ctx), b);
  };
  team_job.ctx = const_cast<SmallPass<O>*>(&job);
  team_job.reversed = false;
  team_job.plain = false;
  team_job.input = input_region();
  run_blocks(team_job, execution_mode().fanout);

  LaneMask zero_column[kSliceGroups];
  for (int q = 0; q < kSliceGroups; ++q)
    for (int l = 0; l < kLanes; ++l) zero_column[q][l] = q * kLanes + l >= NJBLOCK ? -1 : 0;
  const int per_item = n * job.shares;
  for (int i = 0; i < n; ++i) {
    AccL col[kSliceGroups];
    for (int q = 0; q < kSliceGroups; ++q) {
      col[q] = AccL{};
      if (q >= kLiveGroups) continue;
      // The block's last merge levels, h < S, across the group's items.
      AccL* first = store + static_cast<long>(q) * items * per_item + i * job.shares;
      for (int h = items / 2; h >= 1; h /= 2)
        for (int s = 0; s < h; ++s) O::add(first[s * per_item], first[(s + h) * per_item]);
      col[q] = first[0];
      select_lanes(zero_column[q], col[q], AccL{});
    }
    // The reduction's tree over the columns: c += c + h for c < h.
    for (int h = NSLICE / 2; h >= 1; h /= 2) {
      if (h >= kLanes) {
        for (int q = 0; q < h / kLanes; ++q) O::add(col[q], col[q + h / kLanes]);
      } else {
        O::add(col[0], shifted_down(col[0], h));
      }
    }
    AccF sum;
    get_lane(sum, 0, col[0]);
    O::store(sum, out[i]);
  }
}

}  // namespace nbf::host
