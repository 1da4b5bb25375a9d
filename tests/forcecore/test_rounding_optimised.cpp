// Exact rounding as the optimiser sees it in bulk: the hi/lo split of
// positions in the loops that pack records (three components at a time)
// and long arrays, and double-single accumulation over arrays of sums. This
// file is built at several optimisation levels (see CMakeLists.txt); a
// compiler that folds x - (double)(float)x, or (s - hi) - a, to zero in
// vectorised code loses the low parts here.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "forcecore/ds.h"
#include "nbforce_common.h"

namespace {

// The layout of the force libraries' predictor records: hi parts of the
// three components together, lo parts together.
struct PredictorLike {
  float posH[3];
  float mass;
  float posL[3];
  float unused0;
  float vel[3];
  float unused1;
};

// Kept out of line so that the loops are compiled as a caller writes them,
// not folded into the test's constants.
__attribute__((noinline)) void fill_predictor(PredictorLike& r, const double* x) {
  for (int c = 0; c < 3; ++c) nbforce_split(x[c], &r.posH[c], &r.posL[c]);
}

__attribute__((noinline)) void fill_posm(Posm& r, const double* x) {
  for (int c = 0; c < 3; ++c) nbforce_split(x[c], &r.pos[c].x, &r.pos[c].y);
}

__attribute__((noinline)) void fill_predictors(std::vector<PredictorLike>& out,
                                               const std::vector<double>& x) {
  for (std::size_t i = 0; i < out.size(); ++i) {
    for (int c = 0; c < 3; ++c) nbforce_split(x[3 * i + c], &out[i].posH[c], &out[i].posL[c]);
  }
}

__attribute__((noinline)) void split_array(const double* x, float* hi, float* lo, int n) {
  for (int i = 0; i < n; ++i) nbforce_split(x[i], &hi[i], &lo[i]);
}

// Coordinates of either sign over twelve decades, so that the low parts
// stay far from the float underflow range.
std::vector<double> coordinates(int n, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> expo(-6.0, 6.0), sign(-1.0, 1.0);
  std::vector<double> x(static_cast<std::size_t>(n));
  for (auto& v : x) v = std::copysign(std::pow(10.0, expo(gen)), sign(gen));
  return x;
}

// hi + lo carries x to 48 bits: |x - (hi + lo)| <= 2^-47 |x|, and hi is x
// rounded to float.
::testing::AssertionResult split_holds(double x, float hi, float lo) {
  const double err = std::fabs(x - (static_cast<double>(hi) + static_cast<double>(lo)));
  if (err <= std::ldexp(std::fabs(x), -47) && hi == static_cast<float>(x)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "x = " << x << " split into hi = " << hi << ", lo = " << lo << " (error "
         << err / std::fabs(x) << " of |x|)";
}

TEST(SplitOptimised, ThreeComponentsOfOneRecord) {
  const std::vector<double> x = coordinates(3 * 64, 1);
  for (std::size_t i = 0; i < x.size(); i += 3) {
    PredictorLike p{};
    Posm m{};
    fill_predictor(p, &x[i]);
    fill_posm(m, &x[i]);
    for (int c = 0; c < 3; ++c) {
      ASSERT_TRUE(split_holds(x[i + c], p.posH[c], p.posL[c])) << "predictor component " << c;
      ASSERT_TRUE(split_holds(x[i + c], m.pos[c].x, m.pos[c].y)) << "Posm component " << c;
    }
  }
}

TEST(SplitOptimised, ManyRecordsAndLongArrays) {
  constexpr int n = 4099;  // not a multiple of any vector width
  const std::vector<double> x = coordinates(3 * n, 2);
  std::vector<PredictorLike> p(n);
  fill_predictors(p, x);
  for (std::size_t i = 0; i < p.size(); ++i) {
    for (int c = 0; c < 3; ++c) {
      ASSERT_TRUE(split_holds(x[3 * i + c], p[i].posH[c], p[i].posL[c])) << "record " << i;
    }
  }
  std::vector<float> hi(x.size()), lo(x.size());
  split_array(x.data(), hi.data(), lo.data(), static_cast<int>(x.size()));
  for (std::size_t i = 0; i < x.size(); ++i) {
    ASSERT_TRUE(split_holds(x[i], hi[i], lo[i])) << "element " << i;
  }
}

// Values a float holds exactly have no low part; those it cannot hold have
// one, which is what the libraries' relative positions depend on.
TEST(SplitOptimised, LowPartIsTheRemainder) {
  const double x[3] = {0.5, 1000.0 + std::ldexp(1.0, -30), -3.0 - std::ldexp(1.0, -40)};
  PredictorLike p{};
  fill_predictor(p, x);
  EXPECT_EQ(p.posH[0], 0.5f);
  EXPECT_EQ(p.posL[0], 0.0f);
  EXPECT_EQ(p.posH[1], 1000.0f);
  EXPECT_EQ(p.posL[1], std::ldexp(1.0f, -30));
  EXPECT_EQ(p.posH[2], -3.0f);
  EXPECT_EQ(p.posL[2], -std::ldexp(1.0f, -40));
}

__attribute__((noinline)) void accumulate_all(nbf::DsPair<float>* acc, const float* a, int n) {
  for (int i = 0; i < n; ++i) nbf::ds_accumulate(acc[i], a[i]);
}

// Starting from hi in [1, 2) and lo = 0, adding a with |a| < 1 and no bits
// below 2^-44 keeps the exact sum: hi + lo = hi0 + a, which a double holds.
TEST(DoubleSingleOptimised, AccumulationOverArraysIsExact) {
  constexpr int n = 4099;
  std::mt19937 gen(3);
  std::uniform_real_distribution<float> head(1.0f, 2.0f), tail(0.5f, 1.0f);
  std::uniform_int_distribution<int> scale(0, 20);
  std::vector<nbf::DsPair<float>> acc(n);
  std::vector<float> a(n);
  std::vector<double> want(n);
  for (int i = 0; i < n; ++i) {
    acc[i] = {head(gen), 0.0f};
    a[i] = std::ldexp(i % 2 == 0 ? tail(gen) : -tail(gen), -scale(gen));
    want[i] = static_cast<double>(acc[i].x) + static_cast<double>(a[i]);
  }
  accumulate_all(acc.data(), a.data(), n);
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(static_cast<double>(acc[i].x) + static_cast<double>(acc[i].y), want[i])
        << "element " << i << ": hi = " << acc[i].x << ", lo = " << acc[i].y;
  }
}

}  // namespace
