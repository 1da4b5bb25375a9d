// The end-to-end benchmark: the integrator over the force library.
#pragma once

#include <string>

#include "bench_common.h"

namespace nbbench {

// Registers <lib>/end_to_end/<n> for the three model sizes; full_pass_rate
// gives the library's full-pass interactions per second of this run.
void register_end_to_end(const std::string& lib, double (*full_pass_rate)());

}  // namespace nbbench
