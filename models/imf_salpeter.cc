// Salpeter (1955): dN/dm proportional to m^-2.35 over the whole range.
#include "imf.h"

namespace models {

PowerLaw imf_salpeter(double m_min, double m_max) { return PowerLaw{{m_min, m_max}, {2.35}}; }

}  // namespace models
