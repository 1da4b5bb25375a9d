// The libraries' one failure report: a single line on stderr naming the
// library, a fixed check number and the runtime's text.
#pragma once

#include "forcecore/runtime.h"

namespace nbf {

void report_error(const char* library, int line, const char* text);
[[noreturn]] void fail(const char* library, int line, const char* text);

// Checked call: reports and ends the process with status 1 on failure.
inline void check_or_exit(const char* library, int line, rt::Status status) {
  if (status != rt::kSuccess) fail(library, line, rt::error_text(status));
}

// Report-only check: the caller carries on whatever happened.
inline void check_and_report(const char* library, int line, rt::Status status) {
  if (status != rt::kSuccess) report_error(library, line, rt::error_text(status));
}

}  // namespace nbf
