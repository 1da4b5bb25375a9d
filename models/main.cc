// cluster_gen: writes a star cluster (Plummer or King profile, an initial
// mass function, binaries) in standard N-body units; see models/README.md.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "cluster.h"
#include "command_line.h"
#include "hdf5_model.h"
#include "model_file.h"
#include "output_file.h"

namespace {

int fail(int status, const std::string& message) {
  std::fprintf(stderr, "cluster_gen: %s\n", message.c_str());
  return status;
}

}  // namespace

int main(int argc, char* argv[]) {
  const models::Request request = models::read_command_line(argc, argv);
  switch (request.outcome) {
    case models::Outcome::kHelp:
      std::fputs(models::usage_text().c_str(), stdout);
      return 0;
    case models::Outcome::kVersion:
      std::printf("cluster_gen %s\n", NBFORCE_VERSION);
      return 0;
    case models::Outcome::kUsage:
      fail(2, request.message);
      std::fputs("Try 'cluster_gen --help' for the options.\n", stderr);
      return 2;
    case models::Outcome::kRun:
      break;
  }
  const std::string fault = models::check_options(request.options);
  if (!fault.empty()) return fail(2, fault);

  try {
    // Opened before the model is built so that an unwritable folder fails
    // at once; nothing appears under the name until the commit.
    fileio::OutputFile file(request.output);
    const models::Cluster cluster = models::build_cluster(request.options);
    if (fileio::hdf5_name(request.output)) {
      const models::Provenance provenance{"cluster_gen", NBFORCE_VERSION, request.arguments,
                                          std::to_string(request.options.seed)};
      const std::vector<char> image = models::hdf5_bytes(request.output, cluster, provenance);
      if (std::fwrite(image.data(), 1, image.size(), file.stream()) != image.size()) {
        const int cause = errno;
        file.abandon();
        return fail(1, "cannot write '" + request.output + "': " + std::strerror(cause));
      }
    } else if (!models::write_text(file.stream(), cluster)) {
      const int cause = errno;
      file.abandon();
      return fail(1, "cannot write '" + request.output + "': " + std::strerror(cause));
    }
    file.commit();
    if (!request.quiet) {
      std::printf("N = %lld stars, %lld binaries; E(systems) = %.6f, 2K/|W| = %.6f\n",
                  static_cast<long long>(cluster.n), static_cast<long long>(cluster.n_binaries),
                  cluster.kinetic + cluster.potential, 2.0 * cluster.kinetic / -cluster.potential);
      if (cluster.tidal_radius > 0.0) {
        std::printf("tidal radius %.6g (%.6g pc)\n", cluster.tidal_radius,
                    cluster.tidal_radius * cluster.units.length_pc);
      }
      std::fputs(models::units_text(cluster.units).c_str(), stdout);
      if (cluster.n_soft > 0) {
        std::fprintf(stderr,
                     "cluster_gen: %lld of %lld binaries are soft (bound by less than kT = %.4g)\n",
                     static_cast<long long>(cluster.n_soft),
                     static_cast<long long>(cluster.n_binaries), cluster.kT);
      }
      if (cluster.n_overlap > 0) {
        std::fprintf(stderr,
                     "cluster_gen: %lld of %lld binaries overlap their neighbours (apocentre "
                     "above half the local spacing of systems)\n",
                     static_cast<long long>(cluster.n_overlap),
                     static_cast<long long>(cluster.n_binaries));
      }
    }
  } catch (const fileio::FileError& e) {
    return fail(1, e.what());
  } catch (const std::bad_alloc&) {
    return fail(1, "not enough memory for the model");
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    return fail(1, std::string("cannot write the standard output: ") + std::strerror(errno));
  }
  return 0;
}
