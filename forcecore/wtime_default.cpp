// Default wall clock for callers that do not define wtime() themselves (C and
// Fortran programs). Weak, so that a caller's own definition wins at link time.
#include <ctime>

__attribute__((weak)) double wtime() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}
