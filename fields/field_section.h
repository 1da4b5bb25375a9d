// The checkpoint section "field": the field options of the run and the work
// the field has done, so that a continued run rebuilds the same field (the
// reference orbit is integrated again from its start, to the same nodes)
// and carries on the same balance.
#pragma once

#include <string>

#include "field_options.h"

namespace fields {

inline constexpr const char* kFieldSection = "field";

// Text, one "name value" line each; numbers as hexadecimal floats (exact).
std::string encode_field_section(const FieldOptions& o, double work);

// Throws FieldUsageError for a section that does not read back.
FieldOptions decode_field_section(const std::string& bytes, double* work);

}  // namespace fields
