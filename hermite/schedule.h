// The block-step schedule: particles grouped by the time their current step
// ends, t + dt as it rounds in double. The next block step is the group with
// the smallest end time, so a step costs work in proportion to its active
// particles (plus the number of groups, about the number of step levels in
// use), not to all particles.
//
// Contract: every particle is in exactly one bucket, and a bucket's end is
// exactly the rounded t + dt of each of its members. Whoever changes a
// particle's time or step outside the block-step loop rebuilds the schedule
// (schedule_build).
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace hermite {

struct ScheduleBucket {
  double end = 0.0;
  // Increasing runs one after another: a block step adds its particles in
  // index order, so a bucket holds one run per block step that fed it.
  std::vector<int> members;
  std::vector<std::size_t> run_starts;  // where each run after the first begins
};

struct Schedule {
  // Sorted by decreasing end, no two alike, none empty: the next block step
  // is the last bucket.
  std::vector<ScheduleBucket> buckets;
  // Member lists of emptied buckets, kept for their capacity.
  std::vector<std::vector<int>> spare;
  // The merge's buffers, kept between block steps.
  std::vector<int> scratch;
  std::vector<std::size_t> bounds;
};

// Puts particle i into the bucket of end time `end`, making the bucket if
// there is none. Ends are searched from the earliest: a particle just
// stepped usually lands in one of the next few blocks.
inline void schedule_add(Schedule& s, double end, int i) {
  auto& b = s.buckets;
  std::size_t k = b.size();
  while (k > 0 && b[k - 1].end < end) --k;
  if (k > 0 && b[k - 1].end == end) {
    std::vector<int>& m = b[k - 1].members;
    if (!m.empty() && i < m.back()) b[k - 1].run_starts.push_back(m.size());
    m.push_back(i);
    return;
  }
  ScheduleBucket fresh;
  fresh.end = end;
  if (!s.spare.empty()) {
    fresh.members = std::move(s.spare.back());
    s.spare.pop_back();
  }
  fresh.members.push_back(i);
  b.insert(b.begin() + static_cast<std::ptrdiff_t>(k), std::move(fresh));
}

// Groups all particles afresh from their times and steps; with `alive`
// (empty: all), only those whose flag is set: a resting slot takes no step.
inline void schedule_build(Schedule& s, const std::vector<double>& t, const std::vector<double>& dt,
                           const std::vector<unsigned char>& alive = {}) {
  for (auto& b : s.buckets) {
    b.members.clear();
    s.spare.push_back(std::move(b.members));
  }
  s.buckets.clear();
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (!alive.empty() && alive[i] == 0) continue;
    schedule_add(s, t[i] + dt[i], static_cast<int>(i));
  }
}

// The end time of the next block step. Requires a non-empty schedule.
inline double schedule_next(const Schedule& s) { return s.buckets.back().end; }

// Sorts `v`, made of increasing runs beginning at 0 and at each of
// `starts`, by merging neighbouring runs pass by pass: O(n log runs). The
// active set of a block of 55,366 particles from ten runs, the additions to
// its bucket included, took 14 ns a particle this way against 29 ns with a
// comparison sort of the same members (bench_host_step, active_set); the
// result is the same.
inline void merge_runs(std::vector<int>& v, const std::vector<std::size_t>& starts,
                       std::vector<int>& scratch, std::vector<std::size_t>& bounds) {
  bounds.assign(1, 0);
  bounds.insert(bounds.end(), starts.begin(), starts.end());
  bounds.push_back(v.size());
  scratch.resize(v.size());
  while (bounds.size() > 2) {
    std::size_t kept = 1;
    for (std::size_t r = 0; r + 1 < bounds.size(); r += 2) {
      const auto first = v.begin() + static_cast<std::ptrdiff_t>(bounds[r]);
      const auto middle = v.begin() + static_cast<std::ptrdiff_t>(bounds[r + 1]);
      const std::size_t end = r + 2 < bounds.size() ? bounds[r + 2] : bounds[r + 1];
      const auto last = v.begin() + static_cast<std::ptrdiff_t>(end);
      std::merge(first, middle, middle, last,
                 scratch.begin() + static_cast<std::ptrdiff_t>(bounds[r]));
      bounds[kept++] = end;
    }
    bounds.resize(kept);
    v.swap(scratch);
  }
}

// Moves the members of the next block step into `active`, in increasing
// index order, and drops their bucket. Requires a non-empty schedule.
inline void schedule_take_next(Schedule& s, std::vector<int>& active) {
  ScheduleBucket& b = s.buckets.back();
  active.assign(b.members.begin(), b.members.end());
  if (!b.run_starts.empty()) merge_runs(active, b.run_starts, s.scratch, s.bounds);
  b.members.clear();
  b.run_starts.clear();
  s.spare.push_back(std::move(b.members));
  s.buckets.pop_back();
}

}  // namespace hermite
