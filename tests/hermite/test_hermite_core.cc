// The integrator without a force library: the scheme's arithmetic against
// polynomial motion, the time-step rules, the model file, the options, and
// whole runs over exact double-precision forces.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "convergence.h"
#include "direct_backend.h"
#include "integrator.h"
#include "kepler.h"
#include "model.h"
#include "options.h"
#include "report.h"
#include "scheme.h"
#include "small_model.h"

namespace hermite_test {
namespace {

namespace fs = std::filesystem;
using hermite::Derivs;

// A polynomial trajectory x(t) = sum_n c[n] t^n per component, and its
// derivatives.
struct Poly {
  std::vector<Vec3> c;
  Vec3 deriv(int k, double t) const {
    Vec3 out{};
    for (std::size_t n = static_cast<std::size_t>(k); n < c.size(); ++n) {
      double f = 1.0;
      for (int i = 0; i < k; ++i) f *= static_cast<double>(n - static_cast<std::size_t>(i));
      for (int a = 0; a < 3; ++a) out[a] += f * c[n][a] * std::pow(t, static_cast<double>(n) - k);
    }
    return out;
  }
};

Poly random_poly(int degree, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Poly p;
  for (int n = 0; n <= degree; ++n) p.c.push_back(Vec3{u(gen), u(gen), u(gen)});
  return p;
}

void expect_near(const Vec3& a, const Vec3& b, double tol, const std::string& what) {
  for (int c = 0; c < 3; ++c) {
    EXPECT_NEAR(a[c], b[c], tol * (1.0 + std::fabs(b[c]))) << what << " component " << c;
  }
}

template <int K>
struct Order {
  static constexpr int value = K;
};
template <class T>
class SchemeTest : public ::testing::Test {};
using Orders = ::testing::Types<Order<2>, Order<3>, Order<4>>;
TYPED_TEST_SUITE(SchemeTest, Orders);

// The interpolant over a step reproduces an acceleration that is a
// polynomial of degree 2K - 1 exactly, with its higher derivatives at both
// ends of the step.
TYPED_TEST(SchemeTest, InterpolationIsExactForPolynomials) {
  constexpr int K = TypeParam::value;
  const Poly x = random_poly(2 * K + 1, 11u + K);  // acceleration of degree 2K - 1
  const double t0 = 0.3, h = 0.37;
  Vec3 f0[K], f1[K], end[K], start[K];
  for (int n = 0; n < K; ++n) {
    f0[n] = x.deriv(n + 2, t0);
    f1[n] = x.deriv(n + 2, t0 + h);
  }
  hermite::interpolate<K>(f0, f1, h, end, start);
  for (int q = 0; q < K; ++q) {
    expect_near(end[q], x.deriv(K + q + 2, t0 + h), 1e-9,
                "end derivative " + std::to_string(K + q));
    expect_near(start[q], x.deriv(K + q + 2, t0), 1e-9,
                "start derivative " + std::to_string(K + q));
  }
}

// One corrector step is exact for motion of degree 2K; at degree 2K + 1 the
// velocity is still exact and the position is not. Any wrong coefficient in
// the corrector breaks one of the two.
TYPED_TEST(SchemeTest, CorrectorIsExactToItsDegree) {
  constexpr int K = TypeParam::value;
  const double t0 = -0.2, h = 0.25;
  for (int degree : {2 * K, 2 * K + 1}) {
    const Poly x = random_poly(degree, 5u + static_cast<unsigned>(degree));
    Vec3 f0[K], f1[K], x1, v1;
    for (int n = 0; n < K; ++n) {
      f0[n] = x.deriv(n + 2, t0);
      f1[n] = x.deriv(n + 2, t0 + h);
    }
    hermite::correct<K>(h, x.deriv(0, t0), x.deriv(1, t0), f0, f1, x1, v1);
    expect_near(v1, x.deriv(1, t0 + h), 1e-13, "velocity, degree " + std::to_string(degree));
    if (degree == 2 * K) {
      expect_near(x1, x.deriv(0, t0 + h), 1e-13, "position, degree " + std::to_string(degree));
    } else {
      double miss = 0.0;
      for (int c = 0; c < 3; ++c) miss = std::fmax(miss, std::fabs(x1[c] - x.deriv(0, t0 + h)[c]));
      EXPECT_GT(miss, 1e-11) << "position exact beyond its degree";
    }
  }
}

// The predictor is the full Taylor series: exact for motion of degree
// 2K + 1, including the predicted acceleration and jerk.
TYPED_TEST(SchemeTest, PredictorIsTheTaylorSeries) {
  constexpr int K = TypeParam::value;
  const Poly x = random_poly(2 * K + 1, 23u);
  const double t0 = 0.1, tau = 0.4;
  Derivs<K> d;
  for (int n = 0; n < 2 * K; ++n) d[n] = x.deriv(n + 2, t0);
  Vec3 xp, vp, ap, jp;
  hermite::predict<K>(tau, x.deriv(0, t0), x.deriv(1, t0), d, &xp, &vp, &ap, &jp);
  expect_near(xp, x.deriv(0, t0 + tau), 1e-13, "position");
  expect_near(vp, x.deriv(1, t0 + tau), 1e-13, "velocity");
  expect_near(ap, x.deriv(2, t0 + tau), 1e-13, "acceleration");
  expect_near(jp, x.deriv(3, t0 + tau), 1e-13, "jerk");
}

// With every derivative of the acceleration a fixed multiple of the one
// before, a(n) = a / T^n, each order's criterion gives sqrt(eta) T: eta
// means the same at every order.
TYPED_TEST(SchemeTest, CriterionScalesWithTheTimeScale) {
  constexpr int K = TypeParam::value;
  for (double T : {1e-3, 0.7, 40.0}) {
    Derivs<K> d;
    for (int n = 0; n < 2 * K; ++n) d[n] = Vec3{0.3 / std::pow(T, n), -0.4 / std::pow(T, n), 0.0};
    EXPECT_NEAR(hermite::generalised_criterion<K>(d, 0.04), 0.2 * T, 1e-12 * T);
    // Over a step of 2 T every derivative stands far above its rounding
    // floor, which takes off well under 1% of the step. At eighth order
    // the stability limit binds where the dominant pair's pace is T.
    const double want = K == 4 ? hermite::kEighthOrderStability * T : 0.2 * T;
    EXPECT_NEAR(hermite::step_criterion<K>(d, 2.0 * T, 0.04, T), want, 2e-3 * T);
    EXPECT_NEAR(hermite::step_criterion<K>(d, 2.0 * T, 0.04), 0.2 * T, 2e-3 * T);
  }
  const Derivs<K> none{};
  EXPECT_TRUE(std::isinf(hermite::step_criterion<K>(none, 0.1, 0.01)));  // a lone particle
}

// Sixth and eighth order. Interpolated derivatives at the level that the
// rounding of single-precision forces leaves over a short step (their terms
// 5e-5 of the acceleration, whatever h) must not shorten the step, although
// the plain generalised criterion would take it below h and, step by step,
// to nothing. Interpolated derivatives of an encounter beginning within the
// step (terms of a tenth of the acceleration) must shorten it.
template <class T>
class HighOrderTest : public ::testing::Test {};
using HighOrders = ::testing::Types<Order<3>, Order<4>>;
TYPED_TEST_SUITE(HighOrderTest, HighOrders);

TYPED_TEST(HighOrderTest, RoundingDoesNotShortenTheStepAnEncounterDoes) {
  constexpr int K = TypeParam::value;
  const double eta = 0.01, h = 0.05;  // time scale T = 1
  auto with_terms = [&](double fraction) {
    Derivs<K> d;
    for (int n = 0; n < K; ++n) d[n] = Vec3{1.0, 0.0, 0.0};
    for (int n = K; n < 2 * K; ++n) {
      d[n] = Vec3{0.0, fraction * hermite::factorial(n) / std::pow(h, n), 0.0};
    }
    return d;
  };
  const Derivs<K> rounding = with_terms(5e-5);
  EXPECT_LT(hermite::generalised_criterion<K>(rounding, eta), h);
  EXPECT_GE(hermite::step_criterion<K>(rounding, h, eta), 0.5 * std::sqrt(eta));
  const Derivs<K> encounter = with_terms(0.1);
  EXPECT_LT(hermite::step_criterion<K>(encounter, h, eta), 0.2 * h);
}

// The largest a rounding error of 1 in each input (in units of the Taylor
// terms) can move each interpolated Taylor term: fourth order, from the
// closed forms of snap and crackle at the end of the step,
//   s h^2/2 = 3 (a0 - a1) + (a0' + 2 a1') h ... coefficients 3, 3, 1, 2,
//   c h^3/6 = 2 (a0 - a1) + (a0' + a1') h  ... coefficients 2, 2, 1, 1.
TEST(Scheme, RoundingGainsOfTheFourthOrderInterpolant) {
  const auto& gain = hermite::rounding_gain<2>();
  EXPECT_DOUBLE_EQ(gain[0], 9.0);
  EXPECT_DOUBLE_EQ(gain[1], 6.0);
}

// Relative position and velocity on a Kepler ellipse of semi-major axis 1,
// pericentre at t = 0.
void kepler_state(double e, double time, double mu, Vec3& r, Vec3& v) {
  const double n = std::sqrt(mu);
  const double E = hermite_test::eccentric_anomaly(n * time, e);
  const double rr = 1.0 - e * std::cos(E);
  r = Vec3{std::cos(E) - e, std::sqrt(1.0 - e * e) * std::sin(E), 0.0};
  v = Vec3{-n * std::sin(E) / rr, n * std::sqrt(1.0 - e * e) * std::cos(E) / rr, 0.0};
}

// Derivatives of the acceleration on a Kepler ellipse: a and j in closed
// form, s as the central difference of j along the analytic orbit.
hermite::Derivs<4> kepler_derivs(double e, double t, double mu) {
  auto aj = [&](double time, Vec3& a, Vec3& j) {
    Vec3 r, v;
    kepler_state(e, time, mu, r, v);
    const double r2 = r[0] * r[0] + r[1] * r[1], r3 = r2 * std::sqrt(r2);
    const double rv = r[0] * v[0] + r[1] * v[1];
    for (int c = 0; c < 3; ++c) {
      a[c] = -mu * r[c] / r3;
      j[c] = -mu * (v[c] / r3 - 3.0 * rv * r[c] / (r3 * r2));
    }
  };
  hermite::Derivs<4> d{};
  aj(t, d[0], d[1]);
  const double dt =
      1e-4 * std::pow(mu / hermite::norm(d[0]), 0.75) / std::sqrt(mu);  // 1e-4 sqrt(r^3 / mu)
  Vec3 a1, j1, a2, j2;
  aj(t + dt, a1, j1);
  aj(t - dt, a2, j2);
  for (int c = 0; c < 3; ++c) d[2][c] = (j1[c] - j2[c]) / (2.0 * dt);
  return d;
}

// On any two-body orbit the fit gives 1 / sqrt(mu / r^3) and no misfit,
// whatever the phase, and the pair's pace is the shorter of that and
// r / sqrt(v^2 + 3 v_r^2), which is the orbit's own |a| / |j| (checked
// against the analytic derivatives): equal on a circle, shorter on the way
// into pericentre. A particle whose acceleration comes from the whole
// system and whose higher derivatives from a neighbour has a misfit of 1,
// and its limit is relaxed tenfold.
TEST(Scheme, TwoBodyFitOfTheEighthOrderStabilityLimit) {
  const double mu = 0.7;
  for (double e : {0.0, 0.5, 0.9, 0.99}) {
    for (double t : {0.0, 0.4, 1.9, 3.0, 7.4}) {
      const auto d = kepler_derivs(e, t, mu);
      Vec3 x, v;
      kepler_state(e, t, mu, x, v);
      const double r = hermite::norm(x);
      const double vr = (x[0] * v[0] + x[1] * v[1]) / r;
      const double omega_t = std::sqrt(r * r * r / mu);
      const double sweep = r / std::sqrt(v[0] * v[0] + v[1] * v[1] + 3.0 * vr * vr);
      const hermite::TwoBodyFit fit = hermite::two_body_fit<4>(d);
      EXPECT_NEAR(fit.time_scale, omega_t, 1e-6 * omega_t) << "e = " << e << ", t = " << t;
      EXPECT_LT(fit.misfit, 1e-5) << "e = " << e << ", t = " << t;
      EXPECT_NEAR(sweep, hermite::norm(d[0]) / hermite::norm(d[1]), 1e-9 * sweep);
      hermite::DominantPair pair;
      pair.r = r;
      pair.v2 = v[0] * v[0] + v[1] * v[1];
      pair.vr = vr;
      pair.m = mu;
      const double pace = hermite::pair_pace(pair);
      EXPECT_NEAR(pace, std::fmin(omega_t, sweep), 1e-12 * pace);
      const double limit = hermite::kEighthOrderStability * std::fmin(omega_t, sweep);
      EXPECT_NEAR(hermite::eighth_order_limit<4>(d, pace), limit, 1e-6 * limit)
          << "e = " << e << ", t = " << t;
      if (e == 0.0) {
        EXPECT_NEAR(sweep, omega_t, 1e-9 * omega_t);
      }
    }
  }
  hermite::Derivs<4> grainy{};
  grainy[0] = Vec3{1.0, 0.0, 0.0};
  grainy[1] = Vec3{0.0, 5.0, 0.0};
  grainy[2] = Vec3{0.0, 0.0, 30.0};
  const hermite::TwoBodyFit fit = hermite::two_body_fit<4>(grainy);
  EXPECT_NEAR(fit.misfit, 1.0, 1e-12);
  EXPECT_NEAR(fit.time_scale, 1.0 / std::sqrt(37.5), 1e-12);
  EXPECT_NEAR(hermite::eighth_order_limit<4>(grainy, 0.3),
              10.0 * hermite::kEighthOrderStability * 0.3, 1e-12);
  // Where the forces balance the total acceleration vanishes; the pair's
  // pace does not, and neither does the limit.
  const hermite::Derivs<4> balanced{};
  hermite::DominantPair pair;
  pair.r = 0.5;
  pair.m = 2.0;
  EXPECT_NEAR(hermite::eighth_order_limit<4>(balanced, hermite::pair_pace(pair)),
              10.0 * hermite::kEighthOrderStability * std::sqrt(0.125 / 2.0), 1e-12);
  EXPECT_TRUE(std::isinf(hermite::pair_pace(hermite::DominantPair{})));
}

TEST(Scheme, BlockStepsHalveDoubleOnlyWhenAlignedAndStayPowersOfTwo) {
  using hermite::next_block_step;
  const double max = 0.125, min = 0x1p-40;
  EXPECT_EQ(next_block_step(1.0 / 64, 0.004, 0.5, max, min), 1.0 / 256);  // halved twice
  EXPECT_EQ(next_block_step(1.0 / 64, 1.0 / 64, 0.5, max, min), 1.0 / 64);
  EXPECT_EQ(next_block_step(1.0 / 64, 1.0, 0.5, max, min), 1.0 / 32);  // doubled once only
  EXPECT_EQ(next_block_step(1.0 / 64, 1.0, 0.5 + 1.0 / 64, max, min), 1.0 / 64);  // not aligned
  EXPECT_EQ(next_block_step(max, 1.0, 1.0, max, min), max);
  EXPECT_LT(next_block_step(1.0 / 64, 0.0, 0.5, max, min), min);  // the caller refuses this
}

// ---- model file ----

class ModelFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("hermite_model_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string write(const std::string& text) {
    const std::string path = (dir_ / "data.inp").string();
    std::ofstream(path) << text;
    return path;
  }
  fs::path dir_;
};

const char* const kGood =
    "0000 \n000002 \n0.0000000000000000E+00 \n"
    "000000   5.0000000000000000E-01   -1.0000000000000000E+00  0.0000000000000000E+00  "
    "0.0000000000000000E+00    0.0000000000000000E+00 -5.0000000000000000E-01  "
    "0.0000000000000000E+00 \n"
    "000001   5.0000000000000000E-01    1.0000000000000000E+00  0.0000000000000000E+00  "
    "0.0000000000000000E+00    0.0000000000000000E+00  5.0000000000000000E-01  "
    "0.0000000000000000E+00 \n";

TEST_F(ModelFileTest, ReadsTheGeneratorsLayoutAndWritesItBackExactly) {
  const hermite::Model m = hermite::read_model(write(kGood));
  ASSERT_EQ(m.size(), 2);
  EXPECT_EQ(m.pos[1][0], 1.0);
  EXPECT_EQ(m.vel[0][1], -0.5);

  hermite::Model s = small_model();
  s.number = 12;
  s.time = 0.1 + 0.2;  // not a short decimal
  const std::string path = (dir_ / "snap.inp").string();
  hermite::write_model(path, s);
  const hermite::Model back = hermite::read_model(path);
  EXPECT_EQ(back.number, 12);
  EXPECT_EQ(back.time, s.time);
  EXPECT_EQ(back.mass, s.mass);
  EXPECT_EQ(back.pos, s.pos);
  EXPECT_EQ(back.vel, s.vel);
  EXPECT_FALSE(fs::exists(path + ".partial"));
}

TEST_F(ModelFileTest, RefusesMalformedFilesNamingTheLine) {
  const std::string head = "0000 \n000002 \n0.0E+00 \n";
  const std::string p0 = "000000 0.5 -1 0 0 0 -0.5 0\n";
  const std::string p1 = "000001 0.5 1 0 0 0 0.5 0\n";
  struct Case {
    std::string text, where, what;
  };
  const Case cases[] = {
      {"", ":1:", "ends before the snapshot number"},
      {"0000 \n", ":2:", "ends before the particle count"},
      {"0000 \nabc \n0.0\n", ":2:", "expected an integer for the particle count, found 'abc'"},
      {"0000 \n-3 \n0.0\n", ":2:", "must be positive"},
      {"0000 \n2 7\n0.0\n", ":2:", "alone on the line"},
      {"0000 \n000002 \nnow \n", ":3:", "expected a number for the time, found 'now'"},
      {head + p0, ":5:", "ends after 1 of 2 particle lines"},
      {head + p0 + "000001 0.5 1 0 0 0 0.5\n", ":5:", "expected 8 fields"},
      {head + p0 + "000001 0.5 1 0 zero 0 0.5 0\n", ":5:", "number for the z, found 'zero'"},
      {head + p0 + "000001 0.5 1 0 0 0 nan 0\n", ":5:", "vy is not finite"},
      {head + p0 + "000007 0.5 1 0 0 0 0.5 0\n", ":5:", "expected particle index 1"},
      {head + p0 + "000001 -0.5 1 0 0 0 0.5 0\n", ":5:", "mass must be positive"},
      {head + p0 + p1 + "\n000002 0.5 1 0 0 0 0.5 0\n", ":7:", "unexpected text after the last"},
  };
  for (const Case& c : cases) {
    const std::string path = write(c.text);
    try {
      hermite::read_model(path);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const hermite::ModelError& e) {
      const std::string msg = e.what();
      EXPECT_NE(msg.find(path + c.where), std::string::npos) << msg;
      EXPECT_NE(msg.find(c.what), std::string::npos) << msg;
    }
  }
  EXPECT_NO_THROW(hermite::read_model(write(head + p0 + p1 + "\n  \n")));  // trailing blank lines
  try {
    hermite::read_model((dir_ / "missing.inp").string());
    ADD_FAILURE() << "read a missing file";
  } catch (const hermite::ModelError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot open"), std::string::npos) << e.what();
  }
}

// A file without line ends is refused at the bound, not read into memory
// whole; a directory and a device are named as such.
TEST_F(ModelFileTest, RefusesEndlessLinesDirectoriesAndDevices) {
  const auto refusal = [](const std::string& path) {
    try {
      hermite::read_model(path);
    } catch (const hermite::ModelError& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  const std::string head = "0000 \n000001 \n0.0E+00 \n";
  const std::string line = "000000 1 0 0 0 0 0 0";
  const std::string fits = line + std::string(hermite::kMaxModelLine - line.size(), ' ');
  EXPECT_NO_THROW(hermite::read_model(write(head + fits + "\n")));
  const std::string longer = write(head + fits + " \n");
  EXPECT_NE(refusal(longer).find(longer + ":4: the line is longer than 4096 characters"),
            std::string::npos)
      << refusal(longer);
  const std::string zeros = write(std::string(1 << 20, '\0'));
  EXPECT_NE(refusal(zeros).find(":1: the line is longer than"), std::string::npos)
      << refusal(zeros);

  EXPECT_NE(refusal(dir_.string()).find(dir_.string() + ": is a directory, not a model file"),
            std::string::npos);
  EXPECT_NE(refusal("/dev/zero").find("/dev/zero: is a device, not a model file"),
            std::string::npos);
}

// A file cut short anywhere in its last number still holds numbers that
// parse (-1.5432E-0, -1.5, -1): the last line's width gives the cut away.
// A file that only lacks its final newline is read, with a warning; a FIFO
// is refused before the open, which would wait for a writer.
TEST_F(ModelFileTest, RefusesFilesCutShortAndPipes) {
  hermite::Model s = small_model();
  const std::string path = (dir_ / "whole.inp").string();
  hermite::write_model(path, s);
  std::ifstream in(path);
  const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const std::size_t cut : {3, 4, 5, 20, 23}) {
    const std::string cut_path = write(whole.substr(0, whole.size() - cut));
    try {
      hermite::read_model(cut_path);
      ADD_FAILURE() << "accepted a file cut by " << cut << " bytes";
    } catch (const hermite::ModelError& e) {
      EXPECT_NE(std::string(e.what()).find(":" + std::to_string(3 + s.size()) + ":"),
                std::string::npos)
          << e.what();
    }
  }
  std::vector<std::string> warnings;
  const hermite::Model back =
      hermite::read_model(write(whole.substr(0, whole.size() - 1)), &warnings);
  EXPECT_EQ(back.vel, s.vel);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("does not end with a newline"), std::string::npos) << warnings[0];
  warnings.clear();
  hermite::read_model(write(whole), &warnings);
  EXPECT_TRUE(warnings.empty());
  // Lines of free widths written by hand, with their line ends, are no cut.
  EXPECT_NO_THROW(
      hermite::read_model(write("0\n3\n0\n0 1 0 0 0 0 0 0\n1 1 1 0 0 0 0 0\n"
                                "2 1 -1 0 0 0 0.5 0\n")));

  const std::string fifo = (dir_ / "pipe.inp").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  try {
    hermite::read_model(fifo);
    ADD_FAILURE() << "accepted a FIFO";
  } catch (const hermite::ModelError& e) {
    EXPECT_EQ(std::string(e.what()),
              fifo +
                  ": is a FIFO (named pipe), not a model file (a model is read from a regular "
                  "file)");
  }
}

// ---- options ----

hermite::Options parse(std::vector<const char*> args) {
  args.insert(args.begin(), "hermite");
  return hermite::parse_options(static_cast<int>(args.size()), args.data());
}

TEST(Options, DefaultsValuesAndRefusals) {
  const hermite::Options d = parse({});
  EXPECT_EQ(d.input, "data.inp");
  EXPECT_EQ(d.eta, 0.0);  // the program puts the order's default_eta in
  EXPECT_LT(hermite::default_eta(4), hermite::default_eta(6));
  EXPECT_LT(hermite::default_eta(6), hermite::default_eta(8));
  EXPECT_EQ(d.dt_max, 0.125);

  const hermite::Options o = parse({"--t-end", "2", "--dt-out=0.5", "--eps", "0.01", "--eta=0.2",
                                    "--shared-dt", "0.0078125", "--energy", "", "in.inp"});
  EXPECT_EQ(o.t_end, 2.0);
  EXPECT_EQ(o.dt_out, 0.5);
  EXPECT_EQ(o.eta, 0.2);
  EXPECT_EQ(o.shared_dt, 0.0078125);
  EXPECT_EQ(o.energy_csv, "");
  EXPECT_EQ(o.input, "in.inp");
  EXPECT_EQ(parse({"--dt-out", "0.0625"}).dt_max, 0.0625);  // dt_max follows a finer output
  EXPECT_EQ(d.gamma_slow, 1e-5);
  EXPECT_EQ(parse({"--gamma-slow", "0"}).gamma_slow, 0.0);  // no slow-down

  const std::vector<std::vector<const char*>> bad = {{"--dt-out", "0.1"},
                                                     {"--shared-dt", "3"},
                                                     {"--eps", "-1"},
                                                     {"--eta", "x"},
                                                     {"--t-end"},
                                                     {"--colour", "red"},
                                                     {"-x"},
                                                     {"a.inp", "b.inp"},
                                                     {"--dt-max", "1"},
                                                     {"--shared-dt", "0.5"},
                                                     {"--gamma-slow", "-1e-5"},
                                                     {"--gamma-slow", "0.05"}};
  for (const auto& args : bad) {
    EXPECT_THROW(parse(args), hermite::UsageError) << args[0];
  }
  // An option of another program is named as unknown, with or without a
  // value after it; an eta beyond 1 is refused.
  for (const auto& args : std::vector<std::vector<const char*>>{
           {"m.inp", "--bogus"}, {"--bogus", "1"}, {"--bogus=1"}}) {
    try {
      parse(args);
      ADD_FAILURE() << "accepted " << args.back();
    } catch (const hermite::UsageError& e) {
      EXPECT_EQ(std::string(e.what()), "unknown option '--bogus'");
    }
  }
  EXPECT_THROW(parse({"--eta", "1e9"}), hermite::UsageError);
  EXPECT_EQ(parse({"--eta", "1"}).eta, 1.0);
  EXPECT_EQ(hermite::eta_warning(0.04, 4), "");
  EXPECT_NE(hermite::eta_warning(0.05, 4).find("(above 0.04)"), std::string::npos);
  EXPECT_TRUE(hermite::power_of_two(0x1p-30));
  EXPECT_FALSE(hermite::power_of_two(0.75));
}

// Every option the usage text names is known to the parser: a value that
// does not suit it may be refused, but never as an unknown option.
TEST(Options, EveryOptionOfTheUsageIsKnown) {
  const std::string text = hermite::usage("hermite4", 4);
  int seen = 0;
  for (std::size_t at = text.find("  --"); at != std::string::npos;
       at = text.find("  --", at + 1)) {
    const std::size_t end = text.find_first_of(" \n", at + 2);
    const std::string option = text.substr(at + 2, end - at - 2);
    ++seen;
    try {
      parse({option.c_str(), "1"});
    } catch (const hermite::UsageError& e) {
      EXPECT_EQ(std::string(e.what()).find("unknown option"), std::string::npos) << option;
    }
  }
  EXPECT_GT(seen, 15);
}

TEST(Options, EnergyLimitProgressAndEndTime) {
  const hermite::Options d = parse({});
  EXPECT_EQ(d.energy_limit, 1e-2);
  EXPECT_EQ(d.progress, 10.0);
  const hermite::Options o = parse({"--energy-limit", "0", "--progress=0.5"});
  EXPECT_EQ(o.energy_limit, 0.0);
  EXPECT_EQ(o.progress, 0.5);
  EXPECT_THROW(parse({"--energy-limit", "-1"}), hermite::UsageError);
  EXPECT_THROW(parse({"--progress", "inf"}), hermite::UsageError);

  // 2^24 output intervals of 1/8 from t0 = 1 are the most a run may span.
  hermite::Options t = parse({});
  t.t_end = 1.0 + 0x1p24 / 8;
  EXPECT_NO_THROW(hermite::check_end_time(t, 1.0));
  t.t_end = 1.0 + 0x1p24 / 8 + 0.125;
  EXPECT_THROW(hermite::check_end_time(t, 1.0), hermite::UsageError);
  t.t_end = 1.0;
  EXPECT_THROW(hermite::check_end_time(t, 1.0), hermite::UsageError);
  // A shared step that would take more than 1e9 steps to the end.
  hermite::Options s = parse({"--shared-dt", "0x1p-60"});
  s.t_end = 0.25;
  EXPECT_THROW(hermite::check_end_time(s, 0.0), hermite::UsageError);
  s.shared_dt = 0x1p-30;  // 2^28 steps
  EXPECT_NO_THROW(hermite::check_end_time(s, 0.0));
}

// Relative where the start has energy, absolute where it has none; a NaN
// error passes every limit, and a limit of 0 is none.
TEST(Report, EnergyErrorsAndTheirLimit) {
  const hermite::Energy bound{0.25, -0.5}, later{0.25, -0.4997};
  const hermite::EnergyError rel = hermite::energy_error(later, bound);
  EXPECT_TRUE(rel.relative);
  EXPECT_NEAR(rel.value, 1.2e-3, 1e-15);
  EXPECT_FALSE(hermite::beyond_limit(rel, bound, 1e-2));
  EXPECT_TRUE(hermite::beyond_limit(rel, bound, 1e-3));
  EXPECT_FALSE(hermite::beyond_limit(rel, bound, 0.0));

  const hermite::Energy balanced{0.5, -0.5}, drifted{0.5, -0.49};
  const hermite::EnergyError abs = hermite::energy_error(drifted, balanced);
  EXPECT_FALSE(abs.relative);
  EXPECT_NEAR(abs.value, 0.01, 1e-15);
  EXPECT_FALSE(hermite::beyond_limit(abs, balanced, 0.011));  // 0.01 <= 0.011 (|K| + |W|)
  EXPECT_TRUE(hermite::beyond_limit(abs, balanced, 0.009));

  const hermite::EnergyError nan{std::nan(""), true};
  EXPECT_TRUE(hermite::beyond_limit(nan, bound, 1e-2));
}

// ---- whole runs over exact forces ----

template <class T>
class ExactRunTest : public ::testing::Test {};
TYPED_TEST_SUITE(ExactRunTest, Orders);

// In double precision the truncation error can be followed far down: the
// final positions converge at the order of the scheme against a run with a
// much shorter step. So does the energy error at orders 4 and 6; at order 8
// it does not settle into a clean power on this model (its slope wanders
// between about 5 and 9 from one halving to the next down to 1e-14, while
// the positions converge cleanly), so there only the positions are judged.
TYPED_TEST(ExactRunTest, ConvergesAtTheOrderOfTheScheme) {
  constexpr int K = TypeParam::value;
  const Model m = small_model();
  DirectBackend<K> backend(m.mass, 0, m.size(), kSmallEps);
  const double h = K == 2 ? 1.0 / 16 : 1.0 / 8;
  const auto ref = shared_run<K>(backend, h / 16, 2.0, h);
  const auto coarse = shared_run<K>(backend, h, 2.0, h);
  const auto fine = shared_run<K>(backend, h / 2, 2.0, h);
  const double pos_slope =
      std::log2(max_difference(coarse.pos, ref.pos) / max_difference(fine.pos, ref.pos));
  const double energy_slope = std::log2(coarse.energy_error / fine.energy_error);
  std::printf("order %d, h = %g: position slope %.2f, energy slope %.2f (%.2e -> %.2e)\n", 2 * K, h,
              pos_slope, energy_slope, coarse.energy_error, fine.energy_error);
  EXPECT_NEAR(pos_slope, 2 * K, 1.0);
  if (K < 4) {
    EXPECT_NEAR(energy_slope, 2 * K, 1.0);
  }
}

// Block steps: every particle on its own power-of-two step, the inactive
// ones predicted. The run must agree with one on a fine shared step, keep
// every step a power of two that divides the output time, and conserve
// energy.
TYPED_TEST(ExactRunTest, BlockStepsFollowTheSharedStepSolution) {
  constexpr int K = TypeParam::value;
  const Model m = small_model();
  DirectBackend<K> backend(m.mass, 0, m.size(), kSmallEps);
  hermite::Comm comm;
  const hermite::Settings s;
  hermite::Integrator<K, DirectBackend<K>> integ(m, s, backend, comm, 0, m.size());
  integ.start();
  integ.advance_to(2.0);
  EXPECT_EQ(integ.time(), 2.0);
  double shortest = 1.0, longest = 0.0;
  for (double dt : integ.steps()) {
    EXPECT_TRUE(hermite::power_of_two(dt)) << dt;
    EXPECT_LE(dt, s.dt_max);
    EXPECT_EQ(std::fmod(2.0, dt), 0.0);
    shortest = std::fmin(shortest, dt);
    longest = std::fmax(longest, dt);
  }
  EXPECT_LT(shortest, longest);  // the model does spread over several levels
  const auto ref = shared_run<K>(backend, 1.0 / 256, 2.0, 0.125);
  EXPECT_LT(max_difference(integ.positions(), ref.pos), 1e-5);
  const double e0 = exact_energy(m.mass, m.pos, m.vel, kSmallEps);
  const double e = exact_energy(m.mass, integ.positions(), integ.velocities(), kSmallEps);
  EXPECT_LT(std::fabs((e - e0) / e0), 1e-6);
  // The integrator's own energy (backend potential) agrees with the exact one.
  EXPECT_NEAR(integ.energy().total(), e, 1e-14);
}

// A particle that cannot find a step above dt_min ends the run with a
// message rather than spinning.
TEST(ExactRun, RefusesAStepBelowTheMinimum) {
  const Model m = small_model();
  DirectBackend<2> backend(m.mass, 0, m.size(), kSmallEps);
  hermite::Comm comm;
  hermite::Settings s;
  s.dt_min = 0.01;  // the model wants steps below this with eta = 1e-4
  s.eta = 1e-4;
  hermite::Integrator<2, DirectBackend<2>> integ(m, s, backend, comm, 0, m.size());
  try {
    integ.start();
    integ.advance_to(1.0);
    ADD_FAILURE() << "no error";
  } catch (const hermite::IntegrationError& e) {
    EXPECT_NE(std::string(e.what()).find("fell below"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace hermite_test
