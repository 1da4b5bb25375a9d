// Density profiles that place the systems (single stars and the centres of
// mass of binaries). Each draws a position and a velocity in its own units
// with G = 1; the cluster is scaled to standard units afterwards, so only
// the shape of the phase-space distribution matters.
#pragma once

#include <cmath>
#include <memory>

#include "random.h"

namespace models {

class Profile {
 public:
  virtual ~Profile() = default;
  // One system, independent of every other draw but for the generator state.
  virtual void draw(Random& random, double x[3], double v[3]) const = 0;
  // The truncation radius in the profile's units; 0 where it has none.
  virtual double tidal_radius() const { return 0.0; }
};

// One strategy per file: profile_<name>.cc.
std::unique_ptr<Profile> profile_plummer();
// King (1966) of central potential w0 (in units of sigma^2), 1 <= w0 <= 12.
std::unique_ptr<Profile> profile_king(double w0);

// A vector of length `length` in a direction uniform on the sphere.
inline void isotropic(Random& random, double length, double out[3]) {
  const double z = 1.0 - 2.0 * random.uniform();
  const double phi = 6.283185307179586 * random.uniform();
  const double s = std::sqrt(std::fmax(0.0, 1.0 - z * z));
  out[0] = length * s * std::cos(phi);
  out[1] = length * s * std::sin(phi);
  out[2] = length * z;
}

}  // namespace models
