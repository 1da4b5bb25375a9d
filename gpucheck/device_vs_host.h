// The linked CUDA library against the host library on the shapes of the
// production path: two passes (ni = 4096 + 1 ... 4096 + 65, so the second
// pass runs every thread split), j-slices longer than a tile (full tiles and
// a partial one), empty slices, and the potential over full and partial
// tiles. Either within the tolerance of the hardware reciprocal square root,
// or bit for bit when the device computes 1/sqrt as the host does.
//
// Include after the CUDA runtime's headers and the order's adapter; the
// translation unit links one CUDA library.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host_exchange.h"
#include "support/cloud.h"
#include "support/reference.h"

namespace gpucheck {

enum class Match { within_tolerance, bitwise };

struct Comparison {
  std::string name;
  bool passed = false;
  double worst[4] = {};  // largest difference per derivative, relative to the sum of |terms|
  std::string detail;    // why it failed
};

// j-particles: 28 slices of 142 or 143, one full tile and a partial one each.
inline constexpr int kSources = 4000;
inline constexpr int kSecondPass[] = {1, 5, 9, 17, 33, 65};
inline constexpr float kEps2 = 1e-4f;

template <class Adapter>
std::vector<typename Adapter::Predictor> predictors(const std::vector<nbtest::Particle>& p,
                                                    std::size_t n) {
  std::vector<typename Adapter::Predictor> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = Adapter::predictor(p[i]);
  return out;
}

template <class Adapter>
std::vector<typename Adapter::Force> device_forces(
    const std::vector<typename Adapter::Predictor>& ip,
    const std::vector<typename Adapter::Predictor>& jp, float eps2) {
  std::vector<typename Adapter::Force> out(ip.size());
  double stamp = 0, ip_time = 0, fo_time = 0;
  calc_force(static_cast<int>(ip.size()), static_cast<int>(jp.size()), ip.data(), jp.data(),
             out.data(), eps2, &stamp, &ip_time, &fo_time);
  return out;
}

// Forces on `ni` targets (the cloud's first ones, also sources) due to `nj`
// sources.
template <class Adapter>
Comparison compare_forces(const std::string& helper, Match match,
                          const std::vector<nbtest::Particle>& cloud, int ni, int nj) {
  Comparison c;
  c.name = "forces ni=" + std::to_string(ni) + " nj=" + std::to_string(nj);
  const auto ip = predictors<Adapter>(cloud, static_cast<std::size_t>(ni));
  const auto jp = predictors<Adapter>(cloud, static_cast<std::size_t>(nj));
  std::vector<typename Adapter::Force> want;
  if (!host_forces(helper, ip, jp, kEps2, want, c.detail)) return c;
  const auto got = device_forces<Adapter>(ip, jp, kEps2);
  const auto stored = nbtest::as_stored(cloud);
  const std::vector<nbtest::Particle> sources(stored.begin(), stored.begin() + nj);
  char text[200];
  for (int i = 0; i < ni; ++i) {
    if (match == Match::bitwise) {
      if (std::memcmp(&got[i], &want[i], sizeof got[i]) == 0) continue;
      std::snprintf(text, sizeof text, "particle %d: acc.x %.9g, host %.9g (not the same bits)", i,
                    Adapter::deriv(got[i], 0)[0], Adapter::deriv(want[i], 0)[0]);
      c.detail = text;
      return c;
    }
    // Every particle of the second pass, a sample of the first.
    if (i < 4096 && i % 17 != 0) continue;
    const nbtest::Derivs ref = nbtest::reference_derivs(stored[i], sources, kEps2);
    for (int k = 0; k < Adapter::kDerivs; ++k) {
      const double diff =
          nbtest::relative_error(Adapter::deriv(got[i], k), Adapter::deriv(want[i], k),
                                 ref.scale[k] > 0 ? ref.scale[k] : 1.0);
      if (!(diff <= c.worst[k])) c.worst[k] = diff;
      // The hardware 1/sqrt is within 2 ulp where the host's is within 1:
      // twice the host library's own tolerance against exact sums.
      if (!(diff < 2 * Adapter::kTolerance[k])) {
        std::snprintf(text, sizeof text, "particle %d, derivative %d: %.3g of the term sum", i, k,
                      diff);
        c.detail = text;
        return c;
      }
    }
  }
  c.passed = true;
  return c;
}

inline Comparison compare_potential(const std::string& helper, Match match,
                                    const std::vector<nbtest::Particle>& cloud, int n, int js,
                                    int je) {
  Comparison c;
  c.name = "potential n=" + std::to_string(n) + " sources [" + std::to_string(js) + ", " +
           std::to_string(je) + ")";
  const std::vector<nbtest::Particle> part(cloud.begin(), cloud.begin() + n);
  const std::vector<Posm> posm = nbtest::to_posm(part);
  std::vector<double> want;
  if (!host_potential(helper, posm, js, je, kEps2, want, c.detail)) return c;
  std::vector<double> got(part.size());
  calc_pot(n, js, je, kEps2, posm.data(), got.data());
  const auto stored = nbtest::as_stored(part);
  char text[200];
  for (int i = 0; i < n; ++i) {
    if (match == Match::bitwise) {
      if (std::memcmp(&got[i], &want[i], sizeof got[i]) == 0) continue;
      std::snprintf(text, sizeof text, "particle %d: %.17g, host %.17g", i, got[i], want[i]);
      c.detail = text;
      return c;
    }
    if (i % 7 != 0 && i < n - 64) continue;
    double scale = 0;
    nbtest::reference_potential(stored, i, js, je, kEps2, &scale);
    const double diff = std::fabs(got[i] - want[i]) / (scale > 0 ? scale : 1.0);
    if (!(diff <= c.worst[0])) c.worst[0] = diff;
    if (!(diff < 2e-6)) {
      std::snprintf(text, sizeof text, "particle %d: %.3g of the term sum", i, diff);
      c.detail = text;
      return c;
    }
  }
  c.passed = true;
  return c;
}

// Every comparison of the production path, in order.
template <class Adapter>
std::vector<Comparison> compare_with_host(const std::string& helper, Match match) {
  const auto cloud = nbtest::plummer_cloud(4096 + 65, 2718);
  std::vector<Comparison> out;
  for (int extra : kSecondPass)
    out.push_back(compare_forces<Adapter>(helper, match, cloud, 4096 + extra, kSources));
  out.push_back(compare_forces<Adapter>(helper, match, cloud, 129, 20));
  out.push_back(compare_potential(helper, match, cloud, 4096 + 65, 0, 4096 + 65));
  out.push_back(compare_potential(helper, match, cloud, 300, 21, 278));
  return out;
}

}  // namespace gpucheck
