// Plain values to and from the bytes of a checkpoint section, in native
// byte order: what each section's codec (regularisation_codec.h,
// tree_state_codec.h, encounter_log.cc) writes and reads field by field.
#pragma once

#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace hermite {

// Appends the bytes of a trivially copyable value.
template <class T>
void put_bytes(std::string& out, const T& v) {
  out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

// Reads values in order from bytes it does not own. A read past the end
// throws std::runtime_error(`truncated`) and reads nothing.
class SectionReader {
 public:
  SectionReader(const std::string& bytes, std::string truncated)
      : b_(bytes), truncated_(std::move(truncated)) {}
  template <class T>
  void get(T& v) {
    if (left() < sizeof v) throw std::runtime_error(truncated_);
    std::memcpy(&v, b_.data() + at_, sizeof v);
    at_ += sizeof v;
  }
  // The next n bytes as a string.
  std::string take(std::size_t n) {
    if (left() < n) throw std::runtime_error(truncated_);
    std::string s = b_.substr(at_, n);
    at_ += n;
    return s;
  }
  std::size_t left() const { return b_.size() - at_; }

 private:
  const std::string& b_;
  std::string truncated_;
  std::size_t at_ = 0;
};

}  // namespace hermite
