// How the resident sources are predicted on the host: in vector lanes (the
// default) or one slot at a time, the reference the lanes are held to. For
// the tests and the benchmarks that time both (bench/resident_step.cc).
#pragma once

#include "forcecore/host/host_control.h"

namespace support {

inline void predict_one_slot_at_a_time(bool on) {
  nbf::host::set_prediction(on ? nbf::host::Prediction::plain : nbf::host::Prediction::lanes);
}

}  // namespace support
