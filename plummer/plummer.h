// Plummer-sphere initial models in standard N-body units (G = 1, total mass 1,
// expected kinetic energy 1/4): sampling, centre-of-mass correction and the
// text model file.
#ifndef PLUMMER_PLUMMER_H_
#define PLUMMER_PLUMMER_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "output_file.h"

namespace plummer {

// Largest model the program builds: 4096 units of 1024 particles.
inline constexpr std::int64_t kCapacity = 4096 * 1024;
inline constexpr unsigned kSeed = 19810614;
// Length scale from the unit-radius Plummer sphere to standard units, 3*pi/16.
inline constexpr double kConv = 0.5890486225480862;
inline constexpr double kExpectedKineticEnergy = 0.25;

using Vec3 = double[3];

// Masses, positions and velocities of up to `capacity` particles in one
// allocation made at start. The system zero-fills its pages on first touch,
// so a small model pays only for the memory it uses.
class Particles {
 public:
  explicit Particles(std::int64_t capacity = kCapacity);
  bool ok() const { return data_ != nullptr; }
  std::int64_t capacity() const { return capacity_; }
  double* m() const { return data_.get(); }
  Vec3* x() const { return reinterpret_cast<Vec3*>(data_.get() + capacity_); }
  Vec3* v() const { return reinterpret_cast<Vec3*>(data_.get() + 4 * capacity_); }

 private:
  struct Free {
    void operator()(double* p) const;
  };
  std::int64_t capacity_;
  std::unique_ptr<double[], Free> data_;
};

// rand() scaled to [0, 1]; the sequence comes from the C library's generator.
double uniform_deviate();

// The functions below take n <= p.capacity(); n <= 0 means no particles.

// Draws particles 0 .. n-1 in order from the generator's current state and
// writes a '.' to `progress` (if not null) at every (n / 64)-th index.
void sample(std::int64_t n, const Particles& p, std::FILE* progress);
// Moves the centre of mass to the origin and brings it to rest.
void correct_centre_of_mass(std::int64_t n, const Particles& p);
// Seeds the generator with `seed`, samples and corrects: the complete model,
// the same for a given (n, seed) on the same C library.
void build_model(std::int64_t n, unsigned seed, const Particles& p, std::FILE* progress);
// The same with the program's default seed kSeed.
void build_model(std::int64_t n, const Particles& p, std::FILE* progress);

// Writes the header and one line per particle; accumulates the kinetic energy
// into *ek. Returns false, with errno set, at the first failed write.
bool write_model(std::FILE* out, std::int64_t n, const Particles& p, double* ek);
// "N = ... EK = ..." line with its newline.
std::string summary_line(std::int64_t n, double ek);

// The model as an HDF5 file (datasets mass, position, velocity, id) into
// `out`, summing the kinetic energy into *ek as write_model does; false
// with *error set on failure. `path` names the file in messages;
// `version` and `command` (where not empty) are recorded as the file's
// provenance, with the program plummer_gen.
bool write_model_hdf5(std::FILE* out, const std::string& path, std::int64_t n, const Particles& p,
                      double* ek, std::string* error, const std::string& version = "",
                      const std::string& command = "");

// Output file written as fileio::OutputFile does: a regular file is
// replaced only once every byte has reached the disk, so that a failed run
// never leaves a partial model under the final name; a FIFO or a device is
// written in place.
class AtomicFile {
 public:
  AtomicFile() = default;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile();  // removes the temporary file unless committed

  bool open(const std::string& path, std::string* error);
  std::FILE* stream() const { return file_->stream(); }
  bool commit(std::string* error);
  // Discards the temporary file; `cause` is the errno of the failure.
  std::string abandon(int cause);

 private:
  std::string path_;
  std::unique_ptr<fileio::OutputFile> file_;
};

}  // namespace plummer

#endif  // PLUMMER_PLUMMER_H_
