// The block context: everything a kernel body (kernels.h) may use of the
// block it runs in. Kernels are templates over a context B; three contexts
// implement it:
//   DeviceBlock (cuda/block_device.h)  one CUDA thread of a block;
//   the same DeviceBlock compiled on the host by the tests' device emulator,
//                                      one OS thread per CUDA thread, with
//                                      real barriers;
//   HostBlock (host/block_host.h)      one call for all 128 threads of a
//                                      block, phase by phase.
// A kernel written to the rules below gives the same bits in all three.
//
// Threads and phases. A block has NTHREAD threads, numbered t = 0..127. The
// code between two barriers is a phase. A kernel touches a thread's data only
// inside each(fn) or each_live(sp, fn), through the t that fn receives.
// Within a phase no thread reads what another thread writes: the threads of
// a phase may run in any order, at once (device) or one after another in
// either direction (host).
//
// The members, with what the kernel must ensure (pre) and may rely on (post):
//
//   int block_x() const, int block_y() const
//     The block's position in the grid. Post: the same value for every
//     thread and for the whole body.
//
//   template <unsigned Bytes> unsigned char* shared()
//     The block's shared array, at least Bytes long and 16-byte aligned.
//     Pre: Bytes <= 10240 (the host checks it at compile time). Post: the
//     same bytes for every thread and every call within one block. Its
//     contents at the start of a block are unspecified (the emulator fills
//     it with NaN): nothing of another block is carried over. A kernel may
//     view the bytes as any record type that fits, one type at a time: see
//     sync_rewrite().
//
//   template <class T> Local<T>
//     One T per thread, indexed by the thread's t (on the device the index
//     is ignored: the variable lives in the thread's registers). Post:
//     values survive barriers. Pre: indexed only with the t of the current
//     each()/each_live() call, or handed whole to pair_tile().
//
//   each(fn)
//     Calls fn(t) for every thread the context stands for: on the device the
//     calling thread, on the host all 128 threads. Post: on the host, any
//     copy still pending and any sums pair_tile() keeps in lane form are
//     settled first, so fn sees the shared array and the Local variables as
//     the kernel wrote them.
//
//   each_live(sp, fn)
//     Like each(), except that the host may leave out the threads whose
//     i-particle lies past the pass (sp.ioff(t) >= sp.rem); the device runs
//     every thread. Pre: a left-out thread's values are never written out
//     and never read by a thread that is not left out; the shared array and
//     Local slots it would write stay as they were.
//
//   sync()
//     Block barrier. Post: every write of the phase before it, to the shared
//     array, a Local or a copy_units() destination, is seen by every thread
//     after it. Pre: reached by every thread of the block (never inside a
//     condition that differs between threads). Free on the host, where a
//     phase ends before the next begins.
//
//   sync_rewrite()
//     sync(), and a promise: after it the kernel writes the shared array
//     before it reads it again. Post: the shared array's contents are
//     unspecified until written (the host may drop a tile copy it has not
//     made yet). This is how a kernel reuses the tile's bytes for its
//     partial sums.
//
//   sync_group()
//     Barrier of the 32 threads t / 32 == g of one group. Post: writes of
//     the group's threads before it are seen by the group's threads after
//     it; nothing is ordered between groups. Pre: reached by all 32.
//
//   copy_units(dst, src, units)
//     The block copies `units` 16-byte units from src to dst; both are
//     16-byte aligned and do not overlap. Pre: called by every thread with
//     the same arguments (on the device each thread moves its share). Post:
//     the copy is complete after the next sync(); on the host a copy into
//     the shared array may wait until something other than pair_tile()
//     reads it, pair_tile() reading src in place. Pre: src is not written
//     before that sync().
//
//   template <class Term> pair_tile(sp, lim, me, fo, tile, eps2)
//     For every thread t whose i-particle lies in the pass, in ascending k
//     from sp.joff(t) in steps of sp.jsplit below lim:
//       Term::interaction(me[t], Term::load<F>(tile[k]), eps2, fo[t]).
//     The per-thread order of operations is that of this loop, whatever
//     vector form the context uses, so the bits do not depend on it. Pre:
//     tile is the shared array holding lim <= NTHREAD records of
//     Term::Predictor, copied in by copy_units() and a sync(); me and fo are
//     Locals. Post: fo[t] holds the new sums when the next each() or
//     each_live() runs (the host keeps them in lane form across tiles until
//     then); threads left out keep their sums.
//
// An interaction Term provides Predictor (the tile record), Body<F> (one
// particle as the pair step reads it), Acc<F> (one thread's sums),
// load<F>(record) and interaction(i_body, j_body, eps2, acc); F is float on
// the device and a lane vector on the host.
//
// BlockContextCheck<B> tests at compile time that B declares every member
// above in the form given; each context's header asserts
// assert_block_context<B>(), whose error names a member that is missing.
#pragma once

#include <type_traits>
#include <utility>

#include "forcecore/platform.h"
#include "forcecore/split.h"

namespace nbf {
namespace block_contract {

// A stand-in term and callback for the checks: only their types are used.
struct ProbeRecord {
  float w[4];
};
struct ProbeTerm {
  using Predictor = ProbeRecord;
  template <class F>
  struct Body {
    F v;
  };
  template <class F>
  struct Acc {
    F v;
  };
  template <class F>
  NBF_DEV static Body<F> load(const Predictor& p) {
    return {splat<F>(p.w[0])};
  }
  template <class F>
  NBF_DEV static void interaction(const Body<F>&, const Body<F>&, F, Acc<F>&) {}
};
struct ProbeFn {
  NBF_DEV void operator()(int) const {}
};

// The C++17 detection idiom: Op<B> is well formed and of type R.
template <class Void, template <class> class Op, class B>
struct detect : std::false_type {
  using type = void;
};
template <template <class> class Op, class B>
struct detect<std::void_t<Op<B>>, Op, B> : std::true_type {
  using type = Op<B>;
};
template <template <class> class Op, class B, class R>
constexpr bool has =
    detect<void, Op, B>::value&& std::is_same_v<typename detect<void, Op, B>::type, R>;

template <class B>
using block_x_t = decltype(std::declval<const B&>().block_x());
template <class B>
using block_y_t = decltype(std::declval<const B&>().block_y());
template <class B>
using shared_t = decltype(std::declval<B&>().template shared<16>());
template <class B>
using local_t = decltype(std::declval<typename B::template Local<int>&>()[0]);
template <class B>
using each_t = decltype(std::declval<B&>().each(ProbeFn{}));
template <class B>
using each_live_t = decltype(std::declval<B&>().each_live(std::declval<const Split&>(), ProbeFn{}));
template <class B>
using sync_t = decltype(std::declval<B&>().sync());
template <class B>
using sync_rewrite_t = decltype(std::declval<B&>().sync_rewrite());
template <class B>
using sync_group_t = decltype(std::declval<B&>().sync_group());
template <class B>
using copy_units_t =
    decltype(std::declval<B&>().copy_units(std::declval<void*>(), std::declval<const void*>(), 0));
template <class B>
using pair_tile_t = decltype(std::declval<B&>().template pair_tile<ProbeTerm>(
    std::declval<const Split&>(), 0,
    std::declval<typename B::template Local<ProbeTerm::Body<float>>&>(),
    std::declval<typename B::template Local<ProbeTerm::Acc<float>>&>(),
    std::declval<const ProbeRecord*>(), 0.0f));

}  // namespace block_contract

// Which members of the contract B provides, one flag each. Enumerators, not
// static members: constants with no storage, which the per-instruction-set
// builds (-fno-weak) would otherwise copy.
template <class B>
struct BlockContextCheck {
  template <template <class> class Op, class R>
  using Has = std::bool_constant<block_contract::has<Op, B, R>>;
  enum : bool {
    block_x = Has<block_contract::block_x_t, int>::value,
    block_y = Has<block_contract::block_y_t, int>::value,
    shared = Has<block_contract::shared_t, unsigned char*>::value,
    local = Has<block_contract::local_t, int&>::value,
    each = Has<block_contract::each_t, void>::value,
    each_live = Has<block_contract::each_live_t, void>::value,
    sync = Has<block_contract::sync_t, void>::value,
    sync_rewrite = Has<block_contract::sync_rewrite_t, void>::value,
    sync_group = Has<block_contract::sync_group_t, void>::value,
    copy_units = Has<block_contract::copy_units_t, void>::value,
    pair_tile = Has<block_contract::pair_tile_t, void>::value,
    all = block_x && block_y && shared && local && each && each_live && sync && sync_rewrite &&
          sync_group && copy_units && pair_tile
  };
};

template <class B>
constexpr bool is_block_context = BlockContextCheck<B>::all;

// Asserts the contract member by member, so that a missing one is named.
template <class B>
constexpr bool assert_block_context() {
  using C = BlockContextCheck<B>;
  static_assert(C::block_x && C::block_y, "block context: int block_x() const, block_y() const");
  static_assert(C::shared, "block context: template <unsigned> unsigned char* shared()");
  static_assert(C::local, "block context: Local<T>, indexed by thread, giving T&");
  static_assert(C::each && C::each_live, "block context: each(fn), each_live(split, fn)");
  static_assert(C::sync && C::sync_rewrite && C::sync_group,
                "block context: sync(), sync_rewrite(), sync_group()");
  static_assert(C::copy_units, "block context: copy_units(void*, const void*, int)");
  static_assert(C::pair_tile, "block context: pair_tile<Term>(split, lim, me, fo, tile, eps2)");
  return C::all;
}

}  // namespace nbf
