#include "hdf5_model.h"

#include <hdf5.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "output_file.h"

namespace fileio {
namespace {

const char kUnits[] =
    "N-body units: G = 1, total mass 1, total energy -1/4 at the start (a Plummer sphere's "
    "virial radius 1)";

// HDF5's error stack printing is turned off once: failures are reported
// through FileError with the file's name.
void quiet_library() {
  static std::once_flag once;
  std::call_once(once, [] { H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr); });
}

// An HDF5 identifier closed with its own function at scope exit.
class Id {
 public:
  Id(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
  ~Id() {
    if (id_ >= 0) close_(id_);
  }
  Id(const Id&) = delete;
  Id& operator=(const Id&) = delete;
  hid_t get() const { return id_; }
  bool ok() const { return id_ >= 0; }

 private:
  hid_t id_;
  herr_t (*close_)(hid_t);
};

[[noreturn]] void fail(const std::string& path, const std::string& what) {
  throw FileError(path + ": " + what);
}

void write_dataset(const std::string& path, hid_t file, const char* name, hid_t type, hsize_t rows,
                   hsize_t cols, const void* data) {
  const hsize_t dims[2] = {rows, cols};
  Id space(H5Screate_simple(cols > 1 ? 2 : 1, dims, nullptr), H5Sclose);
  Id set(H5Dcreate2(file, name, type, space.get(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
         H5Dclose);
  if (!space.ok() || !set.ok() ||
      (rows > 0 && H5Dwrite(set.get(), type, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) < 0)) {
    fail(path, std::string("cannot write the dataset ") + name);
  }
}

void write_attribute(const std::string& path, hid_t file, const char* name, hid_t type,
                     const void* value) {
  Id space(H5Screate(H5S_SCALAR), H5Sclose);
  Id attr(H5Acreate2(file, name, type, space.get(), H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
  if (!attr.ok() || H5Awrite(attr.get(), type, value) < 0) {
    fail(path, std::string("cannot write the attribute ") + name);
  }
}

void write_text_attribute(const std::string& path, hid_t file, const char* name, const char* text) {
  Id type(H5Tcopy(H5T_C_S1), H5Tclose);
  if (!type.ok() || H5Tset_size(type.get(), std::strlen(text) + 1) < 0) {
    fail(path, std::string("cannot write the attribute ") + name);
  }
  write_attribute(path, file, name, type.get(), text);
}

// Reads one scalar attribute converted to TYPE.
void read_attribute(const std::string& path, hid_t file, const char* name, hid_t type,
                    void* value) {
  if (H5Aexists(file, name) <= 0) fail(path, std::string("no attribute '") + name + "'");
  Id attr(H5Aopen(file, name, H5P_DEFAULT), H5Aclose);
  Id space(attr.ok() ? H5Aget_space(attr.get()) : -1, H5Sclose);
  if (!space.ok() || H5Sget_simple_extent_npoints(space.get()) != 1 ||
      H5Aread(attr.get(), type, value) < 0) {
    fail(path, std::string("the attribute '") + name + "' is not a single number");
  }
}

// Reads a dataset of `rows` x `cols` values (cols 1: one-dimensional).
template <class T>
std::vector<T> read_dataset(const std::string& path, hid_t file, const char* name, hid_t type,
                            hsize_t rows, hsize_t cols) {
  if (H5Lexists(file, name, H5P_DEFAULT) <= 0) fail(path, std::string("no dataset '") + name + "'");
  Id set(H5Dopen2(file, name, H5P_DEFAULT), H5Dclose);
  Id space(set.ok() ? H5Dget_space(set.get()) : -1, H5Sclose);
  if (!space.ok()) fail(path, std::string("cannot open the dataset '") + name + "'");
  hsize_t dims[2] = {0, 0};
  const int rank = H5Sget_simple_extent_ndims(space.get());
  const int want = cols > 1 ? 2 : 1;
  if (rank != want || H5Sget_simple_extent_dims(space.get(), dims, nullptr) != rank ||
      dims[0] != rows || (want == 2 && dims[1] != cols)) {
    fail(path, std::string("the dataset '") + name + "' is not of shape (" + std::to_string(rows) +
                   (want == 2 ? ", " + std::to_string(cols) : ",") + ")");
  }
  std::vector<T> out(static_cast<std::size_t>(rows * cols));
  if (rows > 0 && H5Dread(set.get(), type, H5S_ALL, H5S_ALL, H5P_DEFAULT, out.data()) < 0) {
    fail(path, std::string("cannot read the dataset '") + name + "'");
  }
  return out;
}

void check_finite(const std::string& path, const std::vector<double>& v, const char* name) {
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (!std::isfinite(v[i])) {
      fail(path, std::string("a value of '") + name + "' is not finite (particle " +
                     std::to_string(i / (std::strcmp(name, "mass") == 0 ? 1 : 3)) + ")");
    }
  }
}

}  // namespace

std::size_t hdf5_suffix(const std::string& path) {
  for (const char* s : {".h5", ".hdf5"}) {
    const std::size_t k = std::strlen(s);
    if (path.size() <= k) continue;
    bool same = true;
    for (std::size_t i = 0; i < k; ++i) {
      const char c = path[path.size() - k + i];
      same = same && (c == s[i] || (c >= 'A' && c <= 'Z' && c - 'A' + 'a' == s[i]));
    }
    if (same) return k;
  }
  return 0;
}

bool hdf5_name(const std::string& path) { return hdf5_suffix(path) > 0; }

bool is_hdf5_file(const std::string& path) {
  static const unsigned char kSignature[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  unsigned char head[8] = {0};
  const bool ok = std::fread(head, 1, 8, f) == 8 && std::memcmp(head, kSignature, 8) == 0;
  std::fclose(f);
  return ok;
}

std::vector<char> hdf5_image(const std::string& path, const ModelView& model) {
  quiet_library();
  // The file is built in memory and then written through OutputFile, so
  // that it can replace its target atomically (or go to a pipe).
  Id fapl(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
  if (!fapl.ok() || H5Pset_fapl_core(fapl.get(), 16u << 20, 0) < 0) {
    fail(path, "cannot set up an HDF5 image in memory");
  }
  std::vector<char> image;
  {
    Id file(H5Fcreate("model-in-memory.h5", H5F_ACC_TRUNC, H5P_DEFAULT, fapl.get()), H5Fclose);
    if (!file.ok()) fail(path, "cannot create an HDF5 image in memory");
    const auto n = static_cast<hsize_t>(model.n);
    std::vector<std::int64_t> id(static_cast<std::size_t>(model.n));
    for (std::int64_t i = 0; i < model.n; ++i)
      id[static_cast<std::size_t>(i)] = model.ids != nullptr ? model.ids[i] : i;
    write_dataset(path, file.get(), "mass", H5T_NATIVE_DOUBLE, n, 1, model.mass);
    write_dataset(path, file.get(), "position", H5T_NATIVE_DOUBLE, n, 3, model.pos);
    write_dataset(path, file.get(), "velocity", H5T_NATIVE_DOUBLE, n, 3, model.vel);
    write_dataset(path, file.get(), "id", H5T_NATIVE_INT64, n, 1, id.data());
    if (model.companion != nullptr) {
      write_dataset(path, file.get(), "companion", H5T_NATIVE_INT64, n, 1, model.companion);
    }
    const long long count = model.n;
    const double g = 1.0;
    write_attribute(path, file.get(), "time", H5T_NATIVE_DOUBLE, &model.time);
    write_attribute(path, file.get(), "N", H5T_NATIVE_LLONG, &count);
    write_attribute(path, file.get(), "G", H5T_NATIVE_DOUBLE, &g);
    write_text_attribute(path, file.get(), "units", kUnits);
    write_attribute(path, file.get(), "number", H5T_NATIVE_INT, &model.number);
    if (model.order != 0) {
      write_attribute(path, file.get(), "order", H5T_NATIVE_INT, &model.order);
      write_attribute(path, file.get(), "eps", H5T_NATIVE_DOUBLE, &model.eps);
    }
    for (const auto& [name, value] : model.number_attributes) {
      write_attribute(path, file.get(), name.c_str(), H5T_NATIVE_DOUBLE, &value);
    }
    for (const auto& [name, text] : model.text_attributes) {
      write_text_attribute(path, file.get(), name.c_str(), text.c_str());
    }
    if (H5Fflush(file.get(), H5F_SCOPE_GLOBAL) < 0) fail(path, "cannot finish the HDF5 image");
    const ssize_t size = H5Fget_file_image(file.get(), nullptr, 0);
    if (size <= 0) fail(path, "cannot finish the HDF5 image");
    image.resize(static_cast<std::size_t>(size));
    if (H5Fget_file_image(file.get(), image.data(), image.size()) != size) {
      fail(path, "cannot finish the HDF5 image");
    }
  }
  return image;
}

void write_hdf5_model(const std::string& path, const ModelView& model) {
  const std::vector<char> image = hdf5_image(path, model);
  OutputFile out(path);
  if (std::fwrite(image.data(), 1, image.size(), out.stream()) != image.size()) {
    const int err = errno;
    out.abandon();
    fail(path, std::string("write failed: ") + std::strerror(err));
  }
  out.commit();
}

ModelData read_hdf5_model(const std::string& path) {
  quiet_library();
  if (!is_hdf5_file(path)) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) fail(path, std::string("cannot open: ") + std::strerror(errno));
    std::fclose(f);
    fail(path, "not an HDF5 file");
  }
  Id file(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
  if (!file.ok()) fail(path, "cannot open as HDF5 (damaged or truncated?)");
  ModelData m;
  long long count = 0;
  read_attribute(path, file.get(), "N", H5T_NATIVE_LLONG, &count);
  read_attribute(path, file.get(), "time", H5T_NATIVE_DOUBLE, &m.time);
  if (H5Aexists(file.get(), "number") > 0) {
    read_attribute(path, file.get(), "number", H5T_NATIVE_INT, &m.number);
  }
  // The integrators work in N-body units, G = 1: a model of another G
  // would be integrated with the wrong forces.
  if (H5Aexists(file.get(), "G") > 0) {
    double g = 0.0;
    read_attribute(path, file.get(), "G", H5T_NATIVE_DOUBLE, &g);
    if (g != 1.0) {
      char text[32];
      std::snprintf(text, sizeof text, "%.9g", g);
      fail(path, std::string("the model is in units with G = ") + text +
                     "; the integrators take N-body units, G = 1 (multiply the masses by G "
                     "first)");
    }
  }
  if (count <= 0 || count > 100000000LL) {
    fail(path, "the particle count N = " + std::to_string(count) + " is out of range");
  }
  if (m.number < 0) fail(path, "the snapshot number is negative");
  if (!std::isfinite(m.time)) fail(path, "the time is not finite");
  const auto n = static_cast<hsize_t>(count);
  m.mass = read_dataset<double>(path, file.get(), "mass", H5T_NATIVE_DOUBLE, n, 1);
  m.pos = read_dataset<double>(path, file.get(), "position", H5T_NATIVE_DOUBLE, n, 3);
  m.vel = read_dataset<double>(path, file.get(), "velocity", H5T_NATIVE_DOUBLE, n, 3);
  const auto id = read_dataset<std::int64_t>(path, file.get(), "id", H5T_NATIVE_INT64, n, 1);
  for (std::size_t i = 0; i < id.size(); ++i) {
    if (id[i] != static_cast<std::int64_t>(i)) {
      fail(path, "expected id " + std::to_string(i) + " at row " + std::to_string(i) + ", found " +
                     std::to_string(id[i]));
    }
  }
  check_finite(path, m.mass, "mass");
  check_finite(path, m.pos, "position");
  check_finite(path, m.vel, "velocity");
  for (std::size_t i = 0; i < m.mass.size(); ++i) {
    if (!(m.mass[i] > 0.0))
      fail(path, "the mass of particle " + std::to_string(i) + " is not positive");
  }
  return m;
}

}  // namespace fileio
