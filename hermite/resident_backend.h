// The integrator's force backend over a library's resident particles: the
// library keeps every particle's state (position, velocity, the 2K
// derivatives, its own time and step) and predicts them itself at each force
// call, so a block step sends only the states its corrector changed instead
// of predicting and sending all j-particles. The results are the bits of the
// library backend (library_backend.h), whose path it keeps for --resident
// off.
//
// Contract with the integrator (integrator.h): while resident() is true the
// integrator predicts nothing, calls load() with every particle whose state
// changed before the next force call, and asks for forces with forces_at().
// Each rank's library holds all particles and computes the forces due to
// the rank's share [js, je).
#pragma once

#include <vector>

#include "library_backend.h"
#include "prediction.h"

namespace hermite {

template <class Lib>
class ResidentBackend {
 public:
  static constexpr int K = Lib::kDerivs;
  using Force = typename Lib::Force;

  ResidentBackend(const std::vector<double>& mass, int js, int je, double eps, bool resident)
      : plain_(mass, js, je, eps),
        js_(js),
        je_(je),
        eps2_(static_cast<float>(eps * eps)),
        resident_(resident) {
    if (resident_) Lib::resident_resize(static_cast<int>(mass.size()));
  }

  bool resident() const { return resident_; }

  // The masses the plain path reads from now on (the integrator's).
  void use_masses(const std::vector<double>& mass) { plain_.use_masses(mass); }

  // The states of the particles of list, as the integrator holds them.
  // The masses are the integrator's: a particle taken out of the
  // integration arrives with mass 0.
  void load(const std::vector<int>& list, const std::vector<double>& m, const std::vector<Vec3>& x,
            const std::vector<Vec3>& v, const std::vector<Derivs<K>>& d,
            const std::vector<double>& t, const std::vector<double>& dt) {
    const std::size_t n = list.size();
    m_.resize(n);
    x_.resize(3 * n);
    v_.resize(3 * n);
    d_.resize(6 * K * n);
    t_.resize(n);
    dt_.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
      const auto i = static_cast<std::size_t>(list[k]);
      m_[k] = m[i];
      for (int c = 0; c < 3; ++c) {
        x_[3 * k + c] = x[i][c];
        v_[3 * k + c] = v[i][c];
      }
      for (int q = 0; q < 2 * K; ++q)
        for (int c = 0; c < 3; ++c) d_[(2 * K * k + q) * 3 + c] = d[i][q][c];
      t_[k] = t[i];
      dt_[k] = dt[i];
    }
    Lib::resident_set(static_cast<int>(n), list.data(), m_.data(), x_.data(), v_.data(), d_.data(),
                      t_.data(), dt_.data());
  }

  // Derivatives 0 .. K-1 of the acceleration at time t of the particles of
  // list, out[k * K + n], due to this rank's share.
  void forces_at(double t, const std::vector<int>& list, Vec3* out) {
    force_.resize(list.size());
    Lib::resident_force(t, js_, je_, static_cast<int>(list.size()), list.data(), eps2_,
                        force_.data());
    for (std::size_t k = 0; k < list.size(); ++k) Lib::unpack(force_[k], out + k * K);
  }

  // The library backend's path, for --resident off.
  void forces(const std::vector<int>& list, const Predicted& p, Vec3* out) {
    plain_.forces(list, p, out);
  }
  void potential(const std::vector<Vec3>& pos, double* pot) { plain_.potential(pos, pot); }

 private:
  LibraryBackend<Lib> plain_;
  int js_, je_;
  float eps2_;
  bool resident_;
  std::vector<double> m_, x_, v_, d_, t_, dt_;
  std::vector<Force> force_;
};

}  // namespace hermite
