// The regularised subsystems of an integrator as bytes, for the
// "subsystems" section of a checkpoint: the records of encounters/ (its own
// codec) and what the integrator keeps beside each, with the criteria's
// scales, so that a continued run takes the same steps.
//
// Layout (native byte order): u32 format (3), u64 length and bytes of
// encode_subsystems, then per subsystem i32 centre-of-mass slot, f64
// gamma, u64 count and i32 slots of the perturbers, u8 averaged (0 or 1);
// then the scale's five f64 (r_cl, dt_cl, m_mean, m_max, next_update) and
// the i64 count of regularised steps so far. Formats 1 (no count, no
// averaged) and 2 (no averaged) still decode, with the count 0 and no pair
// averaged.
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "regularisation.h"
#include "section_bytes.h"
#include "subsystem_codec.h"

namespace hermite {

inline std::string encode_regularised(const std::vector<Regularised>& regs,
                                      const EncounterScale& scale, long long reg_steps) {
  std::string out;
  auto put = [&out](const auto& v) { put_bytes(out, v); };
  put(std::uint32_t{3});
  std::vector<encounters::Subsystem> subs;
  for (const Regularised& r : regs) subs.push_back(r.s);
  const std::string inner = encounters::encode_subsystems(subs);
  put(static_cast<std::uint64_t>(inner.size()));
  out += inner;
  for (const Regularised& r : regs) {
    put(static_cast<std::int32_t>(r.cm));
    put(r.gamma);
    put(static_cast<std::uint64_t>(r.perturbers.size()));
    for (int p : r.perturbers) put(static_cast<std::int32_t>(p));
    put(static_cast<std::uint8_t>(r.averaged ? 1 : 0));
  }
  for (double v : {scale.r_cl, scale.dt_cl, scale.m_mean, scale.m_max, scale.next_update}) put(v);
  put(static_cast<std::int64_t>(reg_steps));
  return out;
}

// Throws std::runtime_error for bytes that are not such an encoding.
inline void decode_regularised(const std::string& b, std::vector<Regularised>& regs,
                               EncounterScale& scale, long long& reg_steps) {
  SectionReader in(b, "truncated");
  auto get = [&in](auto& v) { in.get(v); };
  std::uint32_t format = 0;
  get(format);
  if (format < 1 || format > 3)
    throw std::runtime_error("unknown format " + std::to_string(format));
  std::uint64_t length = 0;
  get(length);
  const std::vector<encounters::Subsystem> subs = encounters::decode_subsystems(in.take(length));
  regs.clear();
  for (const encounters::Subsystem& s : subs) {
    Regularised r;
    r.s = s;
    std::int32_t cm = 0;
    get(cm);
    r.cm = cm;
    get(r.gamma);
    std::uint64_t count = 0;
    get(count);
    if (count > in.left() / 4) throw std::runtime_error("truncated");
    for (std::uint64_t k = 0; k < count; ++k) {
      std::int32_t p = 0;
      get(p);
      r.perturbers.push_back(p);
    }
    if (format >= 3) {
      std::uint8_t averaged = 0;
      get(averaged);
      if (averaged > 1) throw std::runtime_error("averaged flag neither 0 nor 1");
      r.averaged = averaged == 1;
    }
    regs.push_back(std::move(r));
  }
  for (double* v : {&scale.r_cl, &scale.dt_cl, &scale.m_mean, &scale.m_max, &scale.next_update}) {
    get(*v);
  }
  std::int64_t steps = 0;
  if (format >= 2) get(steps);
  if (steps < 0) throw std::runtime_error("negative step count");
  reg_steps = steps;
  if (in.left() != 0) throw std::runtime_error("bytes left over");
}

}  // namespace hermite
