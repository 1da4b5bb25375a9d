#include "number_text.h"

#include <cstdio>

namespace hermite {

std::string format_number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", v);
  return text;
}

}  // namespace hermite
