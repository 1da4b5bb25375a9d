// Text and HDF5 images of a cluster.
#include "model_file.h"

#include "hdf5_model.h"

namespace models {

bool write_text(std::FILE* out, const Cluster& c) {
  if (std::fprintf(out, "%04d \n%06lld \n%.16E \n", 0, static_cast<long long>(c.n), 0.0) < 0) {
    return false;
  }
  for (std::int64_t i = 0; i < c.n; ++i) {
    const double* x = &c.x[3 * i];
    const double* v = &c.v[3 * i];
    if (std::fprintf(out, "%06lld   %.16E   % .16E % .16E % .16E   % .16E % .16E % .16E \n",
                     static_cast<long long>(i), c.m[i], x[0], x[1], x[2], v[0], v[1], v[2]) < 0) {
      return false;
    }
  }
  return true;
}

std::vector<char> hdf5_bytes(const std::string& path, const Cluster& c, const Provenance& p) {
  fileio::ModelView view;
  view.n = c.n;
  view.mass = c.m.data();
  view.pos = c.x.data();
  view.vel = c.v.data();
  view.companion = c.companion.data();
  view.number_attributes = {{"length_pc", c.units.length_pc},
                            {"mass_msun", c.units.mass_msun},
                            {"time_myr", c.units.time_myr},
                            {"velocity_kms", c.units.velocity_kms},
                            {"n_binaries", static_cast<double>(c.n_binaries)},
                            {"tidal_radius", c.tidal_radius}};
  view.text_attributes = {
      {"program", p.program}, {"version", p.version}, {"options", p.options}, {"seed", p.seed}};
  return fileio::hdf5_image(path, view);
}

}  // namespace models
