#include "forcecore/error_report.h"

#include <cstdio>
#include <cstdlib>

namespace nbf {

void report_error(const char* library, int line, const char* text) {
  std::fprintf(stderr, "Cuda error in file '%s' in line %i : %s.\n", library, line, text);
}

void fail(const char* library, int line, const char* text) {
  report_error(library, line, text);
  std::fflush(stdout);
  std::exit(1);
}

}  // namespace nbf
