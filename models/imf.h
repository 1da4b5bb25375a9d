// Initial mass functions as piecewise power laws in solar masses:
// dN/dm proportional to m^-alpha[k] on [mass[k], mass[k+1]], continuous at
// every break. A law with one mass and no slopes gives that mass to every
// star (equal masses).
#pragma once

#include <string>
#include <vector>

#include "random.h"

namespace models {

struct PowerLaw {
  std::vector<double> mass;   // increasing, positive: the breaks, ends included
  std::vector<double> alpha;  // mass.size() - 1 slopes of dN/dm
};

// Empty where the law can give masses; otherwise why not (non-positive or
// non-increasing masses, a non-finite slope, a count mismatch).
std::string check_law(const PowerLaw& law);

// Draws masses from a law that passes check_law: a segment by its share of
// the stars, then the inverse of that segment's cumulative distribution.
class MassSampler {
 public:
  explicit MassSampler(const PowerLaw& law);
  double draw(Random& random) const;

 private:
  PowerLaw law_;
  std::vector<double> share_;        // cumulative fraction of stars up to each segment's end
  std::vector<double> lo_p_, hi_p_;  // the ends raised to 1 - alpha
};
// The fraction of stars below m, from the closed form of each segment.
double law_cdf(const PowerLaw& law, double m);
double law_mean(const PowerLaw& law);
double law_min(const PowerLaw& law);

// One function per strategy, each in its file imf_<name>.cc. Masses in Msun.
PowerLaw imf_equal(double mass);
PowerLaw imf_salpeter(double m_min, double m_max);  // alpha 2.35
PowerLaw imf_kroupa(double m_min, double m_max);    // 0.3 / 1.3 / 2.3 at 0.08 and 0.5
// "m0,a1,m1,a2,m2,...": the masses and slopes in turn. Throws
// std::invalid_argument with a message naming what is wrong.
PowerLaw imf_power(const std::string& list);

}  // namespace models
