// The Fortran types of one order against the C records: same size, every
// field at the same byte offset. Built once per order (NBFORCE_TEST_ORDER),
// since the three C headers define records of the same names.
#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#if NBFORCE_TEST_ORDER == 4
#include "nbforce4.h"
#define FORTRAN_LAYOUT fortran_layout4
#elif NBFORCE_TEST_ORDER == 6
#include "nbforce6.h"
#define FORTRAN_LAYOUT fortran_layout6
#else
#include "nbforce8.h"
#define FORTRAN_LAYOUT fortran_layout8
#endif

extern "C" int FORTRAN_LAYOUT(long* out);

namespace {

// The C side in the order the Fortran routine reports it.
std::vector<long> c_layout() {
  std::vector<long> v = {sizeof(Predictor), offsetof(Predictor, posH), offsetof(Predictor, mass),
                         offsetof(Predictor, posL), offsetof(Predictor, vel)};
#if NBFORCE_TEST_ORDER >= 6
  v.push_back(offsetof(Predictor, acc));
#endif
#if NBFORCE_TEST_ORDER >= 8
  v.push_back(offsetof(Predictor, jrk));
#endif
  v.insert(v.end(), {sizeof(Force), offsetof(Force, acc), offsetof(Force, jrk)});
#if NBFORCE_TEST_ORDER >= 6
  v.push_back(offsetof(Force, snp));
#endif
#if NBFORCE_TEST_ORDER >= 8
  v.push_back(offsetof(Force, crk));
#endif
  v.insert(v.end(), {sizeof(Posm), offsetof(Posm, pos), offsetof(Posm, mass)});
  return v;
}

TEST(FortranLayout, TypesMatchTheCRecords) {
  std::vector<long> fortran(32, -1);
  fortran.resize(static_cast<std::size_t>(FORTRAN_LAYOUT(fortran.data())));
  EXPECT_EQ(fortran, c_layout());
}

}  // namespace
