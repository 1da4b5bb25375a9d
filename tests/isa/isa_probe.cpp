// Prints which instruction-set variant the host library of order
// PROBE_ORDER runs, how many kernels it registered, and a digest of the bits
// of calc_force and calc_pot over calls with full and partial tiles and
// blocks, for the variant test to compare.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "forcecore/host/host_control.h"
#include "forcecore/isa/isa_dispatch.h"

#if PROBE_ORDER == 4
#include "nbforce4.h"
#elif PROBE_ORDER == 6
#include "nbforce6.h"
#else
#include "nbforce8.h"
#endif

namespace {

// FNV-1a over raw bytes: any changed bit changes the digest.
struct Digest {
  std::uint64_t h = 1469598103934665603ull;
  void add(const void* p, std::size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    for (std::size_t k = 0; k < n; ++k) h = (h ^ b[k]) * 1099511628211ull;
  }
};

// Reproducible values in [-1, 1).
struct Lcg {
  std::uint64_t s = 12345;
  double next() {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(s >> 11) / 4503599627370496.0 - 1.0;
  }
};

void split(double x, float* hi, float* lo) { nbforce_split(x, hi, lo); }

}  // namespace

int main() {
  const int n = 3001;  // 23 full tiles of 128 and a partial one
  Lcg rng;
  std::vector<Predictor> pred(n);
  std::vector<Posm> posm(n);
  for (int i = 0; i < n; ++i) {
    Predictor& p = pred[i];
    std::memset(&p, 0, sizeof p);
    for (int c = 0; c < 3; ++c) {
      const double x = 10.0 * rng.next();
      split(x, &p.posH[c], &p.posL[c]);
      split(x, &posm[i].pos[c].x, &posm[i].pos[c].y);
      p.vel[c] = static_cast<float>(rng.next());
#if PROBE_ORDER >= 6
      p.acc[c] = static_cast<float>(rng.next());
#endif
#if PROBE_ORDER >= 8
      p.jrk[c] = static_cast<float>(rng.next());
#endif
    }
    p.mass = static_cast<float>(1.0 / n * (1.5 + rng.next()));
    posm[i].mass = p.mass;
  }

  Digest d;
  double stamp = 0.0, ip_time = 0.0, fo_time = 0.0;
  const int calls[][2] = {{1, 5}, {70, n}, {129, 200}, {n, n}};
  for (const auto& call : calls) {
    std::vector<Force> force(static_cast<std::size_t>(call[0]));
    calc_force(call[0], call[1], pred.data(), pred.data(), force.data(), 1e-4f, &stamp, &ip_time,
               &fo_time);
    d.add(force.data(), force.size() * sizeof(Force));
  }
  std::vector<double> pot(n);
  calc_pot(n, 0, n, 1e-4f, posm.data(), pot.data());
  d.add(pot.data(), pot.size() * sizeof(double));

  std::printf("isa %s\nkernels %zu\ndigest %016llx\n", nbforce_host_isa(),
              nbf::host::registered_kernels().size(), static_cast<unsigned long long>(d.h));
  return 0;
}
