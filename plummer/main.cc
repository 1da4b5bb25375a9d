// plummer_gen [N NP]: writes an N-body initial model of N x NP x (1024 / NP)
// equal-mass particles from a Plummer sphere to "data.inp" and prints its
// kinetic energy against the expected 1/4.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "plummer.h"

namespace {

constexpr const char* kModelPath = "data.inp";

int fail(const std::string& message) {
  std::fprintf(stderr, "plummer_gen: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  const plummer::Arguments args = plummer::parse_arguments(argc, argv);
  const plummer::ParticleCount count = plummer::particle_count(args);
  if (count.error != plummer::CountError::kNone) {
    return fail(plummer::count_error_message(args, count));
  }

  const plummer::Particles particles;
  if (!particles.ok()) {
    return fail(std::string("cannot allocate the particle arrays: ") + std::strerror(ENOMEM));
  }

  // Created before sampling so that an unwritable directory fails at once.
  plummer::AtomicFile file;
  std::string error;
  if (!file.open(kModelPath, &error)) return fail(error);

  plummer::build_model(count.n, particles, stdout);

  double ek = 0.0;
  const bool written = plummer::write_model(file.stream(), count.n, particles, &ek);
  if (!written) error = file.abandon(errno);
  std::fputs("\n", stdout);
  if (!written || !file.commit(&error)) {
    std::fflush(stdout);
    return fail(error);
  }
  std::fputs(plummer::summary_line(count.n, ek).c_str(), stdout);
  return 0;
}
