#include "mass_groups_section.h"

#include <cmath>
#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace hermite {
namespace {

[[noreturn]] void bad(const std::string& what) {
  throw std::runtime_error("the checkpoint's mass-groups section " + what);
}

}  // namespace

std::string encode_mass_groups_section(const MassGroups& g) {
  std::string s = "bounds";
  char t[40];
  for (double b : g.bounds) {
    std::snprintf(t, sizeof t, " %a", b);
    s += t;
  }
  s += "\nmembers " + std::to_string(g.member.size()) + "\n";
  for (std::size_t i = 0; i < g.member.size(); ++i) {
    if (i > 0) s += ' ';
    s += std::to_string(g.member[i]);
  }
  s += "\n";
  return s;
}

MassGroups decode_mass_groups_section(const std::string& bytes, std::size_t n) {
  MassGroups g;
  std::istringstream in(bytes);
  std::string line, word;
  if (!std::getline(in, line)) bad("is empty");
  std::istringstream bounds(line);
  if (!(bounds >> word) || word != "bounds") bad("does not start with its boundaries");
  while (bounds >> word) {
    char* end = nullptr;
    const double b = std::strtod(word.c_str(), &end);
    if (*end != '\0' || !std::isfinite(b) || !(b > 0.0) ||
        (!g.bounds.empty() && !(b > g.bounds.back()))) {
      bad("holds a bad boundary '" + word + "'");
    }
    g.bounds.push_back(b);
  }
  if (g.bounds.empty()) bad("holds no boundaries");
  long long count = -1;
  if (!(in >> word >> count) || word != "members" || count < 0) bad("holds no member count");
  if (static_cast<unsigned long long>(count) != n) {
    bad("holds " + std::to_string(count) + " members for " + std::to_string(n) + " particles");
  }
  const int groups = static_cast<int>(g.bounds.size()) + 1;
  g.member.resize(n);
  for (int& k : g.member) {
    if (!(in >> k) || k < -1 || k >= groups) bad("holds a bad or missing group");
  }
  if (in >> word) bad("holds more than its members");
  return g;
}

}  // namespace hermite
