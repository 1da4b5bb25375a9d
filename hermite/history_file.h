// The CSV histories of a run (energy, radii) continued after a restart.
#pragma once

#include <cstdio>
#include <string>

namespace hermite {

// Opens PATH for appending after cutting it back to BYTES, its length at
// the checkpoint; the rows after it are written again by the continued
// run. Throws std::runtime_error where the file is missing or shorter.
std::FILE* reopen_history(const std::string& path, long long bytes);

}  // namespace hermite
