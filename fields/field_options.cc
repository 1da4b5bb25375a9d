#include "field_options.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>

namespace fields {
namespace {

double number(const std::string& opt, const std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(v)) {
    throw FieldUsageError(opt + " needs a number, found '" + text + "'");
  }
  return v;
}

double positive(const std::string& opt, const std::string& text) {
  const double v = number(opt, text);
  if (!(v > 0.0)) throw FieldUsageError(opt + " must be positive, found '" + text + "'");
  return v;
}

std::string num(double v) {
  char t[32];
  std::snprintf(t, sizeof t, "%.6g", v);
  return t;
}

}  // namespace

bool FieldOptions::was_given(const std::string& option) const {
  return std::find(given.begin(), given.end(), option) != given.end();
}

std::string field_usage() {
  return "External field (a galaxy's tide; docs/tidal-fields.md):\n"
         "  --omega W        Hill's field of a point-mass galaxy, angular velocity W in N-body\n"
         "                   units, in the frame rotating with the cluster's circular orbit\n"
         "  --galaxy G       a galaxy of components joined by '+', in Msun, kpc and km/s:\n"
         "                   point-mass:M, plummer:M,b, hernquist:M,a, miyamoto-nagai:M,a,b,\n"
         "                   nfw:M,r,c (M within r, c = r / r_s), logarithmic:v0,rc,q\n"
         "  --orbit R        with --galaxy: a circular orbit of radius R kpc in the plane z = 0,\n"
         "                   integrated in the frame rotating with it\n"
         "  --orbit-state x,y,z,vx,vy,vz  with --galaxy: the orbit from this position (kpc)\n"
         "                   and velocity (km/s), in the frame moving along it\n"
         "  --tides hill|exact  with --orbit: Hill's linear tide (one point mass only, and its\n"
         "                   default) or the galaxy's exact field (the default otherwise)\n"
         "  --mass M         the cluster's mass in Msun, with --radius: the N-body units\n"
         "  --radius R       the cluster's virial radius in pc (needed with --galaxy)\n"
         "  --escape-radius K  stars beyond K Jacobi radii of the density centre leave at\n"
         "                   each output (default 2; 0: none leave)\n"
         "  --escapers FILE  one row per star that left, as CSV\n"
         "  --inertial-velocities  snapshots hold the velocities of the non-rotating frame\n";
}

FieldOptions take_field_options(int& argc, char** argv) {
  static const char* const kValued[] = {"--galaxy", "--orbit",    "--orbit-state",
                                        "--tides",  "--omega",    "--mass",
                                        "--radius", "--escapers", "--escape-radius"};
  FieldOptions o;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i], value;
    const auto eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    if (name == "--inertial-velocities") {
      if (eq != std::string::npos) throw FieldUsageError("--inertial-velocities takes no value");
      o.inertial_velocities = true;
      o.given.push_back(name);
      continue;
    }
    bool ours = false;
    for (const char* v : kValued) ours = ours || name == v;
    if (!ours) {
      argv[kept++] = argv[i];
      continue;
    }
    if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else {
      if (i + 1 >= argc) throw FieldUsageError(name + " needs a value");
      value = argv[++i];
    }
    o.given.push_back(name);
    if (name == "--galaxy") {
      if (value.empty()) throw FieldUsageError("--galaxy needs its components");
      o.galaxy = value;
    } else if (name == "--orbit") {
      o.orbit_radius = positive(name, value);
    } else if (name == "--orbit-state") {
      o.orbit_state.clear();
      std::size_t start = 0;
      while (true) {
        const std::size_t comma = value.find(',', start);
        o.orbit_state.push_back(number(name, value.substr(start, comma - start)));
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
      if (o.orbit_state.size() != 6) {
        throw FieldUsageError("--orbit-state needs x,y,z,vx,vy,vz (kpc, km/s), found '" + value +
                              "'");
      }
    } else if (name == "--tides") {
      if (value != "hill" && value != "exact") {
        throw FieldUsageError("--tides must be 'hill' or 'exact', found '" + value + "'");
      }
      o.tides = value;
    } else if (name == "--omega") {
      o.omega = positive(name, value);
    } else if (name == "--mass") {
      o.mass = positive(name, value);
    } else if (name == "--radius") {
      o.radius = positive(name, value);
    } else if (name == "--escapers") {
      if (value.empty()) throw FieldUsageError("--escapers needs a file name");
      o.escapers = value;
    } else if (name == "--escape-radius") {
      o.escape_radius = number(name, value);
      if (!(o.escape_radius >= 0.0)) {
        throw FieldUsageError("--escape-radius must not be negative, found '" + value + "'");
      }
    }
  }
  argc = kept;
  argv[argc] = nullptr;
  return o;
}

Units nbody_units(double mass_msun, double radius_pc) {
  Units u;
  u.mass_msun = mass_msun;
  u.length_pc = radius_pc;
  u.velocity_kms = std::sqrt(kGravity * mass_msun / radius_pc);
  u.time_myr = radius_pc / u.velocity_kms * kMyrPerPcKms;
  return u;
}

FieldSetup make_field(const FieldOptions& o, double m) {
  FieldSetup s;
  s.options = o;
  if (!o.any_field()) {
    for (const char* opt : {"--orbit", "--orbit-state", "--tides", "--mass", "--radius",
                            "--escapers", "--escape-radius", "--inertial-velocities"}) {
      if (o.was_given(opt)) {
        throw FieldUsageError(std::string(opt) + " needs an external field (--galaxy or --omega)");
      }
    }
    return s;
  }
  if (o.was_given("--mass") != o.was_given("--radius")) {
    throw FieldUsageError("--mass and --radius fix the N-body units together: give both");
  }
  s.physical = o.was_given("--mass");
  if (s.physical) s.units = nbody_units(o.mass, o.radius);
  if (o.omega > 0.0) {
    for (const char* opt : {"--galaxy", "--orbit", "--orbit-state", "--tides"}) {
      if (o.was_given(opt)) {
        throw FieldUsageError(std::string(opt) + " does not go with --omega (Hill's field in " +
                              "N-body units)");
      }
    }
    s.field = make_hill_field(o.omega);
  } else {
    if (!s.physical) {
      throw FieldUsageError(
          "--galaxy needs --mass (Msun) and --radius (pc, the virial radius) to fix the N-body "
          "units");
    }
    const bool circular = o.orbit_radius > 0.0, general = !o.orbit_state.empty();
    if (circular == general) {
      throw FieldUsageError("--galaxy needs one of --orbit R (kpc) or --orbit-state");
    }
    auto g = parse_galaxy(o.galaxy, s.units);
    const double kpc = 1000.0 / s.units.length_pc, kms = 1.0 / s.units.velocity_kms;
    const bool point =
        o.galaxy.rfind("point-mass:", 0) == 0 && o.galaxy.find('+') == std::string::npos;
    if (circular) {
      const std::string tides = o.tides.empty() ? (point ? "hill" : "exact") : o.tides;
      const double r = o.orbit_radius * kpc;
      if (tides == "hill") {
        if (!point) {
          throw FieldUsageError(
              "--tides hill is Hill's approximation of a point-mass galaxy; use --tides exact");
        }
        const double gm = -g->acceleration(Vec3{r, 0.0, 0.0})[0] * r * r;
        s.field = make_hill_field(std::sqrt(gm / (r * r * r)), r);
      } else {
        try {
          s.field = make_rotating_field(g, r);
        } catch (const std::invalid_argument& e) {
          throw FieldUsageError(std::string("--orbit: ") + e.what());
        }
      }
    } else {
      if (o.tides == "hill") {
        throw FieldUsageError("--tides hill needs a circular --orbit, not --orbit-state");
      }
      const auto& q = o.orbit_state;
      const Vec3 r0{q[0] * kpc, q[1] * kpc, q[2] * kpc}, v0{q[3] * kms, q[4] * kms, q[5] * kms};
      if (!(hermite::norm(r0) > 0.0)) {
        throw FieldUsageError("--orbit-state: the orbit cannot start at the galaxy's centre");
      }
      s.field = make_orbit_field(g, r0, v0);
    }
  }
  const double rj = s.field->jacobi_radius(0.0, m), w = s.field->frame_omega();
  std::string line = "field: " + s.field->describe();
  line += "; Jacobi radius " + num(rj) + " for mass " + num(m);
  if (s.physical) {
    const Units& u = s.units;
    line += " (" + num(rj * u.length_pc) + " pc); units: mass " + num(u.mass_msun) +
            " Msun, length " + num(u.length_pc) + " pc, velocity " + num(u.velocity_kms) +
            " km/s, time " + num(u.time_myr) + " Myr";
    if (w > 0.0) {
      line += ", omega = " + num(w * u.velocity_kms / (u.length_pc / 1000.0)) + " km/s/kpc";
    }
  } else {
    line += "; N-body units without a physical scale";
  }
  s.line = line;
  return s;
}

void check_half_mass_radius(const Field& field, double t, const std::vector<double>& mass,
                            const std::vector<Vec3>& pos) {
  double total = 0.0;
  Vec3 c{};
  for (std::size_t i = 0; i < mass.size(); ++i) {
    total += mass[i];
    for (int k = 0; k < 3; ++k) c[k] += mass[i] * pos[i][k];
  }
  if (!(total > 0.0)) return;
  for (double& x : c) x /= total;
  std::vector<std::pair<double, double>> r(mass.size());
  for (std::size_t i = 0; i < mass.size(); ++i) {
    r[i] = {std::hypot(pos[i][0] - c[0], pos[i][1] - c[1], pos[i][2] - c[2]), mass[i]};
  }
  std::sort(r.begin(), r.end());
  double inside = 0.0, rh = 0.0;
  for (const auto& [ri, mi] : r) {
    inside += mi;
    rh = ri;
    if (inside >= 0.5 * total) break;
  }
  const double rj = field.jacobi_radius(t, total);
  if (rh > rj) {
    throw FieldUsageError("the half-mass radius " + num(rh) + " lies outside the Jacobi radius " +
                          num(rj) + ": the cluster would not be bound by the field");
  }
}

}  // namespace fields
