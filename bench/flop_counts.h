// Floating-point operations counted per pair term, by the customary counts
// of direct-summation codes (the square root and division count as several).
// Shared by the host benchmarks and the GPU check, so that their rates can
// be set side by side.
#pragma once

namespace nbbench {

inline constexpr double kFlopsOrder4 = 60.0;
inline constexpr double kFlopsOrder6 = 97.0;
inline constexpr double kFlopsOrder8 = 144.0;
inline constexpr double kFlopsPotential = 38.0;

}  // namespace nbbench
