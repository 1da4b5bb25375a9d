#include "options.h"
#include "mass_groups.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "scheme.h"

namespace hermite {

bool power_of_two(double x) {
  if (!(x > 0.0) || !std::isfinite(x)) return false;
  int e = 0;
  return std::frexp(x, &e) == 0.5;
}

namespace {

double number(const std::string& opt, const std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(v)) {
    throw UsageError(opt + " needs a number, found '" + text + "'");
  }
  return v;
}

double positive(const std::string& opt, const std::string& text) {
  const double v = number(opt, text);
  if (!(v > 0.0)) throw UsageError(opt + " must be positive, found '" + text + "'");
  return v;
}

double non_negative(const std::string& opt, const std::string& text) {
  const double v = number(opt, text);
  if (!(v >= 0.0)) throw UsageError(opt + " must not be negative, found '" + text + "'");
  return v;
}

std::string shortest(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", v);
  return text;
}

double step(const std::string& opt, const std::string& text) {
  const double v = positive(opt, text);
  if (!power_of_two(v)) {
    throw UsageError(opt + " must be a power of two (such as 0.125 or 1), found '" + text + "'");
  }
  return v;
}

}  // namespace

bool regularised(const Options& o) {
  return o.regularise == "on" || (o.regularise.empty() && o.eps == 0.0);
}

bool Options::was_given(const std::string& option) const {
  for (const std::string& g : given) {
    if (g == option) return true;
  }
  return false;
}

Options parse_options(int argc, const char* const* argv) {
  Options o;
  bool have_input = false, have_dt_max = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i], value;
    if (arg == "-h" || arg == "--help") {
      o.help = true;
      continue;
    }
    if (arg == "--version") {
      o.version = true;
      continue;
    }
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      if (arg.size() > 1 && arg[0] == '-') throw UsageError("unknown option '" + arg + "'");
      if (have_input) throw UsageError("more than one input file ('" + arg + "')");
      o.input = arg;
      have_input = true;
      o.have_input = true;
      continue;
    }
    const auto eq = arg.find('=');
    if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
    }
    // An option this program does not know is named as such, whether or
    // not something follows it. Every option that takes a value is listed
    // here (the test Options.EveryOptionOfTheUsageIsKnown holds the list to
    // the usage text).
    static const char* const kValued[] = {
        "--t-end",      "--dt-out",     "--eps",          "--eta",
        "--dt-max",     "--shared-dt",  "--energy-limit", "--progress",
        "--energy",     "--snapshots",  "--radii",        "--snapshot-format",
        "--checkpoint", "--restart",    "--core",         "--regularise",
        "--rcl",        "--dtcl",       "--gamma-min",    "--gamma-max",
        "--gamma-slow", "--encounters", "--mass-groups",  "--resident"};
    bool known = false;
    for (const char* k : kValued) known = known || arg == k;
    if (!known) throw UsageError("unknown option '" + arg + "'");
    if (eq == std::string::npos) {
      if (i + 1 >= argc) throw UsageError(arg + " needs a value");
      value = argv[++i];
    }
    o.given.push_back(arg);
    if (arg == "--t-end") {
      o.t_end = number(arg, value);
    } else if (arg == "--dt-out") {
      o.dt_out = step(arg, value);
    } else if (arg == "--eps") {
      o.eps = non_negative(arg, value);
    } else if (arg == "--eta") {
      o.eta = positive(arg, value);
      if (o.eta > kMaxEta) {
        throw UsageError("--eta must not exceed " + shortest(kMaxEta) + ", found '" + value +
                         "': a step would outlast the time scale it is taken from");
      }
    } else if (arg == "--dt-max") {
      o.dt_max = step(arg, value);
      have_dt_max = true;
    } else if (arg == "--shared-dt") {
      o.shared_dt = step(arg, value);
    } else if (arg == "--energy-limit") {
      o.energy_limit = non_negative(arg, value);
    } else if (arg == "--progress") {
      o.progress = non_negative(arg, value);
    } else if (arg == "--energy") {
      o.energy_csv = value;
    } else if (arg == "--snapshots") {
      o.snapshots = value;
    } else if (arg == "--radii") {
      o.radii_csv = value;
    } else if (arg == "--snapshot-format") {
      if (value != "text" && value != "hdf5") {
        throw UsageError("--snapshot-format must be 'text' or 'hdf5', found '" + value + "'");
      }
      o.snapshot_format = value;
    } else if (arg == "--checkpoint") {
      o.checkpoint = value;
    } else if (arg == "--restart") {
      if (value.empty()) throw UsageError("--restart needs a checkpoint file");
      o.restart = value;
    } else if (arg == "--core") {
      o.core_csv = value;
    } else if (arg == "--resident") {
      if (value != "on" && value != "off") {
        throw UsageError("--resident must be 'on' or 'off', found '" + value + "'");
      }
      o.resident = value == "on";
    } else if (arg == "--regularise") {
      if (value != "on" && value != "off") {
        throw UsageError("--regularise must be 'on' or 'off', found '" + value + "'");
      }
      o.regularise = value;
    } else if (arg == "--rcl") {
      o.r_cl = positive(arg, value);
    } else if (arg == "--dtcl") {
      o.dt_cl = positive(arg, value);
    } else if (arg == "--gamma-min") {
      o.gamma_min = positive(arg, value);
    } else if (arg == "--gamma-max") {
      o.gamma_max = positive(arg, value);
    } else if (arg == "--gamma-slow") {
      o.gamma_slow = non_negative(arg, value);
    } else if (arg == "--encounters") {
      o.encounters_csv = value;
    } else if (arg == "--mass-groups") {
      try {
        o.mass_groups = diagnostics::parse_mass_groups(value);
      } catch (const std::invalid_argument& e) {
        throw UsageError(std::string("--mass-groups: ") + e.what());
      }
    } else {
      throw UsageError("unknown option '" + arg + "'");
    }
  }
  if (o.dt_max > o.dt_out) {
    if (have_dt_max) throw UsageError("--dt-max must not exceed --dt-out");
    o.dt_max = o.dt_out;
  }
  if (o.shared_dt > o.dt_out) throw UsageError("--shared-dt must not exceed --dt-out");
  if (!(o.gamma_min < o.gamma_max)) throw UsageError("--gamma-min must lie below --gamma-max");
  if (!(o.gamma_slow < o.gamma_max)) throw UsageError("--gamma-slow must lie below --gamma-max");
  if (regularised(o) && o.shared_dt > 0.0) {
    throw UsageError("regularised subsystems need block steps: --shared-dt with --regularise on");
  }
  return o;
}

std::string usage(const std::string& program, int order) {
  return "usage: " + program +
         " [options] [model file]\n"
         "Integrates the model file (default data.inp) with the order-" +
         std::to_string(order) +
         " Hermite scheme on block time\n"
         "steps and reports energy conservation and speed.\n"
         "  --t-end T        end time; the run stops at the first output at or after it (default "
         "1)\n"
         "  --dt-out D       output interval, a power of two (default 0.125)\n"
         "  --eps E          softening length (default 0.015625); 0 for an unsoftened run\n"
         "  --eta H          accuracy parameter of the time steps (default " +
         shortest(default_eta(order)) +
         " at this order)\n"
         "  --dt-max D       largest block step, a power of two (default 0.125)\n"
         "  --shared-dt H    one fixed step H (a power of two) for all particles\n"
         "  --energy-limit L stop with status 1 at the first output where |dE/E| exceeds L\n"
         "                   (default 0.01; 0 for no limit)\n"
         "  --progress S     while the run stalls, a line every S seconds of wall time\n"
         "                   (default 10; 0 for none)\n"
         "  --energy FILE    energy history as CSV (default energy.csv; '' for none)\n"
         "  --snapshots P    write a model file P0001.inp, P0002.inp, ... at every output\n"
         "  --radii FILE     radii about the centre of mass holding 1, 10, 25, 50, 75 and 90%\n"
         "                   of the mass, as CSV at every output\n"
         "  --snapshot-format F  text (default) or hdf5 (P0001.h5, ...; also for a prefix\n"
         "                   ending in .h5)\n"
         "  --checkpoint FILE  the whole state at every output and when stopped by SIGTERM,\n"
         "                   SIGINT or SIGUSR1, to continue the run exactly\n"
         "  --restart FILE   continue from a checkpoint; only --t-end, the output names and\n"
         "                   --progress may differ from the checkpointed run\n"
         "  --core FILE      density centre, core radius and density, radii about the density\n"
         "                   centre, hard binaries and escapers, as CSV at every output\n"
         "  --resident on|off  on (default): the force library keeps the particles and\n"
         "                   predicts them itself, and each block step sends it the states\n"
         "                   of its active particles; off: every block step predicts all\n"
         "                   particles here and sends them (the same bits either way\n"
         "                   where eps > 0; at eps 0 the last bits differ)\n"
         "  --regularise on|off  regularised subsystems for close encounters and binaries\n"
         "                   (default: on with --eps 0, off otherwise)\n"
         "  --rcl R          close-encounter distance of a mean-mass pair (default 4 r_h / N,\n"
         "                   recomputed every time unit)\n"
         "  --dtcl D         step below which a particle is watched for an encounter\n"
         "                   (default 0.04 sqrt(R_cl^3 / m_mean))\n"
         "  --gamma-min G    perturbation below which a pair moves on its Kepler orbit\n"
         "                   in closed form (default 1e-7)\n"
         "  --gamma-max G    perturbation above which a pair wider than its R_cl ends\n"
         "                   (default 0.05)\n"
         "  --gamma-slow G   slow-down of weakly perturbed pairs: kappa gamma at most G\n"
         "                   (default 1e-5; 0: none)\n"
         "  --encounters FILE  log of the subsystems formed, changed and ended, as CSV\n"
         "  --mass-groups B1,B2,...  with --core: groups of particles by initial mass m / <m>\n"
         "                   (below B1, B1 to B2, ..., above the last), fixed at the start\n"
         "                   and kept by a restart;\n"
         "                   each adds its r10, r50 about the density centre and the mean mass\n"
         "                   inside r10 as core columns gK_r10,gK_r50,gK_m10 (K from 0)\n"
         "  --version        the program's version\n"
         "  -h, --help       this text\n";
}

void check_end_time(const Options& o, double t0) {
  if (!(o.t_end > t0)) {
    throw UsageError("the end time " + shortest(o.t_end) + " does not lie after the model's time " +
                     shortest(t0));
  }
  const double outputs = std::ceil((o.t_end - t0) / o.dt_out);
  if (outputs > kMaxOutputs) {
    const double steps = (o.t_end - t0) / (o.shared_dt > 0.0 ? o.shared_dt : o.dt_max);
    throw UsageError("the end time " + shortest(o.t_end) + " lies " + shortest(outputs) +
                     " output intervals of " + shortest(o.dt_out) + " ahead (at least " +
                     shortest(steps) + " block steps); at most " + shortest(kMaxOutputs) +
                     " are allowed: raise --dt-out or lower --t-end");
  }
  if (o.shared_dt > 0.0) {
    const double steps = std::ceil((o.t_end - t0) / o.shared_dt);
    if (steps > kMaxSharedSteps) {
      throw UsageError("--shared-dt " + shortest(o.shared_dt) + " would take " + shortest(steps) +
                       " steps to reach the end time " + shortest(o.t_end) + "; at most " +
                       shortest(kMaxSharedSteps) + " are allowed: raise --shared-dt or lower " +
                       "--t-end");
    }
  }
}

std::string eta_warning(double eta, int order) {
  const double limit = kEtaWarnFactor * default_eta(order);
  if (!(eta > limit)) return "";
  return "--eta " + shortest(eta) + " is more than " + shortest(kEtaWarnFactor) +
         " times this order's default " + shortest(default_eta(order)) + " (above " +
         shortest(limit) +
         "): the steps may be too long for the result to be trusted; watch |dE/E|";
}

}  // namespace hermite
