// Equal masses: every star the same.
#include "imf.h"

namespace models {

PowerLaw imf_equal(double mass) { return PowerLaw{{mass}, {}}; }

}  // namespace models
