// The host's block context: one call of a kernel body runs all 128 threads
// of a block, each phase between two barriers as a loop over the threads.
//
// The pair phase, where the time goes, runs kLanes threads per vector. Each
// thread keeps its own order of operations, that of the scalar code, so the
// bits do not depend on how threads are grouped into vectors. Two things
// make the phase fast:
//   - Lane state. The threads' particles and sums are gathered into vectors
//     at the block's first tile and stay in that form across tiles, the way
//     a thread's registers survive a barrier. They go back to the threads'
//     variables before the block next runs a per-thread phase (each()),
//     which is the only place the kernel can look at them.
//   - Tiles read in place (tile_copy.h). The pair phase reads the records
//     from the tile copy's source; the copy is made only if a per-thread
//     phase runs while it is pending.
// Threads whose i-particle lies past the end of the pass skip the pair work;
// their sums stay zero and are never written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "forcecore/block_context.h"
#include "forcecore/host/lane_records.h"
#include "forcecore/host/lanes.h"
#include "forcecore/host/record_words.h"
#include "forcecore/host/tile_copy.h"
#include "forcecore/host/tile_transpose.h"
#include "forcecore/split.h"

namespace nbf {

constexpr unsigned kMaxSharedBytes = 10240;

// Room for a block's per-thread particles and sums in lane form.
constexpr std::size_t kLaneStateBytes = 24576;

static_assert(16 % kLanes == 0, "a vector of threads must divide a shared i-particle's threads");

// Threads that share one vector in the pair phase. Either every lane reads
// the same tile record (one j-share of several i-particles), or the lanes are
// consecutive j-shares of one i-particle and read consecutive records.
struct LaneGroup {
  int thread[kLanes];  // lanes past `live` repeat a live thread; their results are dropped
  int live;
  int joff;          // j-share of lane 0
  bool consecutive;  // lane l has j-share joff + l
};

struct HostBlock {
  template <class T>
  using Local = Many<T>;

  int bx = 0;
  int by = 0;
  bool reversed = false;  // run the threads of every phase in reverse order
  bool plain = false;     // run the pair phase one thread at a time
  unsigned char* share = nullptr;
  InputRegion input{nullptr, nullptr};  // the array kernels read in place

  HostBlock() = default;
  HostBlock(const HostBlock&) = delete;
  HostBlock& operator=(const HostBlock&) = delete;

  int block_x() const { return bx; }
  int block_y() const { return by; }

  template <unsigned Bytes>
  unsigned char* shared() {
    static_assert(Bytes <= kMaxSharedBytes, "shared array too large");
    return share;
  }

  // Called by the executor before each block: nothing of the last one is
  // carried over.
  void begin_block() {
    held_ = false;
    pending_ = TileCopy{};
  }

  template <class Fn>
  void each(Fn fn) {
    settle();
    if (reversed) {
      for (int t = NTHREAD - 1; t >= 0; --t) fn(t);
    } else {
      for (int t = 0; t < NTHREAD; ++t) fn(t);
    }
  }
  // Only threads whose i-particle lies in the pass: the others' values are
  // never written.
  template <class Fn>
  void each_live(const Split& sp, Fn fn) {
    const int active_i = sp.rem < sp.ni_block ? sp.rem : sp.ni_block;
    if (active_i == sp.ni_block) {
      each(fn);
      return;
    }
    // The live threads are i + g * ni_block for i < active_i.
    settle();
    if (reversed) {
      for (int g = sp.jsplit - 1; g >= 0; --g)
        for (int i = active_i - 1; i >= 0; --i) fn(g * sp.ni_block + i);
    } else {
      for (int g = 0; g < sp.jsplit; ++g)
        for (int i = 0; i < active_i; ++i) fn(g * sp.ni_block + i);
    }
  }
  // Each phase runs to completion before the next starts: the barriers are
  // implicit.
  void sync() {}
  // The shared bytes are written before they are read again: a tile copy
  // still pending need not be made.
  void sync_rewrite() { pending_ = TileCopy{}; }
  void sync_group() {}

  // Copies into shared memory wait until something other than the pair
  // phase needs them; every other copy is made at once.
  void copy_units(void* dst, const void* src, int units) {
    const std::size_t bytes = static_cast<std::size_t>(units) * 16;
    const bool into_share = share_part(dst, bytes) == 2;
    const bool from_share = share_part(src, bytes) != 0;
    if (pending_.pending() && (from_share || !(dst == pending_.dst && bytes >= pending_.bytes)))
      pending_.make();
    TileCopy copy{static_cast<unsigned char*>(dst), static_cast<const unsigned char*>(src), bytes,
                  readable_bytes(src, bytes, input)};
    if (!into_share || from_share || plain) {
      copy.make();
      return;
    }
    pending_ = copy;
  }

  template <class Term, class Body, class Acc>
  void pair_tile(const Split& sp, int lim, Many<Body>& me, Many<Acc>& fo,
                 const typename Term::Predictor* tile, float eps2);

 private:
  // How much of [p, p + bytes) lies in the shared array: 0 none, 1 some,
  // 2 all.
  int share_part(const void* p, std::size_t bytes) const {
    const std::uintptr_t b = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t s = reinterpret_cast<std::uintptr_t>(share);
    if (share == nullptr || b + bytes <= s || b >= s + kMaxSharedBytes) return 0;
    return b >= s && b + bytes <= s + kMaxSharedBytes ? 2 : 1;
  }
  // Shared memory and the threads' variables as the kernel expects them.
  void settle() {
    pending_.make();
    if (held_) {
      flush_(*this);
      held_ = false;
    }
  }

  template <class Term, class Body, class Acc>
  void gather(const Split& sp, Many<Body>& me, Many<Acc>& fo);
  template <class Term, class Body, class Acc>
  static void flush(HostBlock& blk);

  TileCopy pending_;

  // Lane state of the pair phase, valid while held_.
  bool held_ = false;
  const void* held_me_ = nullptr;
  void* held_fo_ = nullptr;
  int held_rem_ = 0;
  void (*flush_)(HostBlock&) = nullptr;
  int groups_ = 0;
  LaneGroup group_[NTHREAD / kLanes];
  // The groups' particles, then their sums; both records are made of Lanes.
  Lanes lane_state_[kLaneStateBytes / sizeof(Lanes)];
  template <class Term>
  typename Term::template Body<Lanes>* lane_bodies() {
    return reinterpret_cast<typename Term::template Body<Lanes>*>(lane_state_);
  }
  template <class Term>
  typename Term::template Acc<Lanes>* lane_sums() {
    constexpr std::size_t kBodyLanes = sizeof(typename Term::template Body<Lanes>) / sizeof(Lanes);
    return reinterpret_cast<typename Term::template Acc<Lanes>*>(lane_state_ +
                                                                 NTHREAD / kLanes * kBodyLanes);
  }

  // The current tile transposed.
  TileColumns columns_;
};

// Groups the threads that have pair work into vectors and loads their state.
template <class Term, class Body, class Acc>
void HostBlock::gather(const Split& sp, Many<Body>& me, Many<Acc>& fo) {
  using BodyL = typename Term::template Body<Lanes>;
  using AccL = typename Term::template Acc<Lanes>;
  static_assert(NTHREAD / kLanes * (sizeof(BodyL) + sizeof(AccL)) <= kLaneStateBytes,
                "lane state does not fit");
  const int active_i = sp.rem < sp.ni_block ? sp.rem : sp.ni_block;
  groups_ = 0;
  auto add = [&](int first_t, int step_t, int count, int joff, bool consecutive) {
    LaneGroup& g = group_[groups_++];
    g.live = count;
    g.joff = joff;
    g.consecutive = consecutive;
    for (int l = 0; l < kLanes; ++l) g.thread[l] = first_t + step_t * (l < count ? l : count - 1);
  };
  if (sp.ni_block >= kLanes) {
    // One j-share per vector: lanes are i-particles of the same share.
    for (int j = 0; j < sp.jsplit; ++j)
      for (int i = 0; i < active_i; i += kLanes)
        add(i + j * sp.ni_block, 1, active_i - i < kLanes ? active_i - i : kLanes, j, false);
  } else {
    // One i-particle per vector: lanes are its consecutive j-shares.
    for (int i = 0; i < active_i; ++i)
      for (int j = 0; j < sp.jsplit; j += kLanes)
        add(i + j * sp.ni_block, sp.ni_block, kLanes, j, true);
  }
  BodyL* body = lane_bodies<Term>();
  AccL* acc = lane_sums<Term>();
  for (int g = 0; g < groups_; ++g)
    for (int l = 0; l < kLanes; ++l) {
      put_lane(body[g], l, me[group_[g].thread[l]]);
      put_lane(acc[g], l, fo[group_[g].thread[l]]);
    }
  held_ = true;
  held_me_ = &me;
  held_fo_ = &fo;
  held_rem_ = sp.rem;
  flush_ = &HostBlock::flush<Term, Body, Acc>;
}

// The sums of the lanes back into the threads' variables.
template <class Term, class Body, class Acc>
void HostBlock::flush(HostBlock& blk) {
  using AccL = typename Term::template Acc<Lanes>;
  Many<Acc>& fo = *static_cast<Many<Acc>*>(blk.held_fo_);
  const AccL* acc = blk.lane_sums<Term>();
  for (int g = 0; g < blk.groups_; ++g)
    for (int l = 0; l < blk.group_[g].live; ++l) get_lane(fo[blk.group_[g].thread[l]], l, acc[g]);
}

template <class Term, class Body, class Acc>
void HostBlock::pair_tile(const Split& sp, int lim, Many<Body>& me, Many<Acc>& fo,
                          const typename Term::Predictor* tile, float eps2) {
  using Pred = typename Term::Predictor;
  using BodyL = typename Term::template Body<Lanes>;
  using AccL = typename Term::template Acc<Lanes>;

  if (plain) {
    const int active_i = sp.rem < sp.ni_block ? sp.rem : sp.ni_block;
    for (int a = 0; a < NTHREAD; ++a) {
      const int t = reversed ? NTHREAD - 1 - a : a;
      if (sp.ioff(t) >= active_i) continue;
      for (int k = sp.joff(t); k < lim; k += sp.jsplit)
        Term::interaction(me[t], Term::template load<float>(tile[k]), eps2, fo[t]);
    }
    return;
  }

  if (held_ && (held_me_ != &me || held_fo_ != &fo || held_rem_ != sp.rem)) settle();
  if (!held_) gather<Term>(sp, me, fo);
  const Pred* src = static_cast<const Pred*>(pending_.source_of(tile, NTHREAD * sizeof(Pred)));

  const RecordWords<Term>& words = record_words<Term>();
  bool transposed = false;
  const Lanes eps = splat<Lanes>(eps2);
  const BodyL* body = lane_bodies<Term>();
  AccL* accs = lane_sums<Term>();
  for (int n = 0; n < groups_; ++n) {
    const int g = reversed ? groups_ - 1 - n : n;
    const LaneGroup& grp = group_[g];
    const BodyL i = body[g];
    AccL acc = accs[g];
    if (!grp.consecutive) {
      // Every lane reads the same record: one broadcast per field.
      for (int k = grp.joff; k < lim; k += sp.jsplit)
        Term::interaction(i, Term::template load<Lanes>(src[k]), eps, acc);
    } else if (words.direct) {
      // Lane l reads record k + l: one load per field from the transposed
      // tile.
      if (!transposed) transpose_tile(src, lim, columns_);
      transposed = true;
      for (int k = grp.joff; k < lim; k += sp.jsplit) {
        BodyL j;
        Lanes* jw = reinterpret_cast<Lanes*>(&j);
        for (int w = 0; w < RecordWords<Term>::kBody; ++w)
          std::memcpy(&jw[w], &columns_.word[words.word[w]][k], sizeof(Lanes));
        if (k + kLanes <= lim) {
          Term::interaction(i, j, eps, acc);
        } else {
          LaneMask live{};
          for (int l = 0; l < kLanes; ++l) live[l] = k + l < lim ? -1 : 0;
          AccL next = acc;
          Term::interaction(i, j, eps, next);
          select_lanes(live, acc, next);
        }
      }
    } else {
      // A record the transposed tile cannot serve: one lane at a time.
      for (int k = grp.joff; k < lim; k += sp.jsplit) {
        BodyL j{};
        LaneMask live{};
        for (int l = 0; l < kLanes; ++l) {
          live[l] = k + l < lim ? -1 : 0;
          put_lane(j, l, Term::template load<float>(src[k + l < lim ? k + l : k]));
        }
        AccL next = acc;
        Term::interaction(i, j, eps, next);
        select_lanes(live, acc, next);
      }
    }
    accs[g] = acc;
  }
}

static_assert(assert_block_context<HostBlock>(), "the host block context");

}  // namespace nbf
