#include "field_section.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace fields {
namespace {

std::string hex(double v) {
  char t[40];
  std::snprintf(t, sizeof t, "%a", v);
  return t;
}

double read_number(const std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(v)) {
    throw FieldUsageError("the checkpoint's field section holds a bad number '" + text + "'");
  }
  return v;
}

}  // namespace

std::string encode_field_section(const FieldOptions& o, double work) {
  std::string s;
  for (const std::string& g : o.given) s += "given " + g + "\n";
  s += "galaxy " + o.galaxy + "\n";
  s += "orbit " + hex(o.orbit_radius) + "\n";
  for (double q : o.orbit_state) s += "state " + hex(q) + "\n";
  s += "tides " + o.tides + "\n";
  s += "omega " + hex(o.omega) + "\n";
  s += "mass " + hex(o.mass) + "\n";
  s += "radius " + hex(o.radius) + "\n";
  s += "escapers " + o.escapers + "\n";
  s += "escape_radius " + hex(o.escape_radius) + "\n";
  s += std::string("inertial ") + (o.inertial_velocities ? "1" : "0") + "\n";
  s += "work " + hex(work) + "\n";
  return s;
}

FieldOptions decode_field_section(const std::string& bytes, double* work) {
  FieldOptions o;
  std::istringstream in(bytes);
  std::string line;
  bool have_work = false;
  while (std::getline(in, line)) {
    const auto sp = line.find(' ');
    if (sp == std::string::npos) {
      throw FieldUsageError("the checkpoint's field section holds a bad line '" + line + "'");
    }
    const std::string key = line.substr(0, sp), value = line.substr(sp + 1);
    if (key == "given") {
      o.given.push_back(value);
    } else if (key == "galaxy") {
      o.galaxy = value;
    } else if (key == "orbit") {
      o.orbit_radius = read_number(value);
    } else if (key == "state") {
      o.orbit_state.push_back(read_number(value));
    } else if (key == "tides") {
      o.tides = value;
    } else if (key == "omega") {
      o.omega = read_number(value);
    } else if (key == "mass") {
      o.mass = read_number(value);
    } else if (key == "radius") {
      o.radius = read_number(value);
    } else if (key == "escapers") {
      o.escapers = value;
    } else if (key == "escape_radius") {
      o.escape_radius = read_number(value);
    } else if (key == "inertial") {
      o.inertial_velocities = value == "1";
    } else if (key == "work") {
      *work = read_number(value);
      have_work = true;
    } else {
      throw FieldUsageError("the checkpoint's field section holds an unknown entry '" + key + "'");
    }
  }
  if (!have_work || !o.any_field()) {
    throw FieldUsageError("the checkpoint's field section is incomplete");
  }
  return o;
}

}  // namespace fields
