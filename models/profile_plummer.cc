// Plummer (1911) sphere of unit mass and scale radius (Aarseth, Henon and
// Wielen 1974): radius from the inverse of the enclosed mass, speed as a
// fraction q of the escape speed by rejection from q^2 (1 - q^2)^(7/2). The
// tail beyond 100 scale radii (a fraction 1.5e-4 of the mass) is cut off, as
// plummer_gen does.
#include <cmath>

#include "profile.h"

namespace models {
namespace {

class Plummer final : public Profile {
 public:
  void draw(Random& random, double x[3], double v[3]) const override {
    double r;
    do {
      r = 1.0 / std::sqrt(std::pow(random.open_uniform(), -2.0 / 3.0) - 1.0);
    } while (!(r < 100.0));
    isotropic(random, r, x);
    double q, y;
    do {
      q = random.uniform();
      y = 0.1 * random.uniform();
    } while (y >= q * q * std::pow(1.0 - q * q, 3.5));
    isotropic(random, q * std::sqrt(2.0) * std::pow(1.0 + r * r, -0.25), v);
  }
};

}  // namespace

std::unique_ptr<Profile> profile_plummer() { return std::make_unique<Plummer>(); }

}  // namespace models
