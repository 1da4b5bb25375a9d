// Masses of cluster_gen's mass functions against distributions computed
// here by quadrature of the density each names (not the closed forms of
// models/imf_power.cc): Kolmogorov-Smirnov distance and mean of 100,000
// masses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "cluster.h"

namespace {

using Density = std::function<double(double)>;

// Cumulative distribution of an unnormalised density on [lo, hi] by the
// trapezium rule on a fine grid in ln m; also its mean.
struct Reference {
  std::vector<double> m, cdf;
  double mean = 0.0;
  Reference(const Density& f, double lo, double hi) {
    const int steps = 400000;
    const double h = std::log(hi / lo) / steps;
    double count = 0.0, mass = 0.0;
    m.push_back(lo);
    cdf.push_back(0.0);
    for (int i = 1; i <= steps; ++i) {
      const double a = lo * std::exp((i - 1) * h), b = lo * std::exp(i * h);
      count += 0.5 * h * (a * f(a) + b * f(b));  // dN = f(m) m d ln m
      mass += 0.5 * h * (a * a * f(a) + b * b * f(b));
      m.push_back(b);
      cdf.push_back(count);
    }
    for (double& c : cdf) c /= count;
    mean = mass / count;
  }
  double operator()(double x) const {
    const auto it = std::upper_bound(m.begin(), m.end(), x);
    if (it == m.begin()) return 0.0;
    if (it == m.end()) return 1.0;
    const std::size_t k = static_cast<std::size_t>(it - m.begin());
    const double t = (x - m[k - 1]) / (m[k] - m[k - 1]);
    return cdf[k - 1] + t * (cdf[k] - cdf[k - 1]);
  }
};

// Masses in Msun of a cluster of n single stars.
std::vector<double> masses(const models::ClusterOptions& options) {
  const models::Cluster c = models::build_cluster(options);
  std::vector<double> m(c.m);
  for (double& x : m) x *= c.units.mass_msun;
  return m;
}

double ks_distance(std::vector<double> sample, const Reference& cdf) {
  std::sort(sample.begin(), sample.end());
  const double n = static_cast<double>(sample.size());
  double d = 0.0;
  for (std::size_t i = 0; i < sample.size(); ++i) {
    const double f = cdf(sample[i]);
    d = std::max({d, std::fabs(f - i / n), std::fabs((i + 1) / n - f)});
  }
  return d;
}

struct Case {
  const char* imf;
  double m_min, m_max;  // NaN: the IMF's default
  Density density;
  double lo, hi;
};

double kroupa(double m) {  // continuous at 0.08 and 0.5
  if (m < 0.08) return std::pow(m / 0.08, -0.3) * std::pow(0.08 / 0.5, -1.3);
  if (m < 0.5) return std::pow(m / 0.5, -1.3);
  return std::pow(m / 0.5, -2.3);
}

TEST(MassFunctions, MatchTheirDistributionsAndMeans) {
  const double unset = models::kUnset;
  const Case cases[] = {
      {"salpeter", unset, unset, [](double m) { return std::pow(m, -2.35); }, 0.1, 100.0},
      {"salpeter", 0.5, 20.0, [](double m) { return std::pow(m, -2.35); }, 0.5, 20.0},
      {"kroupa", unset, unset, kroupa, 0.08, 100.0},
      {"kroupa", 0.01, 150.0, kroupa, 0.01, 150.0},
      {"kroupa", 0.1, 0.4, kroupa, 0.1, 0.4},
      {"power:0.2,0.5,1,1,3,2.7,40", unset, unset,
       [](double m) {
         if (m < 1.0) return std::pow(m, -0.5);
         if (m < 3.0) return 1.0 / m;
         return std::pow(3.0, 1.7) * std::pow(m, -2.7);
       },
       0.2, 40.0},
  };
  const int n = 100000;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.imf) + " " + std::to_string(c.m_min) + " " +
                 std::to_string(c.m_max));
    models::ClusterOptions o;
    o.n = n;
    o.imf = c.imf;
    o.m_min = c.m_min;
    o.m_max = c.m_max;
    const std::vector<double> m = masses(o);
    const Reference ref(c.density, c.lo, c.hi);
    // 1.95 / sqrt(n): the 0.1% level of the Kolmogorov distribution.
    EXPECT_LT(ks_distance(m, ref), 1.95 / std::sqrt(n));
    double sum = 0.0, sum2 = 0.0;
    for (double x : m) sum += x, sum2 += x * x;
    const double mean = sum / n, sd = std::sqrt(sum2 / n - mean * mean);
    EXPECT_NEAR(mean, ref.mean, 4.0 * sd / std::sqrt(n));
    EXPECT_GE(*std::min_element(m.begin(), m.end()), c.lo);
    EXPECT_LE(*std::max_element(m.begin(), m.end()), c.hi);
  }
}

TEST(MassFunctions, KroupaDefaultMeanAndSpread) {
  const Reference ref(kroupa, 0.08, 100.0);
  EXPECT_NEAR(ref.mean, 0.5738, 0.0003);
  EXPECT_NEAR(100.0 / ref.mean, 174.3, 0.2);
}

TEST(MassFunctions, EqualMassesShareTheTotal) {
  models::ClusterOptions o;
  o.n = 1000;
  o.mass = 2500.0;
  const models::Cluster c = models::build_cluster(o);
  EXPECT_DOUBLE_EQ(c.units.mass_msun, 2500.0);
  for (double m : c.m) ASSERT_NEAR(m, 1e-3, 1e-17);
}

}  // namespace
