// The parts of the host executor that do more than loop: the tile copy that
// stops at the end of an input read in place, the tile transposition, the
// record-word probe and the block team.
#include <gtest/gtest.h>
#include <omp.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "forcecore/host/block_team.h"
#include "forcecore/host/record_words.h"
#include "forcecore/host/tile_copy.h"
#include "forcecore/host/tile_transpose.h"
#include "nbforce4/order4.h"

namespace {

TEST(TileCopy, StopsAtTheEndOfTheInputAndZeroFillsTheRest) {
  std::vector<unsigned char> input(100);
  for (std::size_t k = 0; k < input.size(); ++k) input[k] = static_cast<unsigned char>(k + 1);
  const nbf::InputRegion region{input.data(), input.data() + input.size()};
  EXPECT_EQ(nbf::readable_bytes(input.data() + 60, 64, region), 40u);
  EXPECT_EQ(nbf::readable_bytes(input.data(), 64, region), 64u);
  // Sources outside the input, or no input at all, are read whole.
  unsigned char other[64] = {};
  EXPECT_EQ(nbf::readable_bytes(other, 64, region), 64u);
  EXPECT_EQ(nbf::readable_bytes(input.data() + 60, 64, nbf::InputRegion{nullptr, nullptr}), 64u);

  unsigned char dst[96];
  std::memset(dst, 0xee, sizeof dst);
  nbf::TileCopy copy{dst, input.data() + 60, 64, 40};
  // Before it is made, the copy's bytes are read from the source.
  EXPECT_EQ(copy.source_of(dst + 16, 16), input.data() + 76);
  EXPECT_EQ(copy.source_of(dst + 32, 16), input.data() + 92);
  EXPECT_EQ(copy.source_of(dst + 56, 16), dst + 56) << "reaches past the copy";
  EXPECT_EQ(copy.source_of(dst + 80, 16), dst + 80) << "lies past the copy";
  EXPECT_EQ(copy.source_of(other, 16), other) << "another buffer";
  copy.make();
  EXPECT_FALSE(copy.pending());
  for (int k = 0; k < 64; ++k) EXPECT_EQ(dst[k], k < 40 ? 61 + k : 0) << k;
  EXPECT_EQ(dst[64], 0xee) << "the copy stays within its bytes";
}

// Word w of record k lands in column w, row k; rows from the end of the
// records up to kLanes past it are zero, and nothing past the records is
// read (they are followed by poison that would show).
TEST(TileTranspose, ColumnsHoldTheRecordWords) {
  struct Record {
    float w[12];
  };
  std::vector<Record> records(NTHREAD + 8);
  for (std::size_t k = 0; k < records.size(); ++k)
    for (int w = 0; w < 12; ++w)
      records[k].w[w] = k < NTHREAD ? static_cast<float>(1000 * k + w) : -1.0f;
  for (int lim : {1, 3, 4, 5, 37, 127, 128}) {
    std::vector<Record> tile(records.begin(), records.begin() + lim);
    tile.resize(lim + 8);
    for (int k = lim; k < lim + 8; ++k)
      for (float& v : tile[k].w) v = -7.0f;
    nbf::TileColumns cols;
    std::memset(&cols, 0x55, sizeof cols);
    nbf::transpose_tile(tile.data(), lim, cols);
    for (int w = 0; w < 12; ++w) {
      for (int k = 0; k < lim; ++k) ASSERT_EQ(cols.word[w][k], 1000.0f * k + w) << lim;
      for (int k = lim; k < (lim + 3) / 4 * 4 + nbf::kLanes; ++k)
        ASSERT_EQ(cols.word[w][k], 0.0f) << "lim " << lim << ", row " << k;
    }
  }
}

// A term whose load only moves fields maps each particle word to its record
// word; one whose load computes gets none and is read record by record.
struct Doubling {
  using Predictor = ::Predictor;
  template <class F>
  struct Body {
    F mass2;
  };
  template <class F>
  static Body<F> load(const Predictor& p) {
    return Body<F>{nbf::splat<F>(p.mass * 2.0f)};
  }
};

TEST(RecordWords, ProbeFindsEachFieldOrRefuses) {
  const auto words = nbf::probe_record_words<nbf::Order4>();
  EXPECT_TRUE(words.direct);
  // Body: posH[3], posL[3], vel[3], mass; Predictor: posH[3], mass, posL[3],
  // pad, vel[3], pad.
  const int want[] = {0, 1, 2, 4, 5, 6, 8, 9, 10, 3};
  for (int w = 0; w < 10; ++w) EXPECT_EQ(words.word[w], want[w]) << w;
  EXPECT_FALSE(nbf::probe_record_words<Doubling>().direct);
}

// Every block runs exactly once, whichever threads run them.
TEST(BlockTeam, RunsEveryBlockOnce) {
  constexpr long kBlocks = 700;
  for (auto fanout :
       {nbf::host::Fanout::never, nbf::host::Fanout::always, nbf::host::Fanout::measured}) {
    for (int threads : {1, 2, 4}) {
      std::vector<std::atomic<int>> runs(kBlocks);
      nbf::host::BlockJob job{};
      job.blocks = kBlocks;
      job.ctx = &runs;
      job.run = [](void* ctx, nbf::HostBlock& blk, long b) {
        EXPECT_NE(blk.share, nullptr);
        (*static_cast<std::vector<std::atomic<int>>*>(ctx))[b].fetch_add(1);
        volatile double x = 1.0;
        for (int k = 0; k < 2000; ++k) x = x * 1.0000001;
      };
      const int before = omp_get_max_threads();
      omp_set_num_threads(threads);
      nbf::host::run_blocks(job, fanout);
      omp_set_num_threads(before);
      for (long b = 0; b < kBlocks; ++b)
        ASSERT_EQ(runs[b].load(), 1) << "block " << b << ", threads " << threads;
      const int size = nbf::host::last_team_size();
      EXPECT_GE(size, 1);
      EXPECT_LE(size, threads);
      if (fanout == nbf::host::Fanout::never) {
        EXPECT_EQ(size, 1);
      }
    }
  }
}

// A grid too small to pay for a helper runs on the calling thread alone.
TEST(BlockTeam, SmallGridsStayOnTheCallingThread) {
  nbf::host::BlockJob job{};
  job.blocks = 4;
  job.run = [](void*, nbf::HostBlock&, long) {};
  nbf::host::run_blocks(job, nbf::host::Fanout::measured);
  EXPECT_EQ(nbf::host::last_team_size(), 1);
}

}  // namespace
