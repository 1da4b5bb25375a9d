#include "neighbour_tree.h"

#include <nanoflann.hpp>

#include <algorithm>

namespace diagnostics {

namespace {

struct Points {
  std::vector<Vec3> x;
  std::size_t kdtree_get_point_count() const { return x.size(); }
  double kdtree_get_pt(std::size_t i, std::size_t d) const { return x[i][d]; }
  template <class Box>
  bool kdtree_get_bbox(Box&) const {
    return false;
  }
};

using Tree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, Points>,
                                                 Points, 3, unsigned>;

}  // namespace

struct NeighbourTree::Impl {
  Points points;
  std::vector<int> ids;
  std::unique_ptr<Tree> tree;
};

NeighbourTree::NeighbourTree() : impl_(std::make_unique<Impl>()) {}
NeighbourTree::~NeighbourTree() = default;
NeighbourTree::NeighbourTree(NeighbourTree&&) noexcept = default;
NeighbourTree& NeighbourTree::operator=(NeighbourTree&&) noexcept = default;

void NeighbourTree::build(const Vec3* x, const std::vector<int>& ids) {
  std::vector<Vec3> points(ids.size());
  for (std::size_t k = 0; k < ids.size(); ++k) points[k] = x[ids[k]];
  build_points(ids, points);
}

void NeighbourTree::build_points(const std::vector<int>& ids, const std::vector<Vec3>& points) {
  impl_->ids = ids;
  impl_->points.x = points;
  impl_->tree.reset();
  if (ids.empty()) return;
  impl_->tree =
      std::make_unique<Tree>(3, impl_->points, nanoflann::KDTreeSingleIndexAdaptorParams(16));
}

bool NeighbourTree::empty() const { return impl_->tree == nullptr; }

const std::vector<int>& NeighbourTree::ids() const { return impl_->ids; }

const std::vector<Vec3>& NeighbourTree::points() const { return impl_->points.x; }

int NeighbourTree::nearest(const Vec3& q, int k, int* out) const {
  if (empty() || k <= 0) return 0;
  std::vector<unsigned> index(static_cast<std::size_t>(k));
  std::vector<double> d2(static_cast<std::size_t>(k));
  const std::size_t found =
      impl_->tree->knnSearch(q.data(), static_cast<std::size_t>(k), index.data(), d2.data());
  for (std::size_t s = 0; s < found; ++s) out[s] = impl_->ids[index[s]];
  return static_cast<int>(found);
}

void NeighbourTree::within(const Vec3& q, double r, std::vector<int>& out) const {
  out.clear();
  if (empty()) return;
  std::vector<std::pair<unsigned, double>> found;
  impl_->tree->radiusSearch(q.data(), r * r, found, nanoflann::SearchParams());
  out.reserve(found.size());
  for (const auto& f : found) out.push_back(impl_->ids[f.first]);
  std::sort(out.begin(), out.end());
}

}  // namespace diagnostics
