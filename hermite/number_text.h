// Numbers as the programs print them in messages and headers.
#pragma once

#include <string>

namespace hermite {

// v with 9 significant digits, the shortest form (%.9g).
std::string format_number(double v);

}  // namespace hermite
