// plummer_gen [N NP] | [-n COUNT] [-s SEED] [-o FILE] [-q]: writes an N-body
// initial model of equal-mass particles from a Plummer sphere to a text file
// (default "data.inp"; HDF5 for a name ending in .h5 or .hdf5) and prints its kinetic energy
// against the expected 1/4.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "command_line.h"
#include "hdf5_model.h"
#include "nbforce_version.h"
#include "plummer.h"

namespace {

void say(const std::string& message) { std::fprintf(stderr, "plummer_gen: %s\n", message.c_str()); }

int fail(const std::string& message) {
  say(message);
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("plummer_gen %s\n", NBFORCE_VERSION_TEXT);
    return 0;
  }
  const plummer::Request request = plummer::read_command_line(argc, argv);
  switch (request.outcome) {
    case plummer::Outcome::kHelp:
      std::fputs(plummer::usage_text().c_str(), stdout);
      return 0;
    case plummer::Outcome::kUsage:
      say(request.message);
      std::fputs(plummer::usage_synopsis().c_str(), stderr);
      std::fputs("Try 'plummer_gen --help' for the options.\n", stderr);
      return 2;
    case plummer::Outcome::kRefused:
      return fail(request.message);
    case plummer::Outcome::kRun:
      if (!request.message.empty()) say(request.message);  // a warning only
      break;
  }

  const plummer::Particles particles;
  if (!particles.ok()) {
    return fail(std::string("cannot allocate the particle arrays: ") + std::strerror(ENOMEM));
  }

  // Created before sampling so that an unwritable directory fails at once.
  plummer::AtomicFile file;
  std::string error;
  if (!file.open(request.output, &error)) return fail(error);

  const std::int64_t n = request.particles;
  plummer::build_model(n, request.seed, particles, request.quiet ? nullptr : stdout);

  double ek = 0.0;
  bool written = false;
  if (fileio::hdf5_name(request.output)) {
    std::string command;
    for (int i = 0; i < argc; ++i) command += (i > 0 ? " " : "") + std::string(argv[i]);
    written = plummer::write_model_hdf5(file.stream(), request.output, n, particles, &ek, &error,
                                        NBFORCE_VERSION_TEXT, command);
    if (!written) file.abandon(0);
  } else {
    written = plummer::write_model(file.stream(), n, particles, &ek);
    if (!written) error = file.abandon(errno);
  }
  if (!request.quiet) std::fputs("\n", stdout);  // ends the line of dots
  if (!written || !file.commit(&error)) {
    std::fflush(stdout);
    return fail(error);
  }
  std::fputs(plummer::summary_line(n, ek).c_str(), stdout);
  // A full disk or a closed standard output must not pass for success.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    return fail(std::string("cannot write the standard output: ") + std::strerror(errno));
  }
  return 0;
}
