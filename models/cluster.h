// A star cluster in standard N-body units: the options that describe it in
// physical units, the checks that refuse what cannot be built, and the model
// built from them.
//
// Contract of build_cluster:
//  - n stars; round(F n / (1 + F)) of the systems are binaries (at most n / 2),
//    the rest single stars; a binary's two members are adjacent, primary first.
//  - Standard units: G = 1, total mass 1, with every binary counted as one
//    body at its centre of mass: the systems' potential energy is -1/2 and
//    their kinetic energy Q/2 (E = -1/4 at Q = 1/2), centre of mass at the
//    origin and at rest. Up to kExactEnergyLimit systems the potential energy
//    is the direct pair sum; above it the sum over spherical shells of the
//    sample itself about its centre of mass (the monopole part, O(N log N)).
//  - The same options (seed included) give the same doubles on every machine
//    with the same C mathematical library.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace models {

inline constexpr std::uint64_t kDefaultSeed = 19660101;
inline constexpr std::int64_t kMaxStars = std::int64_t{1} << 26;
inline constexpr std::int64_t kExactEnergyLimit = 20000;
inline constexpr double kUnset = std::numeric_limits<double>::quiet_NaN();

struct ClusterOptions {
  std::int64_t n = 0;  // stars, binary members included
  std::uint64_t seed = kDefaultSeed;
  std::string profile = "plummer";        // plummer | king
  double w0 = 6.0;                        // King central potential
  std::string imf = "equal";              // equal | salpeter | kroupa | power:m0,a1,m1,...
  double m_min = kUnset, m_max = kUnset;  // Msun; unset: the IMF's own range
  double binaries = 0.0;                  // fraction of systems that are binaries
  double a_min = 1.0, a_max = 1000.0;     // semi-major axes, AU
  std::string ecc = "thermal";            // thermal | circular
  double virial = 0.5;                    // Q = K / |W|
  double mass = kUnset;                   // total Msun of equal masses; unset: 1 Msun a star
  double radius = kUnset;                 // virial radius, pc; unset: 1
  double tidal_radius = kUnset;           // King truncation radius, pc, instead of radius
};

// The physical size of the N-body units.
struct Units {
  double length_pc = 1.0, mass_msun = 1.0, time_myr = 1.0, velocity_kms = 1.0;
};

struct Cluster {
  std::int64_t n = 0;
  std::vector<double> m;                // N-body masses
  std::vector<double> x, v;             // 3 per star
  std::vector<std::int64_t> companion;  // index of the other member, or -1
  std::int64_t n_binaries = 0;
  Units units;
  double kT = 0.0;                        // 2/3 of the systems' mean kinetic energy
  double tidal_radius = 0.0;              // N-body units; 0 for a profile without one
  std::int64_t n_soft = 0;                // binaries bound by less than kT
  std::int64_t n_overlap = 0;             // binaries wider than half the local spacing
  double kinetic = 0.0, potential = 0.0;  // of the systems, after scaling
};

// Empty where the options describe a model; otherwise one line saying what
// is wrong (m_min >= m_max, W0 outside [1, 12], a fraction outside [0, 1],
// a_min >= a_max, an IMF that cannot give the stars, ...).
std::string check_options(const ClusterOptions& options);

// Throws std::invalid_argument with check_options' message where it fails.
Cluster build_cluster(const ClusterOptions& options);

// Lines "length 1 = ... pc" etc. for the user.
std::string units_text(const Units& units);

}  // namespace models
