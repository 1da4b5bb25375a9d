// plummer_gen's command line: the two positional integers N NP kept as they
// have always been read, and the options -n -s -o -q -h beside them.
#ifndef PLUMMER_COMMAND_LINE_H_
#define PLUMMER_COMMAND_LINE_H_

#include <cstdint>
#include <string>

#include "plummer.h"

namespace plummer {

// The two optional command-line integers: the count in units of 1024 particles
// and the divisor that trims each unit to a multiple of itself.
struct Arguments {
  std::int32_t units = 16;
  std::int32_t divisor = 1;
};

// Decimal conversion as strtol in base 10, truncated to 32 bits.
std::int32_t parse_int(const char* text);
// Exactly two arguments are read; any other number gives the defaults.
Arguments parse_arguments(int argc, const char* const argv[]);

enum class CountError { kNone, kNegativeUnits, kNegativeDivisor, kZeroDivisor, kAboveCapacity };

struct ParticleCount {
  std::int64_t n = 0;  // zero for a divisor above 1024: such a model has no particles
  CountError error = CountError::kNone;
};

// divisor * units * (1024 / divisor), formed without overflow. The count is
// computed whenever the divisor is not zero, even for a refused sign.
ParticleCount particle_count(const Arguments& args);

// What a run is asked to do, and how the command line ended.
enum class Outcome {
  kRun,      // build `particles` and write them to `output`
  kHelp,     // print usage_text() on standard output, exit 0
  kUsage,    // `message`, then usage_synopsis(), on standard error; exit 2
  kRefused,  // `message` on standard error; exit 1
};

struct Request {
  Outcome outcome = Outcome::kRun;
  std::int64_t particles = 16384;
  unsigned seed = kSeed;
  std::string output = "data.inp";
  bool quiet = false;
  // kUsage/kRefused: why, quoting the argument as typed. kRun: an optional
  // warning for standard error about arguments that were ignored.
  std::string message;
};

// A list whose first argument is an option ('-' and a letter, or "--") is
// read as options; anything else keeps the positional reading, which makes a
// model from no arguments or exactly two integers giving at least one
// particle. One argument, a pair followed by more, or a pair giving no
// particles is kUsage, with a message naming the command to type.
Request read_command_line(int argc, const char* const argv[]);

// The two synopsis lines, and the full help that starts with them.
std::string usage_synopsis();
std::string usage_text();

}  // namespace plummer

#endif  // PLUMMER_COMMAND_LINE_H_
