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
  std::vector<int> members;  // in no particular order
};

struct Schedule {
  // Sorted by decreasing end, no two alike, none empty: the next block step
  // is the last bucket.
  std::vector<ScheduleBucket> buckets;
  // Member lists of emptied buckets, kept for their capacity.
  std::vector<std::vector<int>> spare;
};

// Puts particle i into the bucket of end time `end`, making the bucket if
// there is none. Ends are searched from the earliest: a particle just
// stepped usually lands in one of the next few blocks.
inline void schedule_add(Schedule& s, double end, int i) {
  auto& b = s.buckets;
  std::size_t k = b.size();
  while (k > 0 && b[k - 1].end < end) --k;
  if (k > 0 && b[k - 1].end == end) {
    b[k - 1].members.push_back(i);
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
inline void schedule_build(Schedule& s, const std::vector<double>& t,
                           const std::vector<double>& dt,
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

// Moves the members of the next block step into `active`, in increasing
// index order, and drops their bucket. Requires a non-empty schedule.
inline void schedule_take_next(Schedule& s, std::vector<int>& active) {
  ScheduleBucket& b = s.buckets.back();
  active.assign(b.members.begin(), b.members.end());
  std::sort(active.begin(), active.end());
  b.members.clear();
  s.spare.push_back(std::move(b.members));
  s.buckets.pop_back();
}

}  // namespace hermite
