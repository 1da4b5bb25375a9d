// The cluster as a model file: the text layout the integrators read (that of
// plummer_gen: a zero, the count, the time, then "index mass x y z vx vy vz"
// lines), or HDF5 with the datasets of fileio/hdf5_model.h, the dataset
// companion and the attributes listed in models/README.md.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cluster.h"

namespace models {

struct Provenance {
  std::string program = "cluster_gen";
  std::string version;
  std::string options;  // as typed
  std::string seed;
};

// False, with errno set, at the first failed write.
bool write_text(std::FILE* out, const Cluster& c);

// The bytes of the HDF5 file; throws fileio::FileError. path names the file
// in messages.
std::vector<char> hdf5_bytes(const std::string& path, const Cluster& c, const Provenance& p);

}  // namespace models
