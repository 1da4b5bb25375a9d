// Binary stars: how many, their companions' masses and their orbits.
//
//  - count: round(F n / (1 + F)) binaries among n stars for a binary fraction
//    F of the systems, at most n / 2;
//  - companion mass m2 = q m1, q uniform on [m_min / m1, 1];
//  - semi-major axis uniform in ln a on [a_min, a_max];
//  - eccentricity thermal, f(e) = 2e, or zero;
//  - orientation uniform over rotations, mean anomaly uniform, the
//    eccentric anomaly from Kepler's equation.
#pragma once

#include <cstdint>

#include "random.h"

namespace models {

std::int64_t binary_count(std::int64_t stars, double fraction);

double companion_mass(double m1, double m_min, Random& random);

struct Orbit {
  double a = 0.0, e = 0.0;
};

// a in the units of a_min and a_max.
Orbit draw_orbit(double a_min, double a_max, bool thermal, Random& random);

// The relative position and velocity (second member minus first) of a
// two-body orbit of total mass m (G = 1) with a random orientation and phase.
void relative_state(const Orbit& orbit, double m, Random& random, double dx[3], double dv[3]);

// E - e sin E = M for E, to the precision of a double.
double eccentric_anomaly(double mean_anomaly, double e);

}  // namespace models
