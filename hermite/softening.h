// Whether a softening length works in the single-precision kernels of the
// force libraries, which receive eps^2 as a float.
#pragma once

#include <string>
#include <vector>

#include "scheme.h"

namespace hermite {

// Empty when eps suits the model; otherwise why not, as one sentence that
// starts with "eps = ...". Refused are an eps whose square is not a normal
// float (it underflows), one for which the softened powers of a particle's
// own pair term, 1/eps^2 and m/eps^3, overflow a float (the zero terms then
// become NaN), and one below 2^-46 times the largest coordinate, the spacing
// of the double-single positions the kernels subtract (the softening
// vanishes against the positions). eps = 0 (an unsoftened run) is refused
// only where two particles share a position. Expects eps >= 0, finite.
std::string softening_fault(double eps, const std::vector<double>& mass,
                            const std::vector<Vec3>& pos);

}  // namespace hermite
