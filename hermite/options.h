// Command line of the integrator programs.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace hermite {

struct Options {
  std::string input = "data.inp";
  double t_end = 1.0;                     // end time (the model's clock)
  double dt_out = 0.125;                  // output interval, a power of two
  double eps = 1.0 / 64;                  // softening length
  double eta = 0.0;                       // accuracy parameter of the steps; 0: default_eta
  double dt_max = 0.125;                  // largest block step, a power of two, at most dt_out
  double shared_dt = 0.0;                 // > 0: one fixed shared step (a power of two)
  double energy_limit = 1e-2;             // |dE/E| that ends the run as failed; 0: none
  double progress = 10.0;                 // wall seconds between lines while a run stalls
  std::string energy_csv = "energy.csv";  // empty: none
  std::string snapshots;                  // prefix of the snapshot files; empty: none
  std::string radii_csv;                  // Lagrangian radii history; empty: none
  std::string snapshot_format;            // "text", "hdf5"; empty: by the prefix (.h5: hdf5)
  std::string checkpoint;                 // checkpoint file; empty: none
  std::string restart;                    // checkpoint to continue from; empty: a new run
  bool have_input = false;                // a model file was named
  std::vector<std::string> given;         // the options named on the command line
  std::string core_csv;                   // density centre, core, binaries; empty: none
  std::string escapers_csv;  // the field's escaper file (fields/), for the output checks only
  bool resident = true;      // the library keeps and predicts the particles
  // Regularised subsystems: "on", "off", or "" (on for an unsoftened run,
  // off otherwise), and the criteria (0: automatic; regularisation.h).
  std::string regularise;
  double r_cl = 0.0, dt_cl = 0.0, gamma_min = 1e-7, gamma_max = 0.05;
  double gamma_slow = 1e-5;         // 0: no slow-down
  std::string encounters_csv;       // event log of the subsystems; empty: none
  std::vector<double> mass_groups;  // group boundaries / initial mean mass; empty: none
  bool help = false;
  bool version = false;  // --version: print the version and stop
  bool was_given(const std::string& option) const;
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the arguments (argv[0] is the program). Throws UsageError for an
// unknown option, a missing or unreadable value, or a value out of range.
Options parse_options(int argc, const char* const* argv);

std::string usage(const std::string& program, int order);

// Most output intervals one run may span: beyond this an end time is taken
// for a mistake, not a run anyone could wait for.
inline constexpr double kMaxOutputs = 16777216.0;  // 2^24

// Most shared steps one run may take (--shared-dt): a step so small that
// the end time lies further is a mistake, not a run (2^-60 would step for
// years).
inline constexpr double kMaxSharedSteps = 1e9;

// Largest --eta accepted: a step as long as the time scale it is taken
// from, or longer, tracks nothing.
inline constexpr double kMaxEta = 1.0;

// An --eta above this many times the order's default draws a warning.
inline constexpr double kEtaWarnFactor = 4.0;

// Refuses an end time that does not lie after the model's time t0, that
// lies more than kMaxOutputs output intervals beyond it, or more than
// kMaxSharedSteps shared steps; the message names the output intervals and
// steps it would take.
void check_end_time(const Options& o, double t0);

// The warning for an --eta above kEtaWarnFactor times default_eta(order),
// with that threshold; empty where eta is not above it.
std::string eta_warning(double eta, int order);

// Whether the run carries regularised subsystems.
bool regularised(const Options& o);

// True for 2^k, k any integer.
bool power_of_two(double x);

}  // namespace hermite
