// Check numbers printed by the failure report for the checks every library
// adds around its drivers (argument errors, allocations, copies and kernel
// launches). The
// binding and the report-only waits use each library's own numbers.
#pragma once

namespace nbf::check_line {

inline constexpr int kForceArgs = 501;
inline constexpr int kForceAllocJ = 502;
inline constexpr int kForceAllocI = 503;
inline constexpr int kForceAllocPartial = 504;
inline constexpr int kForceClearPartial = 505;
inline constexpr int kForceAllocReduced = 506;
inline constexpr int kForceAllocStaging = 507;
inline constexpr int kForceCopyJ = 508;
inline constexpr int kForceCopyI = 509;
inline constexpr int kForceCopyBack = 510;
inline constexpr int kForceLaunchGravity = 511;
inline constexpr int kForceLaunchReduce = 512;

inline constexpr int kPotArgs = 521;
inline constexpr int kPotAllocSources = 522;
inline constexpr int kPotAllocSums = 523;
inline constexpr int kPotAllocStaging = 524;
inline constexpr int kPotCopyIn = 525;
inline constexpr int kPotCopyBack = 526;
inline constexpr int kPotLaunch = 527;

}  // namespace nbf::check_line
