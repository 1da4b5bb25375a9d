// The piecewise power law: parsing of "m0,a1,m1,...", its closed-form
// cumulative distribution and mean, and sampling by inversion.
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "imf.h"

namespace models {
namespace {

// Integral of m^-a over [lo, hi], and of m^(1-a).
double power_integral(double lo, double hi, double a) {
  if (a == 1.0) return std::log(hi / lo);
  return (std::pow(hi, 1.0 - a) - std::pow(lo, 1.0 - a)) / (1.0 - a);
}

// Coefficient of each segment making the law continuous (the first is 1).
std::vector<double> coefficients(const PowerLaw& law) {
  std::vector<double> c(law.alpha.size(), 1.0);
  for (std::size_t k = 1; k < c.size(); ++k) {
    const double b = law.mass[k];
    c[k] = c[k - 1] * std::pow(b, law.alpha[k] - law.alpha[k - 1]);
  }
  return c;
}

std::vector<double> segment_counts(const PowerLaw& law) {
  const std::vector<double> c = coefficients(law);
  std::vector<double> w(c.size());
  for (std::size_t k = 0; k < c.size(); ++k) {
    w[k] = c[k] * power_integral(law.mass[k], law.mass[k + 1], law.alpha[k]);
  }
  return w;
}

}  // namespace

std::string check_law(const PowerLaw& law) {
  if (law.mass.empty()) return "no masses";
  if (law.alpha.size() + 1 != law.mass.size()) return "the masses and slopes do not alternate";
  for (std::size_t k = 0; k < law.mass.size(); ++k) {
    if (!(law.mass[k] > 0.0) || !std::isfinite(law.mass[k])) return "a mass is not positive";
    if (k > 0 && !(law.mass[k] > law.mass[k - 1])) return "the masses do not increase";
  }
  for (double a : law.alpha) {
    if (!std::isfinite(a)) return "a slope is not finite";
  }
  return "";
}

double law_min(const PowerLaw& law) { return law.mass.front(); }

MassSampler::MassSampler(const PowerLaw& law) : law_(law) {
  if (law.alpha.empty()) return;
  const std::vector<double> w = segment_counts(law);
  double total = 0.0;
  for (double x : w) total += x;
  double sum = 0.0;
  for (std::size_t k = 0; k < w.size(); ++k) {
    sum += w[k];
    share_.push_back(k + 1 == w.size() ? 1.0 : sum / total);
    const double p = 1.0 - law.alpha[k];
    lo_p_.push_back(p == 0.0 ? 0.0 : std::pow(law.mass[k], p));
    hi_p_.push_back(p == 0.0 ? 0.0 : std::pow(law.mass[k + 1], p));
  }
}

double MassSampler::draw(Random& random) const {
  if (law_.alpha.empty()) return law_.mass.front();
  const double u = random.uniform();
  std::size_t k = 0;
  while (k + 1 < share_.size() && u >= share_[k]) ++k;
  const double lo = law_.mass[k], hi = law_.mass[k + 1], a = law_.alpha[k];
  const double x = random.uniform();
  double m;
  if (a == 1.0) {
    m = lo * std::pow(hi / lo, x);
  } else {
    m = std::pow(lo_p_[k] + x * (hi_p_[k] - lo_p_[k]), 1.0 / (1.0 - a));
  }
  return std::fmin(std::fmax(m, lo), hi);
}

double law_cdf(const PowerLaw& law, double m) {
  if (law.alpha.empty()) return m < law.mass.front() ? 0.0 : 1.0;
  const std::vector<double> c = coefficients(law);
  const std::vector<double> w = segment_counts(law);
  double total = 0.0, below = 0.0;
  for (std::size_t k = 0; k < w.size(); ++k) {
    total += w[k];
    const double lo = law.mass[k], hi = law.mass[k + 1];
    if (m >= hi) {
      below += w[k];
    } else if (m > lo) {
      below += c[k] * power_integral(lo, m, law.alpha[k]);
    }
  }
  return below / total;
}

double law_mean(const PowerLaw& law) {
  if (law.alpha.empty()) return law.mass.front();
  const std::vector<double> c = coefficients(law);
  double count = 0.0, mass = 0.0;
  for (std::size_t k = 0; k < c.size(); ++k) {
    count += c[k] * power_integral(law.mass[k], law.mass[k + 1], law.alpha[k]);
    mass += c[k] * power_integral(law.mass[k], law.mass[k + 1], law.alpha[k] - 1.0);
  }
  return mass / count;
}

PowerLaw imf_power(const std::string& list) {
  PowerLaw law;
  const char* p = list.c_str();
  for (std::size_t index = 0;; ++index) {
    char* end = nullptr;
    const double value = std::strtod(p, &end);
    if (end == p || (*end != ',' && *end != '\0')) {
      throw std::invalid_argument("'power:" + list + "': expected a number at '" + p + "'");
    }
    (index % 2 == 0 ? law.mass : law.alpha).push_back(value);
    if (*end == '\0') break;
    p = end + 1;
  }
  if (law.mass.size() < 2 || law.alpha.size() + 1 != law.mass.size()) {
    throw std::invalid_argument("'power:" + list +
                                "': give masses and slopes in turn, m0,a1,m1[,a2,m2...]");
  }
  const std::string fault = check_law(law);
  if (!fault.empty()) throw std::invalid_argument("'power:" + list + "': " + fault);
  return law;
}

}  // namespace models
