// Reading plummer_gen's command line: the positional N NP form, whose
// lenient conversion stored scripts rely on, and the strict options.
#include "command_line.h"

#include <cstdlib>

namespace plummer {

std::int32_t parse_int(const char* text) {
  // Keep the low 32 bits, two's complement, as a plain conversion to int does.
  const long value = std::strtol(text, nullptr, 10);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

Arguments parse_arguments(int argc, const char* const argv[]) {
  Arguments args;
  if (argc == 3) {
    args.units = parse_int(argv[1]);
    args.divisor = parse_int(argv[2]);
  }
  return args;
}

ParticleCount particle_count(const Arguments& args) {
  ParticleCount count;
  if (args.divisor != 0) {
    // |divisor * units| <= 2^62 and the final |count| <= 1024 * |units|, so
    // 64 bits hold every intermediate. The quotient truncates toward zero.
    const std::int64_t per_unit = 1024 / static_cast<std::int64_t>(args.divisor);
    count.n = static_cast<std::int64_t>(args.divisor) * args.units * per_unit;
  }
  if (args.units < 0) {
    count.error = CountError::kNegativeUnits;
  } else if (args.divisor < 0) {
    count.error = CountError::kNegativeDivisor;
  } else if (args.divisor == 0) {
    count.error = CountError::kZeroDivisor;
  } else if (count.n > kCapacity) {
    count.error = CountError::kAboveCapacity;
  }
  return count;
}

namespace {

std::string quoted(const std::string& text) { return "'" + text + "'"; }

Request usage_error(const std::string& message) {
  Request r;
  r.outcome = Outcome::kUsage;
  r.message = message;
  return r;
}

// Plain decimal digits only, no sign or blanks, value within [min, max].
bool parse_decimal(const std::string& text, std::uint64_t min, std::uint64_t max,
                   std::uint64_t* value) {
  if (text.empty()) return false;
  std::uint64_t v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (v > (max - digit) / 10) return false;
    v = v * 10 + digit;
  }
  if (v < min) return false;
  *value = v;
  return true;
}

bool starts_with_option(const char* arg) {
  return arg[0] == '-' &&
         ((arg[1] >= 'a' && arg[1] <= 'z') || (arg[1] >= 'A' && arg[1] <= 'Z') || arg[1] == '-');
}

// The command a user would type for `particles` particles with the options
// given after a positional pair.
std::string suggestion(std::int64_t particles, int argc, const char* const argv[], int from) {
  std::string command = "plummer_gen -n " + std::to_string(particles);
  for (int i = from; i < argc; ++i) command += std::string(" ") + argv[i];
  return "'" + command + "'";
}

Request read_positional(int argc, const char* const argv[]) {
  Request r;
  if (argc != 1 && argc != 3) {
    // One integer, or two followed by more: the historical reading took the
    // defaults here and replaced data.inp; refuse instead and say what to type.
    if (argc == 2) {
      return usage_error(quoted(argv[1]) +
                         " alone is not a model size: type 'plummer_gen N NP' (two integers) "
                         "or 'plummer_gen -n COUNT' for COUNT particles");
    }
    const Arguments args = parse_arguments(3, argv);
    const ParticleCount count = particle_count(args);
    if (count.error == CountError::kNone && count.n > 0 && starts_with_option(argv[3])) {
      return usage_error("the two integers N NP take no further arguments (" + quoted(argv[3]) +
                         "): for " + std::to_string(count.n) + " particles with options type " +
                         suggestion(count.n, argc, argv, 3));
    }
    return usage_error("the two integers N NP take no further arguments (" + quoted(argv[3]) +
                       "): type 'plummer_gen -n COUNT' followed by the options");
  }
  const Arguments args = parse_arguments(argc, argv);
  const ParticleCount count = particle_count(args);
  r.particles = count.n;
  if (count.error == CountError::kNone && count.n == 0) {
    // NP above 1024, or N of 0: a model without particles, which no
    // integrator accepts.
    return usage_error("N " + quoted(argv[1]) + " and NP " + quoted(argv[2]) +
                       " give 0 particles: N must be at least 1 and NP at most 1024; type "
                       "'plummer_gen -n COUNT' for any count from 1 to " +
                       std::to_string(kCapacity));
  }
  if (count.error == CountError::kNone) return r;

  r.outcome = Outcome::kRefused;
  const std::string n_text = quoted(argv[1]), np_text = quoted(argv[2]);
  switch (count.error) {
    case CountError::kNegativeUnits:
      r.message = "N " + n_text + " reads as " + std::to_string(args.units) +
                  ": the number of 1024-particle units must not be negative";
      break;
    case CountError::kNegativeDivisor:
      r.message = "NP " + np_text + " reads as " + std::to_string(args.divisor) +
                  ": the divisor must not be negative";
      break;
    case CountError::kZeroDivisor:
      r.message = "NP " + np_text +
                  " reads as 0: the divisor of the count N x NP x (1024 / NP) must not be 0";
      break;
    default:
      r.message = "N " + n_text + " and NP " + np_text + " give " + std::to_string(count.n) +
                  " particles, above the capacity of " + std::to_string(kCapacity);
      break;
  }
  return r;
}

struct Option {
  char short_name;
  const char* long_name;
  bool takes_value;
};

constexpr Option kOptions[] = {
    {'n', "particles", true}, {'s', "seed", true},  {'o', "output", true},
    {'q', "quiet", false},    {'h', "help", false},
};

Request read_options(int argc, const char* const argv[]) {
  Request r;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      if (i + 1 < argc) return usage_error("unexpected argument " + quoted(argv[i + 1]));
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') return usage_error("unexpected argument " + quoted(arg));

    // Split into the option as typed and, where attached, its value:
    // "--seed=7" and "-s7" as well as "--seed 7" and "-s 7".
    const bool is_long = arg[1] == '-';
    const std::size_t split = is_long ? arg.find('=') : 2;
    const std::string name = arg.substr(0, split);
    const bool attached = split < arg.size();
    const Option* option = nullptr;
    for (const Option& o : kOptions) {
      if (is_long ? name == std::string("--") + o.long_name : arg[1] == o.short_name) option = &o;
    }
    if (option == nullptr || (!is_long && attached && !option->takes_value)) {
      return usage_error("unknown option " + quoted(arg));
    }
    if (!option->takes_value) {
      if (attached) return usage_error("option " + quoted(name) + " takes no value");
      if (option->short_name == 'h') {
        r.outcome = Outcome::kHelp;
        return r;
      }
      r.quiet = true;
      continue;
    }

    std::string value;
    if (attached) {
      value = arg.substr(is_long ? split + 1 : split);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return usage_error("option " + quoted(name) + " needs a value");
    }
    std::uint64_t number = 0;
    switch (option->short_name) {
      case 'n':
        if (!parse_decimal(value, 1, kCapacity, &number)) {
          return usage_error(name + " " + quoted(value) + " is not a particle count from 1 to " +
                             std::to_string(kCapacity));
        }
        r.particles = static_cast<std::int64_t>(number);
        break;
      case 's':
        if (!parse_decimal(value, 0, 4294967295u, &number)) {
          return usage_error(name + " " + quoted(value) + " is not a seed from 0 to 4294967295");
        }
        r.seed = static_cast<unsigned>(number);
        break;
      default:
        if (value.empty()) return usage_error(name + " needs a file name, found ''");
        r.output = value;
        break;
    }
  }
  return r;
}

}  // namespace

Request read_command_line(int argc, const char* const argv[]) {
  if (argc > 1 && starts_with_option(argv[1])) return read_options(argc, argv);
  return read_positional(argc, argv);
}

std::string usage_synopsis() {
  return "usage: plummer_gen [-n COUNT] [-s SEED] [-o FILE] [-q]\n"
         "       plummer_gen [N NP]\n";
}

std::string usage_text() {
  return usage_synopsis() +
         "Writes an N-body initial model: equal-mass particles drawn from a Plummer\n"
         "sphere in standard units (G = 1, total mass 1, kinetic energy 1/4), centre\n"
         "of mass at rest at the origin.\n"
         "  -n, --particles COUNT  number of particles, 1 to 4194304 (default 16384)\n"
         "  -s, --seed SEED        seed of the random sequence, 0 to 4294967295\n"
         "                         (default 19810614)\n"
         "  -o, --output FILE      model file to write or replace (default data.inp;\n"
         "                         HDF5 for a name ending in .h5 or .hdf5)\n"
         "  -q, --quiet            no progress dots\n"
         "  -h, --help             this text\n"
         "N NP: N x NP x (1024 / NP) particles with the default seed, into data.inp\n"
         "(\"1 3\" gives 1023).\n";
}

}  // namespace plummer
