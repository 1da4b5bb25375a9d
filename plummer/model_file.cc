// The text model file and its safe replacement on disk.
#include <cerrno>
#include <cstring>

#include "hdf5_model.h"
#include "plummer.h"

namespace plummer {

bool write_model(std::FILE* out, std::int64_t n, const Particles& p, double* ek) {
  // Header: a zero, the particle count and the start time 0.0.
  if (std::fprintf(out, "%04d \n", 0) < 0) return false;
  if (std::fprintf(out, "%06lld \n", static_cast<long long>(n)) < 0) return false;
  if (std::fprintf(out, "%.16E \n", 0.0) < 0) return false;
  const double* m = p.m();
  const Vec3* x = p.x();
  const Vec3* v = p.v();
  for (std::int64_t i = 0; i < n; ++i) {
    if (std::fprintf(out, "%06lld   %.16E   % .16E % .16E % .16E   % .16E % .16E % .16E \n",
                     static_cast<long long>(i), m[i], x[i][0], x[i][1], x[i][2], v[i][0], v[i][1],
                     v[i][2]) < 0) {
      return false;
    }
    *ek += 0.5 * m[i] * (v[i][0] * v[i][0] + v[i][1] * v[i][1] + v[i][2] * v[i][2]);
  }
  return true;
}

bool write_model_hdf5(std::FILE* out, const std::string& path, std::int64_t n, const Particles& p,
                      double* ek, std::string* error, const std::string& version,
                      const std::string& command) {
  const double* m = p.m();
  const Vec3* v = p.v();
  // The same sum, in the same order, as the text writer's.
  for (std::int64_t i = 0; i < n; ++i) {
    *ek += 0.5 * m[i] * (v[i][0] * v[i][0] + v[i][1] * v[i][1] + v[i][2] * v[i][2]);
  }
  fileio::ModelView view;
  view.n = n;
  view.mass = m;
  view.pos = &p.x()[0][0];
  view.vel = &v[0][0];
  if (!version.empty()) {
    view.text_attributes = {{"program", "plummer_gen"}, {"version", version}, {"command", command}};
  }
  try {
    const std::vector<char> image = fileio::hdf5_image(path, view);
    if (std::fwrite(image.data(), 1, image.size(), out) != image.size()) {
      *error = "cannot write '" + path + "': " + std::strerror(errno);
      return false;
    }
  } catch (const fileio::FileError& e) {
    *error = e.what();
    return false;
  }
  return true;
}

std::string summary_line(std::int64_t n, double ek) {
  char line[160];
  std::snprintf(line, sizeof line, "N = %lld   EK = % .6E  EK_teor = % .6E  DE/EK = % .6E \n",
                static_cast<long long>(n), ek, kExpectedKineticEnergy,
                (ek - kExpectedKineticEnergy) / kExpectedKineticEnergy);
  return line;
}

AtomicFile::~AtomicFile() = default;

bool AtomicFile::open(const std::string& path, std::string* error) {
  path_ = path;
  try {
    file_ = std::make_unique<fileio::OutputFile>(path);
  } catch (const fileio::FileError& e) {
    *error = e.what();
    return false;
  }
  return true;
}

bool AtomicFile::commit(std::string* error) {
  try {
    file_->commit();
  } catch (const fileio::FileError& e) {
    *error = e.what();
    return false;
  }
  return true;
}

std::string AtomicFile::abandon(int cause) {
  if (file_) file_->abandon();
  return "cannot write '" + path_ + "': " + std::strerror(cause);
}

}  // namespace plummer
