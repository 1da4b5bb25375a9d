#include "checkpoint.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>

namespace hermite {
namespace {

const char kMagic[8] = {'N', 'B', 'F', 'C', 'K', 'P', 'T', '\n'};
constexpr std::uint32_t kByteOrder = 0x01020304u;
constexpr std::size_t kHead = 8 + 4 + 4 + 8;

std::uint64_t fnv1a(const char* data, std::size_t n) {
  std::uint64_t h = 14695981039346656037ull;
  for (std::size_t i = 0; i < n; ++i) {
    h ^= static_cast<unsigned char>(data[i]);
    h *= 1099511628211ull;
  }
  return h;
}

class Writer {
 public:
  template <class T>
  void raw(const T& v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
  }
  void i32(int v) { raw(static_cast<std::int32_t>(v)); }
  void i64(long long v) { raw(static_cast<std::int64_t>(v)); }
  void f64(double v) { raw(v); }
  void str(const std::string& s) {
    raw(static_cast<std::uint64_t>(s.size()));
    out += s;
  }
  template <class T>
  void array(const std::vector<T>& v) {
    raw(static_cast<std::uint64_t>(v.size()));
    if (!v.empty()) out.append(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(T));
  }
  std::string out;
};

class Reader {
 public:
  Reader(const std::string& bytes, std::size_t begin, std::size_t end, const std::string& name)
      : b_(bytes), pos_(begin), end_(end), name_(name) {}
  template <class T>
  T raw() {
    need(sizeof(T));
    T v;
    std::memcpy(&v, b_.data() + pos_, sizeof v);
    pos_ += sizeof v;
    return v;
  }
  int i32() { return raw<std::int32_t>(); }
  long long i64() { return raw<std::int64_t>(); }
  double f64() { return raw<double>(); }
  std::string str() {
    const auto n = raw<std::uint64_t>();
    need(n);
    std::string s = b_.substr(pos_, n);
    pos_ += n;
    return s;
  }
  template <class T>
  std::vector<T> array() {
    const auto n = raw<std::uint64_t>();
    if (n > (end_ - pos_) / sizeof(T)) bad("an array runs past the end of the data");
    std::vector<T> v(n);
    if (n > 0) std::memcpy(static_cast<void*>(v.data()), b_.data() + pos_, n * sizeof(T));
    pos_ += n * sizeof(T);
    return v;
  }
  void finish() const {
    if (pos_ != end_) bad(std::to_string(end_ - pos_) + " bytes are left over after the data");
  }
  [[noreturn]] void bad(const std::string& what) const {
    throw CheckpointError(name_ + ": damaged checkpoint: " + what);
  }

 private:
  void need(std::uint64_t n) const {
    if (n > end_ - pos_) bad("a field runs past the end of the data");
  }
  const std::string& b_;
  std::size_t pos_, end_;
  const std::string& name_;
};

bool known_section(const std::string& tag) {
  for (const char* k : kCheckpointSections) {
    if (tag == k) return true;
  }
  return false;
}

}  // namespace

std::string encode_checkpoint(const Checkpoint& c) {
  Writer w;
  w.out.append(kMagic, 8);
  w.raw(static_cast<std::uint32_t>(kCheckpointVersion));
  w.raw(kByteOrder);
  w.raw(std::uint64_t{0});  // the length, filled in below
  w.i32(c.order);
  for (double v : {c.eps, c.eta, c.dt_max, c.shared_dt, c.dt_out, c.energy_limit, c.t_end}) {
    w.f64(v);
  }
  for (const std::string* s :
       {&c.input, &c.energy_csv, &c.snapshots, &c.snapshot_format, &c.radii_csv, &c.core_csv}) {
    w.str(*s);
  }
  w.f64(c.t0);
  w.i32(c.number0);
  w.i64(c.next_output);
  w.i64(c.radii_bytes);
  w.i64(c.core_bytes);
  w.f64(c.wall);
  const ReportState& r = c.report;
  w.i32(r.have_e0 ? 1 : 0);
  w.f64(r.e0.kinetic);
  w.f64(r.e0.potential);
  w.f64(r.last_error.value);
  w.i32(r.last_error.relative ? 1 : 0);
  w.f64(r.max_error);
  w.f64(r.last_t);
  w.f64(r.last_wall);
  w.i64(r.last.particle_steps);
  w.i64(r.last.block_steps);
  w.f64(r.last.interactions);
  w.i64(r.energy_bytes);
  w.array(c.mass);
  const IntegratorState& s = c.state;
  w.i32(s.derivs);
  w.array(s.x);
  w.array(s.v);
  w.array(s.derivs_of);
  w.array(s.t);
  w.array(s.dt);
  w.f64(s.time);
  w.i64(s.counters.particle_steps);
  w.i64(s.counters.block_steps);
  w.f64(s.counters.interactions);
  w.array(s.alive);
  w.f64(r.e0.external);
  w.raw(static_cast<std::uint64_t>(c.sections.size()));
  for (const auto& [tag, bytes] : c.sections) {
    w.str(tag);
    w.str(bytes);
  }
  const std::uint64_t length = w.out.size() + 8;
  std::memcpy(&w.out[16], &length, 8);
  w.raw(fnv1a(w.out.data(), w.out.size()));
  return std::move(w.out);
}

Checkpoint decode_checkpoint(const std::string& b, const std::string& name) {
  auto bad = [&](const std::string& what) {
    throw CheckpointError(name + ": not a usable checkpoint: " + what);
  };
  if (b.size() < kHead + 8 || std::memcmp(b.data(), kMagic, 8) != 0) {
    bad("it does not begin as a checkpoint file does");
  }
  std::uint32_t version = 0, order_mark = 0;
  std::uint64_t length = 0;
  std::memcpy(&version, b.data() + 8, 4);
  std::memcpy(&order_mark, b.data() + 12, 4);
  std::memcpy(&length, b.data() + 16, 8);
  if (order_mark != kByteOrder) bad("it was written on a machine of the other byte order");
  if (version < 1 || version > kCheckpointVersion) {
    bad("format version " + std::to_string(version) + ", this program reads versions 1 to " +
        std::to_string(kCheckpointVersion));
  }
  if (length != b.size()) {
    bad("truncated or extended: " + std::to_string(b.size()) + " bytes where it records " +
        std::to_string(length));
  }
  std::uint64_t sum = 0;
  std::memcpy(&sum, b.data() + b.size() - 8, 8);
  if (sum != fnv1a(b.data(), b.size() - 8)) bad("the checksum does not match: the file is damaged");

  Reader r(b, kHead, b.size() - 8, name);
  Checkpoint c;
  c.order = r.i32();
  for (double* v :
       {&c.eps, &c.eta, &c.dt_max, &c.shared_dt, &c.dt_out, &c.energy_limit, &c.t_end}) {
    *v = r.f64();
  }
  for (std::string* s :
       {&c.input, &c.energy_csv, &c.snapshots, &c.snapshot_format, &c.radii_csv, &c.core_csv}) {
    *s = r.str();
  }
  c.t0 = r.f64();
  c.number0 = r.i32();
  c.next_output = r.i64();
  c.radii_bytes = r.i64();
  c.core_bytes = r.i64();
  c.wall = r.f64();
  ReportState& rs = c.report;
  rs.have_e0 = r.i32() != 0;
  rs.e0.kinetic = r.f64();
  rs.e0.potential = r.f64();
  rs.last_error.value = r.f64();
  rs.last_error.relative = r.i32() != 0;
  rs.max_error = r.f64();
  rs.last_t = r.f64();
  rs.last_wall = r.f64();
  rs.last.particle_steps = r.i64();
  rs.last.block_steps = r.i64();
  rs.last.interactions = r.f64();
  rs.energy_bytes = r.i64();
  c.mass = r.array<double>();
  IntegratorState& s = c.state;
  s.derivs = r.i32();
  s.x = r.array<Vec3>();
  s.v = r.array<Vec3>();
  s.derivs_of = r.array<Vec3>();
  s.t = r.array<double>();
  s.dt = r.array<double>();
  s.time = r.f64();
  s.counters.particle_steps = r.i64();
  s.counters.block_steps = r.i64();
  s.counters.interactions = r.f64();
  if (version >= 2) {
    s.alive = r.array<unsigned char>();
    rs.e0.external = r.f64();
    const auto count = r.raw<std::uint64_t>();
    for (std::uint64_t k = 0; k < count; ++k) {
      std::string tag = r.str();
      if (!known_section(tag)) {
        r.bad("it holds a section '" + tag +
              "' that this build does not know (written by a newer build?)");
      }
      if (c.sections.count(tag) != 0) r.bad("the section '" + tag + "' appears twice");
      c.sections[tag] = r.str();
    }
  }
  r.finish();
  const std::size_t n = c.mass.size();
  if (n == 0 || s.x.size() != n || s.v.size() != n || s.t.size() != n || s.dt.size() != n ||
      s.derivs < 2 || s.derivs > 4 ||
      s.derivs_of.size() != n * 2 * static_cast<std::size_t>(s.derivs) || c.order != 2 * s.derivs ||
      (!s.alive.empty() && s.alive.size() != n)) {
    r.bad("the particle arrays do not fit together");
  }
  if (c.next_output < 1 || c.number0 < 0 || !(c.dt_out > 0.0) || c.report.energy_bytes < 0 ||
      c.radii_bytes < 0 || c.core_bytes < 0) {
    r.bad("the run's counters are out of range");
  }
  return c;
}

std::string read_file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CheckpointError(path + ": cannot open: " + std::strerror(errno));
  std::ostringstream s;
  s << in.rdbuf();
  if (in.bad()) throw CheckpointError(path + ": cannot read: " + std::strerror(errno));
  return s.str();
}

}  // namespace hermite
