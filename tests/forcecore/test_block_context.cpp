// The compile-time check of the block context: the host context passes it,
// and a context that lacks any one member, or declares it in another form,
// fails it with that member's flag down. (The device context is asserted
// where it is declared, under nvcc and in the device emulator's build.)
#include <gtest/gtest.h>

#include <type_traits>

#include "forcecore/block_context.h"
#include "forcecore/host/block_host.h"

namespace {

enum Member {
  kNone,
  kBlockX,
  kBlockY,
  kShared,
  kLocal,
  kEach,
  kEachLive,
  kSync,
  kSyncRewrite,
  kSyncGroup,
  kCopyUnits,
  kPairTile,
  kBlockXAsLong,  // block_x() returns long instead of int
  kLocalByValue,  // Local<T>[t] returns a copy instead of T&
};

template <class T>
struct Slots {
  T v[NTHREAD];
  T& operator[](int t) { return v[t]; }
};
template <class T>
struct ValueSlots {
  T v[NTHREAD];
  T operator[](int t) const { return v[t]; }
};

template <bool Present>
using If = std::enable_if_t<Present, int>;

// A context with every member, except the one named by Missing; only the
// declarations matter.
template <Member Missing>
struct Mock {
  template <class T>
  using Local =
      std::conditional_t<Missing == kLocal, void,
                         std::conditional_t<Missing == kLocalByValue, ValueSlots<T>, Slots<T>>>;

  template <Member M = Missing, If<M != kBlockX && M != kBlockXAsLong> = 0>
  int block_x() const;
  template <Member M = Missing, If<M == kBlockXAsLong> = 0>
  long block_x() const;
  template <Member M = Missing, If<M != kBlockY> = 0>
  int block_y() const;
  template <unsigned Bytes, Member M = Missing, If<M != kShared> = 0>
  unsigned char* shared();
  template <class Fn, Member M = Missing, If<M != kEach> = 0>
  void each(Fn);
  template <class Fn, Member M = Missing, If<M != kEachLive> = 0>
  void each_live(const nbf::Split&, Fn);
  template <Member M = Missing, If<M != kSync> = 0>
  void sync();
  template <Member M = Missing, If<M != kSyncRewrite> = 0>
  void sync_rewrite();
  template <Member M = Missing, If<M != kSyncGroup> = 0>
  void sync_group();
  template <Member M = Missing, If<M != kCopyUnits> = 0>
  void copy_units(void*, const void*, int);
  template <class Term, class Body, class Acc, Member M = Missing, If<M != kPairTile> = 0>
  void pair_tile(const nbf::Split&, int, Slots<Body>&, Slots<Acc>&, const typename Term::Predictor*,
                 float);
};

template <Member M>
using Check = nbf::BlockContextCheck<Mock<M>>;

TEST(BlockContext, TheHostContextProvidesEveryMember) {
  EXPECT_TRUE(nbf::is_block_context<nbf::HostBlock>);
  EXPECT_TRUE(nbf::is_block_context<Mock<kNone>>);
}

TEST(BlockContext, AMissingMemberIsNamed) {
  EXPECT_FALSE(Check<kBlockX>::block_x);
  EXPECT_FALSE(Check<kBlockY>::block_y);
  EXPECT_FALSE(Check<kShared>::shared);
  EXPECT_FALSE(Check<kLocal>::local);
  EXPECT_FALSE(Check<kEach>::each);
  EXPECT_FALSE(Check<kEachLive>::each_live);
  EXPECT_FALSE(Check<kSync>::sync);
  EXPECT_FALSE(Check<kSyncRewrite>::sync_rewrite);
  EXPECT_FALSE(Check<kSyncGroup>::sync_group);
  EXPECT_FALSE(Check<kCopyUnits>::copy_units);
  EXPECT_FALSE(Check<kPairTile>::pair_tile);
  // Only that one: a missing sync() leaves the other flags up.
  EXPECT_TRUE(Check<kSync>::sync_rewrite && Check<kSync>::pair_tile && Check<kSync>::block_x);
  EXPECT_FALSE(nbf::is_block_context<Mock<kSync>>);
  EXPECT_FALSE(nbf::is_block_context<Mock<kPairTile>>);
}

TEST(BlockContext, AMemberOfAnotherFormFails) {
  EXPECT_FALSE(Check<kBlockXAsLong>::block_x);
  EXPECT_FALSE(Check<kLocalByValue>::local);
  EXPECT_FALSE(nbf::is_block_context<Mock<kLocalByValue>>);
}

}  // namespace
