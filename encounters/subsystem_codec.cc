// Subsystems to and from bytes.
#include "subsystem_codec.h"

#include <cstdint>
#include <cstring>

namespace encounters {

namespace {

constexpr std::uint32_t kFormat = 1;

template <typename T>
void put(std::string& out, T value) {
  char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  out.append(bytes, sizeof(T));
}

class Reader {
 public:
  explicit Reader(const std::string& b) : b_(b) {}
  template <typename T>
  T get() {
    if (b_.size() - pos_ < sizeof(T))
      throw SubsystemCodecError("encounters: subsystem bytes are truncated");
    T value;
    std::memcpy(&value, b_.data() + pos_, sizeof(T));
    pos_ += sizeof(T);
    return value;
  }
  std::size_t left() const { return b_.size() - pos_; }

 private:
  const std::string& b_;
  std::size_t pos_ = 0;
};

}  // namespace

std::string encode_subsystems(const std::vector<Subsystem>& subsystems) {
  std::string out;
  put<std::uint32_t>(out, kFormat);
  put<std::uint64_t>(out, subsystems.size());
  for (const Subsystem& s : subsystems) {
    check_subsystem(s);
    put<std::uint64_t>(out, s.m.size());
    for (int id : s.ids) put<std::int32_t>(out, id);
    for (double m : s.m) put<double>(out, m);
    for (const Vec3& x : s.x)
      for (double c : x) put<double>(out, c);
    for (const Vec3& v : s.v)
      for (double c : v) put<double>(out, c);
    put<double>(out, s.t);
    put<double>(out, s.ds);
    put<double>(out, s.work);
    put<std::int64_t>(out, s.steps);
    put<std::int64_t>(out, s.rejected);
    put<std::int64_t>(out, s.force_evaluations);
    put<std::int64_t>(out, s.kepler_drifts);
  }
  return out;
}

std::vector<Subsystem> decode_subsystems(const std::string& bytes) {
  Reader r(bytes);
  const std::uint32_t format = r.get<std::uint32_t>();
  if (format != kFormat)
    throw SubsystemCodecError("encounters: subsystem bytes of unknown format " +
                              std::to_string(format));
  const std::uint64_t count = r.get<std::uint64_t>();
  // Each subsystem takes at least 8 + 2 * 84 bytes: a count that could not
  // fit is damage, not a reason to allocate.
  if (count > r.left() / 176)
    throw SubsystemCodecError("encounters: subsystem bytes are truncated");
  std::vector<Subsystem> out(count);
  for (Subsystem& s : out) {
    const std::uint64_t n = r.get<std::uint64_t>();
    if (n < 2 || n > r.left() / 60)
      throw SubsystemCodecError("encounters: subsystem bytes hold a bad member count");
    s.ids.resize(n);
    s.m.resize(n);
    s.x.resize(n);
    s.v.resize(n);
    for (int& id : s.ids) id = r.get<std::int32_t>();
    for (double& m : s.m) m = r.get<double>();
    for (Vec3& x : s.x)
      for (double& c : x) c = r.get<double>();
    for (Vec3& v : s.v)
      for (double& c : v) c = r.get<double>();
    s.t = r.get<double>();
    s.ds = r.get<double>();
    s.work = r.get<double>();
    s.steps = r.get<std::int64_t>();
    s.rejected = r.get<std::int64_t>();
    s.force_evaluations = r.get<std::int64_t>();
    s.kepler_drifts = r.get<std::int64_t>();
    try {
      check_subsystem(s);
    } catch (const std::invalid_argument& e) {
      throw SubsystemCodecError(std::string("encounters: decoded subsystem is invalid: ") +
                                e.what());
    }
  }
  if (r.left() != 0) throw SubsystemCodecError("encounters: subsystem bytes have bytes left over");
  return out;
}

}  // namespace encounters
