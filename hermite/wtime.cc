// The wall clock the force libraries call for their timers, and the one the
// program reports with.
#include <chrono>

#include "nbforce_common.h"

double wtime() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
