#include "escapers.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "field_options.h"

namespace fields {
namespace {

double distance(const Vec3& a, const Vec3& b) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

std::string hex(double v) {
  char t[40];
  std::snprintf(t, sizeof t, "%a", v);
  return t;
}

[[noreturn]] void bad(const std::string& what) {
  throw FieldUsageError("the checkpoint's escapers section " + what);
}

double read_number(const std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(v)) bad("holds a bad number '" + text + "'");
  return v;
}

long long read_count(const std::string& text) {
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < 0) bad("holds a bad count '" + text + "'");
  return v;
}

}  // namespace

std::vector<int> select_escapers(double k, double r_jacobi, double m_jacobi, const Vec3& centre,
                                 const std::vector<double>& mass, const std::vector<Vec3>& pos,
                                 const std::vector<Vec3>& vel, double eps) {
  std::vector<int> out;
  if (!(k > 0.0) || !std::isfinite(r_jacobi) || !(r_jacobi > 0.0)) return out;
  const std::size_t n = mass.size();
  std::vector<unsigned char> leaves(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    if (mass[i] > 0.0 && distance(pos[i], centre) > k * r_jacobi) leaves[i] = 1;
  }
  // Companions bound to a leaving star leave with it; a companion's own
  // companion as well (a hierarchical triple), hence the passes.
  for (bool added = true; added;) {
    added = false;
    for (std::size_t i = 0; i < n; ++i) {
      if (leaves[i] == 0) continue;
      for (std::size_t j = 0; j < n; ++j) {
        if (leaves[j] != 0 || !(mass[j] > 0.0)) continue;
        const double mp = mass[i] + mass[j];
        const double r = distance(pos[i], pos[j]);
        if (!(r < r_jacobi * std::cbrt(mp / m_jacobi))) continue;
        const double dv2 = (vel[i][0] - vel[j][0]) * (vel[i][0] - vel[j][0]) +
                           (vel[i][1] - vel[j][1]) * (vel[i][1] - vel[j][1]) +
                           (vel[i][2] - vel[j][2]) * (vel[i][2] - vel[j][2]);
        // Per unit reduced mass: v^2 / 2 - (m_i + m_j) / sqrt(r^2 + eps^2).
        if (0.5 * dv2 - mp / std::sqrt(r * r + eps * eps) < 0.0) {
          leaves[j] = 1;
          added = true;
        }
      }
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (leaves[i] != 0) out.push_back(static_cast<int>(i));
  }
  return out;
}

std::string escaper_header() { return "time,id,mass,x,y,z,vx,vy,vz,energy,e_field,xg,yg,zg"; }

std::string escaper_row(const Escaper& e) {
  char t[512];
  std::snprintf(t, sizeof t,
                "%.17g,%d,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g",
                e.t, e.id, e.m, e.x[0], e.x[1], e.x[2], e.v[0], e.v[1], e.v[2], e.energy, e.e_field,
                e.centre_galactic[0], e.centre_galactic[1], e.centre_galactic[2]);
  return t;
}

std::string encode_escaper_section(const EscaperSection& s) {
  std::string out = "format 1\n";
  out += "file_bytes " + std::to_string(s.file_bytes) + "\n";
  out += "energy " + hex(s.totals.energy) + "\n";
  out += "mass " + hex(s.totals.mass) + "\n";
  out += "count " + std::to_string(s.totals.n) + "\n";
  for (const Escaper& e : s.records) {
    out += "record " + hex(e.t) + " " + std::to_string(e.id) + " " + hex(e.m);
    for (const Vec3* q : {&e.x, &e.v}) {
      for (double c : *q) out += " " + hex(c);
    }
    out += " " + hex(e.energy) + " " + hex(e.e_field);
    for (double c : e.centre_galactic) out += " " + hex(c);
    out += "\n";
  }
  return out;
}

EscaperSection decode_escaper_section(const std::string& bytes) {
  EscaperSection s;
  std::istringstream in(bytes);
  std::string line;
  bool format = false, have_bytes = false, have_count = false;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    std::vector<std::string> v;
    for (std::string w; words >> w;) v.push_back(w);
    if (key == "format") {
      if (v.size() != 1 || v[0] != "1") bad("has an unknown format");
      format = true;
    } else if (key == "file_bytes" && v.size() == 1) {
      s.file_bytes = read_count(v[0]);
      have_bytes = true;
    } else if (key == "energy" && v.size() == 1) {
      s.totals.energy = read_number(v[0]);
    } else if (key == "mass" && v.size() == 1) {
      s.totals.mass = read_number(v[0]);
    } else if (key == "count" && v.size() == 1) {
      s.totals.n = read_count(v[0]);
      have_count = true;
    } else if (key == "record" && v.size() == 14) {
      Escaper e;
      e.t = read_number(v[0]);
      const long long id = read_count(v[1]);
      if (id > 0x7fffffff) bad("holds a bad slot '" + v[1] + "'");
      e.id = static_cast<int>(id);
      e.m = read_number(v[2]);
      for (int c = 0; c < 3; ++c) {
        e.x[c] = read_number(v[3 + c]);
        e.v[c] = read_number(v[6 + c]);
        e.centre_galactic[c] = read_number(v[11 + c]);
      }
      e.energy = read_number(v[9]);
      e.e_field = read_number(v[10]);
      s.records.push_back(e);
    } else {
      bad("holds a bad line '" + line + "'");
    }
  }
  if (!format || !have_bytes || !have_count) bad("is incomplete");
  if (s.totals.n != static_cast<long long>(s.records.size())) {
    bad("counts " + std::to_string(s.totals.n) + " escapers but holds " +
        std::to_string(s.records.size()) + " records");
  }
  return s;
}

}  // namespace fields
