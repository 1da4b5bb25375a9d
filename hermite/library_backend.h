// The integrator's force backend over one of the force libraries: fills the
// library's predictor records for this rank's j-particles (over the threads
// where there are many) and the requested i-particles, and unpacks its
// results. Lib is a per-order adapter (see
// library4.h) naming the records and entry points of one library.
#pragma once

#include <algorithm>
#include <vector>

#include "integrator.h"
#include "nbforce_common.h"
#include "pair_terms.h"
#include "prediction.h"

namespace hermite {

template <class Lib>
class LibraryBackend {
 public:
  static constexpr int K = Lib::kDerivs;
  using Predictor = typename Lib::Predictor;
  using Force = typename Lib::Force;

  // eps = 0 runs unsoftened: see forces().
  LibraryBackend(const std::vector<double>& mass, int js, int je, double eps)
      : mass_(&mass), js_(js), je_(je), eps2_(static_cast<float>(eps * eps)) {}

  // The masses of the j-particles from now on (the integrator's, which
  // change as regularised subsystems form and end); kept by reference.
  void use_masses(const std::vector<double>& mass) { mass_ = &mass; }

  // With eps > 0 one library call over all of this rank's j-particles.
  // Unsoftened, a particle must not meet itself in the library (r = 0 and
  // eps = 0 give 0/0), so the self term is excluded by index: the list goes
  // to the library in chunks, each chunk's own j-records are moved far away
  // with no mass for its call, and the pairs within the chunk are added in
  // double precision on the host (add_pair_terms). The host work is at
  // most kUnsoftenedChunk pairs per listed particle.
  void forces(const std::vector<int>& list, const Predicted& p, Vec3* out) {
    const int nj = je_ - js_;
    pred_ = &p;
    jpred_.resize(static_cast<std::size_t>(nj));
    // Record by record, so the threads give the bits of one.
#pragma omp parallel for schedule(static) if (nj >= kParallelPrediction)
    for (int j = 0; j < nj; ++j) fill(jpred_[static_cast<std::size_t>(j)], js_ + j, p, true);
    if (eps2_ > 0.0f) {
      library_forces(list.data(), list.size(), nj, out);
      return;
    }
    for (std::size_t begin = 0; begin < list.size(); begin += kUnsoftenedChunk) {
      const std::size_t count = std::min(kUnsoftenedChunk, list.size() - begin);
      const int* chunk = list.data() + begin;
      saved_.clear();
      for (std::size_t k = 0; k < count; ++k) {
        if (chunk[k] < js_ || chunk[k] >= je_) continue;
        Predictor& r = jpred_[static_cast<std::size_t>(chunk[k] - js_)];
        saved_.push_back(r);
        for (int c = 0; c < 3; ++c) {
          r.posH[c] = kFarAway;
          r.posL[c] = 0.0f;
          r.vel[c] = 0.0f;
        }
        r.mass = 0.0f;
      }
      library_forces(chunk, count, nj, out + begin * K);
      std::size_t back = 0;
      for (std::size_t k = 0; k < count; ++k) {
        if (chunk[k] < js_ || chunk[k] >= je_) continue;
        jpred_[static_cast<std::size_t>(chunk[k] - js_)] = saved_[back++];
      }
      for (std::size_t k = 0; k < count; ++k) {
        const auto i = static_cast<std::size_t>(chunk[k]);
        for (std::size_t q = 0; q < count; ++q) {
          const auto j = static_cast<std::size_t>(chunk[q]);
          if (j == i || chunk[q] < js_ || chunk[q] >= je_) continue;
          add_pair_terms<K>(minus(p.x[j], p.x[i]), minus(p.v[j], p.v[i]), minus(p.a[j], p.a[i]),
                            minus(p.j[j], p.j[i]), (*mass_)[j], 0.0, out + (begin + k) * K);
        }
      }
    }
  }

  void potential(const std::vector<Vec3>& pos, double* pot) {
    posm_.resize(pos.size());
    for (std::size_t i = 0; i < pos.size(); ++i) {
      Posm& r = posm_[i];
      for (int c = 0; c < 3; ++c) nbforce_split(pos[i][c], &r.pos[c].x, &r.pos[c].y);
      r.mass = static_cast<float>((*mass_)[i]);
      r.unused = 0.0f;
    }
    Lib::calc_pot(static_cast<int>(pos.size()), js_, je_, eps2_, posm_.data(), pot);
  }

 private:
  // Pairs per listed particle that an unsoftened call computes on the host.
  static constexpr std::size_t kUnsoftenedChunk = 256;
  // Where an excluded j-record goes: far enough for its terms to vanish
  // with its zero mass, near enough that every power of the distance the
  // kernels form stays a finite float.
  static constexpr float kFarAway = 1e15f;

  static Vec3 minus(const Vec3& a, const Vec3& b) {
    return Vec3{a[0] - b[0], a[1] - b[1], a[2] - b[2]};
  }

  void library_forces(const int* list, std::size_t ni, int nj, Vec3* out) {
    ipred_.resize(ni);
    for (std::size_t k = 0; k < ni; ++k) fill(ipred_[k], list[k], *pred_, false);
    force_.resize(ni);
    double stamp = 0.0;
    Lib::calc_force(static_cast<int>(ni), nj, ipred_.data(), jpred_.data(), force_.data(), eps2_,
                    &stamp, &ip_time_, &fo_time_);
    for (std::size_t k = 0; k < ni; ++k) Lib::unpack(force_[k], out + k * K);
  }

  void fill(Predictor& r, int i, const Predicted& p, bool source) const {
    const auto k = static_cast<std::size_t>(i);
    for (int c = 0; c < 3; ++c) {
      nbforce_split(p.x[k][c], &r.posH[c], &r.posL[c]);
      r.vel[c] = static_cast<float>(p.v[k][c]);
    }
    r.mass = source ? static_cast<float>((*mass_)[k]) : 0.0f;
    r.unused0 = 0.0f;
    r.unused1 = 0.0f;
    Lib::set_derivs(r, p.a[k], p.j[k]);
  }

  const std::vector<double>* mass_;
  int js_, je_;
  float eps2_;
  std::vector<Predictor> jpred_, ipred_, saved_;
  const Predicted* pred_ = nullptr;  // the states of the call in progress
  std::vector<Force> force_;
  std::vector<Posm> posm_;
  double ip_time_ = 0.0, fo_time_ = 0.0;
};

}  // namespace hermite
