// Option parsing and the help text of cluster_gen.
#include "command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace models {
namespace {

bool parse_double(const std::string& text, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (*end != '\0' || errno == ERANGE || !std::isfinite(value)) return false;
  *out = value;
  return true;
}

bool parse_unsigned(const std::string& text, unsigned long long* out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE) return false;
  *out = value;
  return true;
}

}  // namespace

Request read_command_line(int argc, const char* const argv[]) {
  Request r;
  auto usage = [&r](const std::string& why) {
    r.outcome = Outcome::kUsage;
    r.message = why;
    return r;
  };
  for (int i = 1; i < argc; ++i) {
    if (i > 1) r.arguments += ' ';
    r.arguments += argv[i];
  }
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    std::string value;
    bool attached = false;
    const std::size_t eq = name.find('=');
    if (name.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      attached = true;
    } else if (name.size() > 2 && name[0] == '-' && name[1] != '-') {
      value = name.substr(2);
      name = name.substr(0, 2);
      attached = true;
    }
    if (name == "-h" || name == "--help" || name == "--version" || name == "-q" ||
        name == "--quiet") {
      if (attached) return usage("'" + std::string(argv[i]) + "' takes no value");
      if (name == "-q" || name == "--quiet") {
        r.quiet = true;
        continue;
      }
      r.outcome = name == "--version" ? Outcome::kVersion : Outcome::kHelp;
      return r;
    }
    static const char* const kNames[] = {
        "-n",       "--stars",    "-s",       "--seed",        "-o",
        "--output", "--profile",  "--w0",     "--imf",         "--m-min",
        "--m-max",  "--binaries", "--a-min",  "--a-max",       "--ecc",
        "--virial", "--mass",     "--radius", "--tidal-radius"};
    bool known = false;
    for (const char* k : kNames) known = known || name == k;
    if (!known) return usage("unknown option '" + std::string(argv[i]) + "'");
    if (!attached) {
      if (i + 1 >= argc) return usage("'" + name + "' needs a value");
      value = argv[++i];
    }
    const std::string quoted = "'" + name + " " + value + "'";
    ClusterOptions& o = r.options;
    if (name == "-n" || name == "--stars") {
      unsigned long long n = 0;
      if (!parse_unsigned(value, &n) || n > static_cast<unsigned long long>(kMaxStars)) {
        return usage(quoted + ": the number of stars must be an integer in 2 .. " +
                     std::to_string(kMaxStars));
      }
      o.n = static_cast<std::int64_t>(n);
    } else if (name == "-s" || name == "--seed") {
      unsigned long long seed = 0;
      if (!parse_unsigned(value, &seed))
        return usage(quoted + ": the seed must be an integer >= 0");
      o.seed = seed;
    } else if (name == "-o" || name == "--output") {
      if (value.empty()) return usage("'-o' needs a file name");
      r.output = value;
    } else if (name == "--profile") {
      o.profile = value;
    } else if (name == "--imf") {
      o.imf = value;
    } else if (name == "--ecc") {
      o.ecc = value;
    } else {
      double x = 0.0;
      if (!parse_double(value, &x)) return usage(quoted + ": not a number");
      double* target = name == "--w0"         ? &o.w0
                       : name == "--m-min"    ? &o.m_min
                       : name == "--m-max"    ? &o.m_max
                       : name == "--binaries" ? &o.binaries
                       : name == "--a-min"    ? &o.a_min
                       : name == "--a-max"    ? &o.a_max
                       : name == "--virial"   ? &o.virial
                       : name == "--mass"     ? &o.mass
                       : name == "--radius"   ? &o.radius
                                              : &o.tidal_radius;
      *target = x;
    }
  }
  if (r.options.n == 0) return usage("give the number of stars with -n");
  return r;
}

std::string usage_text() {
  return R"(Usage: cluster_gen -n N [-s SEED] [-o FILE] [-q] [--profile plummer|king] [--w0 W]
         [--imf equal|salpeter|kroupa|power:m0,a1,m1,...] [--m-min M] [--m-max M]
         [--binaries F] [--a-min A] [--a-max A] [--ecc thermal|circular]
         [--virial Q] [--mass M] [--radius R] [--tidal-radius R]
       cluster_gen --help | --version

Writes a star cluster in standard N-body units (G = 1, total mass 1, each binary
counted as one body at its centre of mass: potential energy -1/2, kinetic energy
Q/2, so E = -1/4 at Q = 0.5) to FILE (default data.inp; HDF5 for a name ending
in .h5 or .hdf5, with a companion dataset and the physical scale as attributes).

  -n N               stars, binary members included (2 .. 67108864)
  -s SEED            seed of the generator (default 19660101)
  -o FILE            model file, written complete or not at all
  -q                 print nothing but errors
  --profile P        plummer (default) or king
  --w0 W             King central potential W0 / sigma^2, 1 .. 12 (default 6)
  --imf I            equal (default), salpeter (alpha 2.35, 0.1 .. 100 Msun),
                     kroupa (alpha 0.3 below 0.08, 1.3 to 0.5, 2.3 above;
                     0.08 .. 100 Msun: mean 0.574 Msun), or power:m0,a1,m1,a2,m2...
                     (dN/dm ~ m^-a1 on [m0, m1], m^-a2 on [m1, m2], ..., continuous)
  --m-min, --m-max   mass range of salpeter and kroupa, Msun
  --mass M           total mass of equal masses, Msun (default 1 Msun a star)
  --binaries F       fraction of systems that are binaries, 0 .. 1: round(F N / (1 + F))
                     binaries (at most N / 2); companion mass q m1, q uniform on
                     [m_min / m1, 1] (m_min the IMF's lower limit)
  --a-min, --a-max   semi-major axes, uniform in log a (default 1 .. 1000 AU)
  --ecc E            thermal, f(e) = 2e (default), or circular
  --virial Q         virial ratio K / |W| of the systems (default 0.5)
  --radius R         virial radius in pc (default 1): the unit of length
  --tidal-radius R   King models: the truncation radius in pc sets the unit of length

Units: length = R pc (the virial radius); mass = total mass in Msun;
velocity = sqrt(G M / R) with G = 4.3009e-3 pc (km/s)^2 / Msun, in km/s;
time = R / velocity, with 1 pc / (km/s) = 0.97779 Myr. The conversion of each
model is printed (not with -q) and stored in HDF5 files.
Binaries bound by less than kT (2/3 of the mean kinetic energy per system) and
binaries wider than half the local spacing of systems are reported on standard
error. Bad input: a one-line message, exit status 2, no file written.
)";
}

}  // namespace models
