// A k-d tree over a chosen set of particles, built once and asked many
// times for the particles nearest to any point: the candidates of the
// integrator's pair searches (the dominant pair of a particle, close
// encounters, perturbers), which then measure their true distances at the
// time they need.
#pragma once

#include <memory>
#include <vector>

#include "neighbours.h"

namespace diagnostics {

class NeighbourTree {
 public:
  NeighbourTree();
  ~NeighbourTree();
  NeighbourTree(NeighbourTree&&) noexcept;
  NeighbourTree& operator=(NeighbourTree&&) noexcept;

  // Builds the tree over the particles ids, at positions x[id]. The
  // positions are copied: later changes of x do not reach the tree.
  void build(const Vec3* x, const std::vector<int>& ids);
  // Builds the tree over ids[k] at points[k] (as ids() and points() give
  // them back: a tree saved and built again is the same tree).
  void build_points(const std::vector<int>& ids, const std::vector<Vec3>& points);
  bool empty() const;
  // What the tree was built over, in the order of the build.
  const std::vector<int>& ids() const;
  const std::vector<Vec3>& points() const;

  // The ids of up to k particles nearest to q, nearest first; returns how
  // many were written to out (fewer than k where the tree holds fewer).
  // Equal distances are ordered by the tree, which depends on the
  // positions alone, so the answer is the same on every run and rank.
  int nearest(const Vec3& q, int k, int* out) const;

  // The ids of every particle within radius r of q, in increasing id.
  void within(const Vec3& q, double r, std::vector<int>& out) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace diagnostics
