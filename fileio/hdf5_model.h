// Models and snapshots as HDF5 files: datasets mass (N), position (N x 3),
// velocity (N x 3) and id (N, 0 .. N-1), and attributes time, N, G (= 1),
// units, number (the snapshot or output number) and, where an integrator
// wrote the file, order and eps. A generator may add a dataset companion
// (N: the index of each particle's binary companion, or -1) and attributes of
// its own (numbers and text). Written through OutputFile, so a file appears
// complete or not at all.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fileio {

// What is written: n particles, positions and velocities as x y z per
// particle. order and eps are left out where order is 0.
struct ModelView {
  std::int64_t n = 0;
  const double* mass = nullptr;
  const double* pos = nullptr;
  const double* vel = nullptr;
  double time = 0.0;
  int number = 0;
  int order = 0;
  double eps = 0.0;
  // Written only where set; the integrators and plummer_gen set the text
  // attributes program, version and command (their provenance).
  const std::int64_t* companion = nullptr;
  // The particles' ids where they are not 0 .. n-1 (a snapshot without the
  // stars that left a run).
  const std::int64_t* ids = nullptr;
  std::vector<std::pair<std::string, double>> number_attributes;
  std::vector<std::pair<std::string, std::string>> text_attributes;
};

struct ModelData {
  double time = 0.0;
  int number = 0;
  std::vector<double> mass, pos, vel;  // pos and vel: 3 per particle
};

// The bytes of the HDF5 file of MODEL, built in memory; PATH names the
// file in messages. Throws FileError.
std::vector<char> hdf5_image(const std::string& path, const ModelView& model);

// Throws FileError.
void write_hdf5_model(const std::string& path, const ModelView& model);

// Throws FileError for a file that is not HDF5, lacks a dataset or an
// attribute, has datasets of mismatched or wrong shapes, ids out of
// sequence, masses that are not positive or values that are not finite, or
// a G attribute other than 1 (the integrators work in N-body units; a file
// without G is taken as G = 1).
ModelData read_hdf5_model(const std::string& path);

// Whether the file begins with the HDF5 signature (false where it cannot
// be read).
bool is_hdf5_file(const std::string& path);

// Whether the name asks for HDF5: it ends in .h5 or .hdf5, in any case
// (.H5 too).
bool hdf5_name(const std::string& path);

// The length of that ending (3 or 5), 0 where there is none.
std::size_t hdf5_suffix(const std::string& path);

}  // namespace fileio
