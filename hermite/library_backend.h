// The integrator's force backend over one of the force libraries: fills the
// library's predictor records for this rank's j-particles (over the threads
// where there are many) and the requested i-particles, and unpacks its
// results. Lib is a per-order adapter (see
// library4.h) naming the records and entry points of one library.
#pragma once

#include <vector>

#include "integrator.h"
#include "nbforce_common.h"
#include "prediction.h"

namespace hermite {

template <class Lib>
class LibraryBackend {
 public:
  static constexpr int K = Lib::kDerivs;
  using Predictor = typename Lib::Predictor;
  using Force = typename Lib::Force;

  LibraryBackend(const std::vector<double>& mass, int js, int je, double eps)
      : mass_(mass), js_(js), je_(je), eps2_(static_cast<float>(eps * eps)) {}

  void forces(const std::vector<int>& list, const Predicted& p, Vec3* out) {
    const int nj = je_ - js_;
    jpred_.resize(static_cast<std::size_t>(nj));
    // Record by record, so the threads give the bits of one.
#pragma omp parallel for schedule(static) if (nj >= kParallelPrediction)
    for (int j = 0; j < nj; ++j) fill(jpred_[static_cast<std::size_t>(j)], js_ + j, p, true);
    ipred_.resize(list.size());
    for (std::size_t k = 0; k < list.size(); ++k) fill(ipred_[k], list[k], p, false);
    force_.resize(list.size());
    double stamp = 0.0;
    Lib::calc_force(static_cast<int>(list.size()), nj, ipred_.data(), jpred_.data(), force_.data(),
                    eps2_, &stamp, &ip_time_, &fo_time_);
    for (std::size_t k = 0; k < list.size(); ++k) Lib::unpack(force_[k], out + k * K);
  }

  void potential(const std::vector<Vec3>& pos, double* pot) {
    posm_.resize(pos.size());
    for (std::size_t i = 0; i < pos.size(); ++i) {
      Posm& r = posm_[i];
      for (int c = 0; c < 3; ++c) nbforce_split(pos[i][c], &r.pos[c].x, &r.pos[c].y);
      r.mass = static_cast<float>(mass_[i]);
      r.unused = 0.0f;
    }
    Lib::calc_pot(static_cast<int>(pos.size()), js_, je_, eps2_, posm_.data(), pot);
  }

 private:
  void fill(Predictor& r, int i, const Predicted& p, bool source) const {
    const auto k = static_cast<std::size_t>(i);
    for (int c = 0; c < 3; ++c) {
      nbforce_split(p.x[k][c], &r.posH[c], &r.posL[c]);
      r.vel[c] = static_cast<float>(p.v[k][c]);
    }
    r.mass = source ? static_cast<float>(mass_[k]) : 0.0f;
    r.unused0 = 0.0f;
    r.unused1 = 0.0f;
    Lib::set_derivs(r, p.a[k], p.j[k]);
  }

  const std::vector<double>& mass_;
  int js_, je_;
  float eps2_;
  std::vector<Predictor> jpred_, ipred_;
  std::vector<Force> force_;
  std::vector<Posm> posm_;
  double ip_time_ = 0.0, fo_time_ = 0.0;
};

}  // namespace hermite
