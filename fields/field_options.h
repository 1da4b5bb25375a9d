// The command-line options of the external fields, taken out of the
// programs' arguments before the integrator's own options are read, and the
// field they describe. Physical units at this edge only: --mass (Msun) and
// --radius (pc, the virial radius) fix the N-body units (G = 1); the galaxy
// and orbit are converted with them.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "field.h"

namespace fields {

class FieldUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct FieldOptions {
  std::string galaxy;               // --galaxy kind:p,...+kind:p,... (see galaxy_parse.cc)
  double orbit_radius = 0;          // --orbit R, kpc: a circular orbit in the plane z = 0
  std::vector<double> orbit_state;  // --orbit-state x,y,z,vx,vy,vz (kpc, km/s)
  std::string tides;                // --tides hill|exact; empty: by the galaxy
  double omega = 0.0;               // --omega W: Hill's field in N-body units
  double mass = 0.0, radius = 0.0;  // --mass Msun, --radius pc
  std::string escapers;             // --escapers FILE
  double escape_radius = 2.0;       // --escape-radius K (Jacobi radii; 0: none leave)
  bool inertial_velocities = false;
  std::vector<std::string> given;
  bool was_given(const std::string& option) const;
  bool any_field() const { return !galaxy.empty() || omega > 0.0; }
};

// The field options as the programs' --help lists them, one per line, in
// the layout of the integrator's own options.
std::string field_usage();

// Removes the field options from argv[1 .. argc-1] (argc shrinks) and
// returns them. Throws FieldUsageError for a missing or malformed value.
FieldOptions take_field_options(int& argc, char** argv);

// The N-body units of a cluster of mass_msun within virial radius radius_pc.
struct Units {
  double mass_msun = 0.0, length_pc = 0.0, velocity_kms = 0.0, time_myr = 0.0;
};
Units nbody_units(double mass_msun, double radius_pc);
inline constexpr double kGravity = 4.300917270e-3;    // pc (km/s)^2 / Msun
inline constexpr double kMyrPerPcKms = 0.9777922216;  // 1 pc / (km/s) in Myr

// The galaxy of a --galaxy text in N-body units. Throws FieldUsageError for
// an unknown component, a wrong number of parameters or a non-positive one.
std::shared_ptr<Galaxy> parse_galaxy(const std::string& text, const Units& units);

// The field of the options (null where none was asked for) and the line
// that states it: the units, the field, omega and the Jacobi radius of a
// cluster of mass m. Throws FieldUsageError for options that do not fit
// together or lack the physical units they need.
struct FieldSetup {
  std::unique_ptr<Field> field;
  FieldOptions options;  // those the field was made from
  std::string line;
  Units units;
  bool physical = false;
};
FieldSetup make_field(const FieldOptions& o, double m);

// Refuses (FieldUsageError) a cluster whose half-mass radius about its
// centre of mass lies outside the Jacobi radius at time t.
void check_half_mass_radius(const Field& field, double t, const std::vector<double>& mass,
                            const std::vector<Vec3>& pos);

}  // namespace fields
