// --galaxy: components joined by '+', each kind:p1,p2,... in physical units:
//   point-mass:M                 M in Msun
//   plummer:M,b                  b in kpc
//   hernquist:M,a                a in kpc
//   miyamoto-nagai:M,a,b         a, b in kpc
//   nfw:M,r,c                    M within r (kpc), concentration c = r / r_s
//   logarithmic:v0,rc,q          v0 in km/s, rc in kpc, q the flattening
#include <cmath>
#include <cstdlib>

#include "field_options.h"

namespace fields {
namespace {

std::vector<double> numbers(const std::string& kind, const std::string& text) {
  std::vector<double> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = text.find(',', start);
    const std::string item =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    char* end = nullptr;
    const double v = std::strtod(item.c_str(), &end);
    if (item.empty() || *end != '\0' || !std::isfinite(v)) {
      throw FieldUsageError("--galaxy: " + kind + " needs numbers, found '" + item + "'");
    }
    if (!(v > 0.0)) {
      throw FieldUsageError("--galaxy: " + kind + " parameters must be positive, found '" + item +
                            "'");
    }
    out.push_back(v);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

}  // namespace

std::shared_ptr<Galaxy> parse_galaxy(const std::string& text, const Units& u) {
  auto g = std::make_shared<Galaxy>();
  const double kpc = 1000.0 / u.length_pc, msun = 1.0 / u.mass_msun, kms = 1.0 / u.velocity_kms;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t plus = text.find('+', start);
    const std::string part =
        text.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
    const std::size_t colon = part.find(':');
    const std::string kind = part.substr(0, colon);
    if (colon == std::string::npos) {
      throw FieldUsageError("--galaxy: '" + part + "' needs its parameters (kind:p1,p2,...)");
    }
    const std::vector<double> p = numbers(kind, part.substr(colon + 1));
    auto need = [&](std::size_t n, const char* form) {
      if (p.size() != n) {
        throw FieldUsageError("--galaxy: " + kind + " takes " + form + ", found '" + part + "'");
      }
    };
    if (kind == "point-mass") {
      need(1, "M (Msun)");
      g->add(make_point_mass(p[0] * msun));
    } else if (kind == "plummer") {
      need(2, "M,b (Msun, kpc)");
      g->add(make_plummer(p[0] * msun, p[1] * kpc));
    } else if (kind == "hernquist") {
      need(2, "M,a (Msun, kpc)");
      g->add(make_hernquist(p[0] * msun, p[1] * kpc));
    } else if (kind == "miyamoto-nagai") {
      need(3, "M,a,b (Msun, kpc, kpc)");
      g->add(make_miyamoto_nagai(p[0] * msun, p[1] * kpc, p[2] * kpc));
    } else if (kind == "nfw") {
      need(3, "M,r,c (Msun within r kpc, concentration)");
      g->add(make_nfw(p[0] * msun, p[1] * kpc, p[2]));
    } else if (kind == "logarithmic") {
      need(3, "v0,rc,q (km/s, kpc, flattening)");
      g->add(make_logarithmic(p[0] * kms, p[1] * kpc, p[2]));
    } else {
      throw FieldUsageError("--galaxy: unknown component '" + kind +
                            "' (point-mass, plummer, hernquist, miyamoto-nagai, nfw, "
                            "logarithmic)");
    }
    if (plus == std::string::npos) break;
    start = plus + 1;
  }
  return g;
}

}  // namespace fields
