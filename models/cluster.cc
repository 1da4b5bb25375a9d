// Building a cluster: masses, systems, profile, scaling, binary orbits.
#include "cluster.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "binaries.h"
#include "energy.h"
#include "imf.h"
#include "profile.h"
#include "random.h"

namespace models {
namespace {

constexpr double kGravity = 4.300917270036279e-3;       // pc (km/s)^2 / Msun
constexpr double kMyrPerTimeUnit = 0.9777922216807891;  // Myr in 1 pc / (km/s)
constexpr double kAuPerPc = 206264.80624709636;

bool set(double value) { return !std::isnan(value); }

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// The mass function of the options, or why there is none.
PowerLaw mass_law(const ClusterOptions& o, std::string* fault) {
  const bool range = set(o.m_min) || set(o.m_max);
  if (o.imf == "equal") {
    if (range) *fault = "--m-min and --m-max apply to salpeter and kroupa, not to equal masses";
    if (set(o.mass) && !(o.mass > 0.0 && std::isfinite(o.mass))) {
      *fault = "--mass must be a positive number of Msun, found " + number(o.mass);
    }
    const double total = set(o.mass) ? o.mass : static_cast<double>(o.n);
    return imf_equal(total / static_cast<double>(o.n > 0 ? o.n : 1));
  }
  if (set(o.mass)) {
    *fault = "--mass applies to equal masses; an IMF sets the total mass itself";
    return {};
  }
  if (o.imf == "salpeter" || o.imf == "kroupa") {
    const bool kroupa = o.imf == "kroupa";
    const double lo = set(o.m_min) ? o.m_min : (kroupa ? 0.08 : 0.1);
    const double hi = set(o.m_max) ? o.m_max : 100.0;
    if (!(lo > 0.0) || !std::isfinite(hi)) {
      *fault = "--m-min must be positive and --m-max finite";
      return {};
    }
    if (!(lo < hi)) {
      *fault = "--m-min (" + number(lo) + ") must be below --m-max (" + number(hi) + ")";
      return {};
    }
    return kroupa ? imf_kroupa(lo, hi) : imf_salpeter(lo, hi);
  }
  if (o.imf.compare(0, 6, "power:") == 0) {
    if (range) {
      *fault =
          "--m-min and --m-max do not apply to power:, whose first and last masses are the range";
      return {};
    }
    try {
      return imf_power(o.imf.substr(6));
    } catch (const std::invalid_argument& e) {
      *fault = std::string("--imf ") + e.what();
      return {};
    }
  }
  *fault = "unknown IMF '" + o.imf + "' (equal, salpeter, kroupa or power:m0,a1,m1,...)";
  return {};
}

// Binaries whose apocentre exceeds half the mean spacing of systems at their
// radius, the spacing taken from the number of systems in the shell of the 64
// nearest in radius.
std::int64_t count_overlaps(const std::vector<double>& xs, const std::vector<Orbit>& orbits) {
  const std::vector<std::int64_t> order = radial_order(xs);
  const auto n = static_cast<std::int64_t>(order.size());
  std::vector<std::int64_t> rank(order.size());
  for (std::int64_t k = 0; k < n; ++k) rank[order[k]] = k;
  auto radius = [&](std::int64_t k) {
    const double* p = &xs[3 * order[k]];
    return std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
  };
  const std::int64_t half = n > 64 ? 32 : n / 2;
  std::int64_t count = 0;
  for (std::size_t b = 0; b < orbits.size(); ++b) {
    std::int64_t lo = rank[b] - half, hi = rank[b] + half;
    if (lo < 0) hi -= lo, lo = 0;
    if (hi > n - 1) lo -= hi - (n - 1), hi = n - 1;
    if (lo < 0) lo = 0;
    const double r_lo = radius(lo), r_hi = radius(hi);
    const double volume = 4.18879020478639 * (r_hi * r_hi * r_hi - r_lo * r_lo * r_lo);
    const double spacing = std::cbrt(volume / static_cast<double>(hi - lo));
    if (orbits[b].a * (1.0 + orbits[b].e) > 0.5 * spacing) ++count;
  }
  return count;
}

}  // namespace

std::string check_options(const ClusterOptions& o) {
  if (o.n < 2 || o.n > kMaxStars) {
    return "-n must lie in 2 .. " + std::to_string(kMaxStars) + ", found " + std::to_string(o.n);
  }
  if (o.profile != "plummer" && o.profile != "king") {
    return "unknown profile '" + o.profile + "' (plummer or king)";
  }
  if (!(o.w0 >= 1.0 && o.w0 <= 12.0)) return "--w0 must lie in [1, 12], found " + number(o.w0);
  if (!(o.binaries >= 0.0 && o.binaries <= 1.0)) {
    return "--binaries must lie in [0, 1], found " + number(o.binaries);
  }
  if (!(o.a_min > 0.0) || !std::isfinite(o.a_max) || !(o.a_min < o.a_max)) {
    return "--a-min (" + number(o.a_min) + " AU) must be positive and below --a-max (" +
           number(o.a_max) + " AU)";
  }
  if (o.ecc != "thermal" && o.ecc != "circular") {
    return "unknown eccentricity distribution '" + o.ecc + "' (thermal or circular)";
  }
  if (!(o.virial >= 0.0) || !std::isfinite(o.virial)) {
    return "--virial must be a number >= 0, found " + number(o.virial);
  }
  if (set(o.radius) && !(o.radius > 0.0 && std::isfinite(o.radius))) {
    return "--radius must be a positive number of pc, found " + number(o.radius);
  }
  if (set(o.tidal_radius)) {
    if (o.profile != "king") return "--tidal-radius needs --profile king";
    if (set(o.radius)) return "give --radius or --tidal-radius, not both";
    if (!(o.tidal_radius > 0.0 && std::isfinite(o.tidal_radius))) {
      return "--tidal-radius must be a positive number of pc, found " + number(o.tidal_radius);
    }
  }
  std::string fault;
  const PowerLaw law = mass_law(o, &fault);
  if (!fault.empty()) return fault;
  fault = check_law(law);
  if (!fault.empty()) return "the IMF cannot give masses: " + fault;
  if (o.n - binary_count(o.n, o.binaries) < 2) {
    return "the model needs at least 2 systems (stars or binaries)";
  }
  return "";
}

Cluster build_cluster(const ClusterOptions& o) {
  const std::string fault = check_options(o);
  if (!fault.empty()) throw std::invalid_argument(fault);
  std::string unused;
  const PowerLaw law = mass_law(o, &unused);
  const MassSampler sampler(law);
  Random random(o.seed);

  Cluster c;
  c.n = o.n;
  c.n_binaries = binary_count(o.n, o.binaries);
  const std::int64_t nb = c.n_binaries;
  const std::int64_t systems = o.n - nb;

  // Masses in Msun: each binary's primary from the IMF, its companion from
  // the mass ratio; then the single stars.
  c.m.resize(static_cast<std::size_t>(o.n));
  for (std::int64_t b = 0; b < nb; ++b) {
    c.m[2 * b] = sampler.draw(random);
    c.m[2 * b + 1] = companion_mass(c.m[2 * b], law_min(law), random);
  }
  for (std::int64_t i = 2 * nb; i < o.n; ++i) c.m[i] = sampler.draw(random);
  double total = 0.0;
  for (double m : c.m) total += m;
  for (double& m : c.m) m /= total;

  // The systems from the profile, in its own units.
  std::vector<double> ms(systems), xs(3 * systems), vs(3 * systems);
  const std::unique_ptr<Profile> profile =
      o.profile == "king" ? profile_king(o.w0) : profile_plummer();
  for (std::int64_t s = 0; s < systems; ++s) {
    ms[s] = s < nb ? c.m[2 * s] + c.m[2 * s + 1] : c.m[nb + s];
    profile->draw(random, &xs[3 * s], &vs[3 * s]);
  }

  // Scaling to potential energy -1/2 and kinetic energy Q / 2.
  centre(ms, xs, vs);
  const double w =
      systems <= kExactEnergyLimit ? pair_potential_energy(ms, xs) : shell_potential_energy(ms, xs);
  const double k = kinetic_energy(ms, vs);
  const double sx = w / -0.5;
  const double sv = k > 0.0 ? std::sqrt(0.5 * o.virial / k) : 0.0;
  for (double& x : xs) x *= sx;
  for (double& v : vs) v *= sv;
  c.potential = w / sx;
  c.kinetic = k * sv * sv;
  c.kT = 2.0 / 3.0 * c.kinetic / static_cast<double>(systems);
  c.tidal_radius = profile->tidal_radius() * sx;

  // Physical units.
  c.units.mass_msun = total;
  c.units.length_pc = set(o.tidal_radius) ? o.tidal_radius / c.tidal_radius
                      : set(o.radius)     ? o.radius
                                          : 1.0;
  c.units.velocity_kms = std::sqrt(kGravity * total / c.units.length_pc);
  c.units.time_myr = c.units.length_pc / c.units.velocity_kms * kMyrPerTimeUnit;

  // Stars: binary members about their centres of mass, then the singles.
  c.x.resize(3 * static_cast<std::size_t>(o.n));
  c.v.resize(3 * static_cast<std::size_t>(o.n));
  c.companion.assign(static_cast<std::size_t>(o.n), -1);
  const double au = 1.0 / (c.units.length_pc * kAuPerPc);
  std::vector<Orbit> orbits(static_cast<std::size_t>(nb));
  for (std::int64_t b = 0; b < nb; ++b) {
    Orbit& orbit = orbits[b];
    orbit = draw_orbit(o.a_min * au, o.a_max * au, o.ecc == "thermal", random);
    const double m1 = c.m[2 * b], m2 = c.m[2 * b + 1], mt = m1 + m2;
    double dx[3], dv[3];
    relative_state(orbit, mt, random, dx, dv);
    for (int d = 0; d < 3; ++d) {
      c.x[6 * b + d] = xs[3 * b + d] - m2 / mt * dx[d];
      c.x[6 * b + 3 + d] = xs[3 * b + d] + m1 / mt * dx[d];
      c.v[6 * b + d] = vs[3 * b + d] - m2 / mt * dv[d];
      c.v[6 * b + 3 + d] = vs[3 * b + d] + m1 / mt * dv[d];
    }
    c.companion[2 * b] = 2 * b + 1;
    c.companion[2 * b + 1] = 2 * b;
    if (m1 * m2 / (2.0 * orbit.a) < c.kT) ++c.n_soft;
  }
  for (std::int64_t s = nb; s < systems; ++s) {
    for (int d = 0; d < 3; ++d) {
      c.x[3 * (nb + s) + d] = xs[3 * s + d];
      c.v[3 * (nb + s) + d] = vs[3 * s + d];
    }
  }
  if (nb > 0) c.n_overlap = count_overlaps(xs, orbits);
  return c;
}

std::string units_text(const Units& u) {
  char text[512];
  std::snprintf(text, sizeof text,
                "N-body units (G = 1): length %.6g pc, mass %.6g Msun, time %.6g Myr, "
                "velocity %.6g km/s\n",
                u.length_pc, u.mass_msun, u.time_myr, u.velocity_kms);
  return text;
}

}  // namespace models
