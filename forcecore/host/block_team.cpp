// The block team: a caller that runs blocks itself and helpers that join
// when there is enough work, without ever waiting for a helper that has not
// started.
#include "forcecore/host/block_team.h"

#include <omp.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace nbf::host {
namespace {

using Clock = std::chrono::steady_clock;

struct Slot {
  alignas(64) unsigned char share[kMaxSharedBytes] = {};
  HostBlock blk;
};

void run_one(Slot& s, const BlockJob& job, long b) {
  s.blk.share = s.share;
  s.blk.reversed = job.reversed;
  s.blk.plain = job.plain;
  s.blk.input = job.input;
  s.blk.begin_block();
  job.run(job.ctx, s.blk, b);
}

void pause_briefly() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

class Team {
 public:
  void run(const BlockJob& job, Fanout fanout);
  int last_size() const { return last_size_; }

 private:
  // The next unclaimed block of generation gen, or -1 when none is left.
  long claim(std::uint32_t gen, long blocks) {
    std::uint64_t c = claim_.load(std::memory_order_acquire);
    for (;;) {
      if (static_cast<std::uint32_t>(c >> 32) != gen ||
          static_cast<long>(c & 0xffffffffu) >= blocks)
        return -1;
      if (claim_.compare_exchange_weak(c, c + 1, std::memory_order_acq_rel))
        return static_cast<long>(c & 0xffffffffu);
    }
  }
  void finish_block(long blocks) {
    if (finished_.fetch_add(1, std::memory_order_acq_rel) + 1 == blocks) {
      std::lock_guard<std::mutex> lock(m_);
      done_.notify_one();
    }
  }
  void add_helpers(int helpers);
  void helper(int index, Slot* slot);

  std::mutex m_;
  std::condition_variable wake_, done_;
  // Guarded by m_: the grid that helpers with index <= wanted_ are to join.
  std::uint32_t generation_ = 0;
  int wanted_ = 0;
  BlockJob job_{};
  // generation << 32 | next block to claim; the generation tags each claim,
  // so that a helper that wakes late never takes a block of a later grid
  // with the job of an earlier one.
  std::atomic<std::uint64_t> claim_{0};
  std::atomic<long> finished_{0};             // blocks of the current grid done
  std::atomic<int> joined_{0};                // helpers that ran a block of it
  std::vector<std::unique_ptr<Slot>> slots_;  // slots_[0] is the caller's
  int last_size_ = 1;
};

void Team::add_helpers(int helpers) {
  if (slots_.empty()) slots_.push_back(std::make_unique<Slot>());
  while (static_cast<int>(slots_.size()) <= helpers) {
    slots_.push_back(std::make_unique<Slot>());
    const int index = static_cast<int>(slots_.size()) - 1;
    // Detached: the team lives as long as the process, and a thread left
    // sleeping at exit ends with it.
    std::thread(&Team::helper, this, index, slots_.back().get()).detach();
  }
}

void Team::helper(int index, Slot* slot) {
  std::uint32_t seen;
  {
    std::lock_guard<std::mutex> lock(m_);
    seen = generation_;
  }
  for (;;) {
    // A grid often follows soon after the last (the reduction after the
    // interaction kernel): look for one briefly before sleeping.
    const auto until = Clock::now() + std::chrono::nanoseconds(kSpinNanoseconds);
    while (static_cast<std::uint32_t>(claim_.load(std::memory_order_relaxed) >> 32) == seen &&
           Clock::now() < until)
      pause_briefly();
    BlockJob job;
    std::uint32_t gen;
    {
      std::unique_lock<std::mutex> lock(m_);
      wake_.wait(lock, [&] { return generation_ != seen && index <= wanted_; });
      gen = seen = generation_;
      job = job_;
    }
    bool counted = false;
    for (long b; (b = claim(gen, job.blocks)) >= 0;) {
      if (!counted) joined_.fetch_add(1, std::memory_order_relaxed);
      counted = true;
      run_one(*slot, job, b);
      finish_block(job.blocks);
    }
  }
}

void Team::run(const BlockJob& job, Fanout fanout) {
  last_size_ = 1;
  if (job.blocks <= 0) return;
  if (slots_.empty()) slots_.push_back(std::make_unique<Slot>());
  Slot& me = *slots_[0];
  const long limit = omp_get_max_threads();
  if (fanout == Fanout::never || limit <= 1 || job.blocks == 1 || job.blocks > 0x7fffffffL) {
    for (long b = 0; b < job.blocks; ++b) run_one(me, job, b);
    return;
  }
  long first = 0;
  long helpers = limit - 1 < job.blocks - 1 ? limit - 1 : job.blocks - 1;
  if (fanout == Fanout::measured) {
    // The first block's time, times the blocks left, is the work the
    // helpers would share.
    const auto t0 = Clock::now();
    run_one(me, job, 0);
    first = 1;
    const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    const double share = secs * static_cast<double>(job.blocks - 1) / kMinHelperShare;
    if (share < static_cast<double>(helpers)) helpers = static_cast<long>(share);
    if (helpers < 1) {
      for (long b = 1; b < job.blocks; ++b) run_one(me, job, b);
      return;
    }
  }
  add_helpers(static_cast<int>(helpers));
  std::uint32_t gen;
  {
    std::lock_guard<std::mutex> lock(m_);
    gen = ++generation_;
    wanted_ = static_cast<int>(helpers);
    job_ = job;
    finished_.store(first, std::memory_order_relaxed);
    joined_.store(0, std::memory_order_relaxed);
    claim_.store(static_cast<std::uint64_t>(gen) << 32 | static_cast<std::uint64_t>(first),
                 std::memory_order_release);
  }
  wake_.notify_all();
  for (long b; (b = claim(gen, job.blocks)) >= 0;) {
    run_one(me, job, b);
    finish_block(job.blocks);
  }
  // Only blocks that helpers have claimed are outstanding.
  const auto until = Clock::now() + std::chrono::nanoseconds(kSpinNanoseconds);
  while (finished_.load(std::memory_order_acquire) != job.blocks && Clock::now() < until)
    pause_briefly();
  if (finished_.load(std::memory_order_acquire) != job.blocks) {
    std::unique_lock<std::mutex> lock(m_);
    done_.wait(lock, [&] { return finished_.load(std::memory_order_acquire) == job.blocks; });
  }
  last_size_ = 1 + joined_.load(std::memory_order_relaxed);
}

Team& team() {
  static Team* t = new Team;  // never destroyed: its helpers may outlive main
  return *t;
}

}  // namespace

void run_blocks(const BlockJob& job, Fanout fanout) { team().run(job, fanout); }

int last_team_size() { return team().last_size(); }

}  // namespace nbf::host
