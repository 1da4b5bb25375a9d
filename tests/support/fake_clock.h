// A wall clock for tests: every call of wtime() advances it by a quarter
// second, so the drivers' timers can be checked exactly.
#pragma once

namespace nbtest {
inline constexpr double kClockTick = 0.25;
double clock_now();  // the value the next wtime() call returns
}  // namespace nbtest
