// Kroupa (2001): slopes 0.3 below 0.08 Msun, 1.3 from 0.08 to 0.5 and 2.3
// above, continuous, cut to [m_min, m_max].
#include "imf.h"

namespace models {

PowerLaw imf_kroupa(double m_min, double m_max) {
  const double breaks[] = {0.08, 0.5};
  const double slopes[] = {0.3, 1.3, 2.3};
  PowerLaw law;
  law.mass.push_back(m_min);
  int segment = 0;
  while (segment < 2 && breaks[segment] <= m_min) ++segment;
  for (; segment < 2 && breaks[segment] < m_max; ++segment) {
    law.alpha.push_back(slopes[segment]);
    law.mass.push_back(breaks[segment]);
  }
  law.alpha.push_back(slopes[segment]);
  law.mass.push_back(m_max);
  return law;
}

}  // namespace models
