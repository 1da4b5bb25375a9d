// The model file "data.inp": three header lines (a snapshot number, the
// particle count, the time), then one line per particle with its index,
// mass, position and velocity; or the same model as an HDF5 file (see
// fileio/hdf5_model.h).
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "scheme.h"

namespace hermite {

struct Model {
  int number = 0;  // snapshot number, the first header line
  double time = 0.0;
  std::vector<double> mass;
  std::vector<Vec3> pos, vel;
  // The particles' indices where they are not 0 .. n-1: a snapshot of a run
  // whose escapers left holds the stars that stay under their model
  // indices. Written, never read (a model file numbers its particles 0 ..
  // n-1).
  std::vector<int> ids;
  int size() const { return static_cast<int>(mass.size()); }
};

// A refused model file; what() names the file, the line and the fault.
class ModelError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Longest line a model file may hold; a particle line takes about 180.
inline constexpr std::size_t kMaxModelLine = 4096;

// Reads a model file, text or HDF5 (told apart by the file's first bytes).
// For HDF5 see fileio::read_hdf5_model; for text it throws ModelError for a
// file that cannot be opened, a directory or a device, a line longer than
// kMaxModelLine characters, a malformed or missing header, a particle line
// with missing, extra or unreadable fields, an index out of sequence, a mass
// that is not positive, a non-finite number, fewer particle lines than the
// header announces, anything but blank lines after the last particle, a
// path that is not a regular file (a FIFO would block the open), or a last
// particle line without a line end whose width (less trailing blanks)
// differs from that of every other particle line where those all agree:
// the file was cut short, even if what is left of the last number still
// reads as one. A file that
// does not end with a newline is read, with a warning: appended to
// `warnings` where given, else printed to the standard error.
Model read_model(const std::string& path, std::vector<std::string>* warnings = nullptr);

// Throws ModelError where `path` exists and is not a regular file.
void check_regular(const std::string& path);

enum class ModelFormat { kByName, kText, kHdf5 };  // kByName: HDF5 for .h5 or .hdf5

// Recorded in HDF5 files where order is not 0.
struct ModelTags {
  int order = 0;
  double eps = 0.0;
  // Provenance, recorded in HDF5 files where given: the program as
  // started, its version and its command line.
  std::string program, version, command;
};

// Writes a model file in the layout the generator uses, with enough digits
// that reading it back gives the same doubles (or as HDF5). Throws
// ModelError when the file cannot be written. The file appears complete or
// not at all, through fileio::OutputFile.
void write_model(const std::string& path, const Model& model,
                 ModelFormat format = ModelFormat::kByName, const ModelTags& tags = {});

}  // namespace hermite
