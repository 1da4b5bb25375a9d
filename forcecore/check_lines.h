// Check numbers printed by the failure report for the checks every library
// adds around its drivers (argument errors, allocations, copies and kernel
// launches). The
// binding and the report-only waits use each library's own numbers.
#pragma once

namespace nbf::check_line {

constexpr int kForceArgs = 501;
constexpr int kForceAllocJ = 502;
constexpr int kForceAllocI = 503;
constexpr int kForceAllocPartial = 504;
constexpr int kForceClearPartial = 505;
constexpr int kForceAllocReduced = 506;
constexpr int kForceAllocStaging = 507;
constexpr int kForceCopyJ = 508;
constexpr int kForceCopyI = 509;
constexpr int kForceCopyBack = 510;
constexpr int kForceLaunchGravity = 511;
constexpr int kForceLaunchReduce = 512;

constexpr int kPotArgs = 521;
constexpr int kPotAllocSources = 522;
constexpr int kPotAllocSums = 523;
constexpr int kPotAllocStaging = 524;
constexpr int kPotCopyIn = 525;
constexpr int kPotCopyBack = 526;
constexpr int kPotLaunch = 527;

// The resident particles: arguments, allocations, copies, launches.
constexpr int kResidentArgs = 531;
constexpr int kResidentAlloc = 532;
constexpr int kResidentCopyIn = 533;
constexpr int kResidentCopyBack = 534;
constexpr int kResidentLaunch = 535;

}  // namespace nbf::check_line
