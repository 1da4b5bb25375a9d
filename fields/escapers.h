// Stars that leave a cluster in a field: who leaves, the record of each, the
// rows of the escaper file and the checkpoint section "escapers".
//
// The criterion: a star leaves once it lies farther than k Jacobi radii
// from the density centre (r_J that of the bound mass, bound_mass.h), and
// with it every star bound to it as a pair (a binary leaves as one). The
// programs apply it at every output time, where every star is synchronised,
// on rank 0, and hand the decision to the other ranks.
#pragma once

#include <string>
#include <vector>

#include "field.h"

namespace fields {

// One star that left, as it was at its removal.
struct Escaper {
  double t = 0.0;  // time of the removal (the model's time scale)
  int id = 0;      // its slot: the index of the model file
  double m = 0.0;
  Vec3 x{}, v{};           // position and velocity in the field's frame, about the cluster centre
  double energy = 0.0;     // m (v^2 / 2 + pot): kinetic and the cluster's potential
  double e_field = 0.0;    // m phi(x): its share of the field's potential energy
  Vec3 centre_galactic{};  // the density centre in galactic coordinates
};

// What the escapers took, for the energy balance: e_escaped is the drop of
// the total energy at each removal (docs/energy-and-checkpoints.md).
struct EscapeTotals {
  double energy = 0.0;
  double mass = 0.0;
  long long n = 0;
};

// The slots that leave: live stars (mass > 0) farther than k r_jacobi from
// centre, then, until none is added, every live star bound to one of them:
// two-body energy (with softening eps) below 0 at a separation below the
// pair's own Jacobi radius in the cluster, r_jacobi (m_pair /
// m_jacobi)^(1/3). Ascending. None for k = 0, or for r_jacobi not finite.
std::vector<int> select_escapers(double k, double r_jacobi, double m_jacobi, const Vec3& centre,
                                 const std::vector<double>& mass, const std::vector<Vec3>& pos,
                                 const std::vector<Vec3>& vel, double eps);

// The escaper file: a header line of column names, then one row per star.
std::string escaper_header();
std::string escaper_row(const Escaper& e);  // without the line end

inline constexpr const char* kEscaperSection = "escapers";

// The checkpoint section: the escaper file's length at the checkpoint, the
// totals and every record so far (the slots that rest for good).
struct EscaperSection {
  long long file_bytes = 0;
  EscapeTotals totals;
  std::vector<Escaper> records;
};

// Text, one "name value..." line each, numbers as hexadecimal floats.
std::string encode_escaper_section(const EscaperSection& s);
// Throws FieldUsageError (field_options.h) for bytes that do not read back.
EscaperSection decode_escaper_section(const std::string& bytes);

}  // namespace fields
