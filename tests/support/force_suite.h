// Tests every force library must pass, written once over an adapter that
// describes the library (its records and numbers). A test program includes
// its library's public header, defines the adapter and instantiates:
//
//   struct Adapter {
//     using Predictor = ::Predictor;  using Force = ::Force;
//     static constexpr const char* kName;        // "nbforce4", ...
//     static constexpr const char* kGravity;     // "h4_gravity", ...
//     static constexpr int kDerivs;              // 2, 3 or 4 vectors in Force
//     static constexpr int kLineDeviceCount, kLineSetDevice, kLineProperties;
//     static constexpr double kTolerance[4];     // per derivative, vs sum |terms|
//     static Predictor predictor(const nbtest::Particle&);
//     static const double* deriv(const Force&, int k);  // k = 0 acc, 1 jrk, ...
//   };
//   INSTANTIATE_TYPED_TEST_SUITE_P(Order4, ForceSuite, Adapter);
//
// The program also links support/fake_clock.cpp (a deterministic wtime).
#pragma once

#include <gtest/gtest.h>
#include <omp.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "forcecore/check_lines.h"
#include "forcecore/host/host_control.h"
#include "support/cloud.h"
#include "support/fake_clock.h"
#include "support/reference.h"

namespace nbtest {

template <class A>
struct Run {
  std::vector<typename A::Force> force;
  double stamp = -1.0, ip_time = 0.0, fo_time = 0.0;
};

template <class A>
std::vector<typename A::Predictor> predictors(const std::vector<Particle>& p) {
  std::vector<typename A::Predictor> out(p.size());
  for (std::size_t i = 0; i < p.size(); ++i) out[i] = A::predictor(p[i]);
  return out;
}

template <class A>
Run<A> forces(const std::vector<typename A::Predictor>& ip,
              const std::vector<typename A::Predictor>& jp, float eps2) {
  Run<A> r;
  r.force.resize(ip.size());
  calc_force(static_cast<int>(ip.size()), static_cast<int>(jp.size()), ip.data(), jp.data(),
             r.force.data(), eps2, &r.stamp, &r.ip_time, &r.fo_time);
  return r;
}

template <class A>
bool same_bits(const std::vector<typename A::Force>& a, const std::vector<typename A::Force>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(a[0])) == 0;
}

// Worst error per derivative of the library's forces on `targets` due to
// `sources`, against the double-precision reference.
template <class A>
std::vector<double> worst_errors(const std::vector<Particle>& targets,
                                 const std::vector<Particle>& sources, float eps2) {
  const auto got = forces<A>(predictors<A>(targets), predictors<A>(sources), eps2);
  const auto t = as_stored(targets), s = as_stored(sources);
  std::vector<double> worst(A::kDerivs, 0.0);
  for (std::size_t i = 0; i < t.size(); ++i) {
    const Derivs want = reference_derivs(t[i], s, eps2);
    const double* w[4] = {want.acc, want.jrk, want.snp, want.crk};
    for (int k = 0; k < A::kDerivs; ++k)
      worst[k] =
          std::fmax(worst[k], relative_error(A::deriv(got.force[i], k), w[k], want.scale[k]));
  }
  return worst;
}

// The text as a regular expression that matches only itself.
inline std::string escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::strchr(".[]{}()*+?^$|\\", c) != nullptr) out += '\\';
    out += c;
  }
  return out;
}

inline std::string report_line(const char* lib, int line, const std::string& text) {
  return "Cuda error in file '" + std::string(lib) + "' in line " + std::to_string(line) + " : " +
         text + ".\n";
}

template <class A>
class ForceSuite : public ::testing::Test {
 protected:
  void SetUp() override {
    nbf::host::clear_failures();
    nbf::host::set_device_count(1);
    nbf::host::set_thread_order(nbf::host::ThreadOrder::forward);
    nbf::host::set_executor(nbf::host::Executor::lanes);
    nbf::host::set_fanout(nbf::host::Fanout::measured);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
  void TearDown() override { SetUp(); }
};

TYPED_TEST_SUITE_P(ForceSuite);

// Each particle's derivatives against the reference, for the whole cloud
// acting on itself (so every particle also meets itself), and for a small
// i-set whose last block shares its particles among several threads.
TYPED_TEST_P(ForceSuite, MatchesDoublePrecisionReference) {
  using A = TypeParam;
  const auto cloud = plummer_cloud(3000, 7);
  const float eps2 = 1e-4f;
  const auto full = worst_errors<A>(cloud, cloud, eps2);
  const std::vector<Particle> few(cloud.begin(), cloud.begin() + 40);
  const auto split = worst_errors<A>(few, cloud, eps2);
  for (int k = 0; k < A::kDerivs; ++k) {
    EXPECT_LT(full[k], A::kTolerance[k]) << "derivative " << k << ", ni = 3000";
    EXPECT_LT(split[k], A::kTolerance[k]) << "derivative " << k << ", ni = 40";
  }
}

// Pass and slice boundaries: two passes (the last of one particle), shared
// i-particles, empty slices, and no j-particles at all.
TYPED_TEST_P(ForceSuite, CountsAtPassAndSliceBoundaries) {
  using A = TypeParam;
  const auto cloud = plummer_cloud(4097, 3);
  const float eps2 = 1e-3f;
  for (int nj : {1, 20, 27, 30, 129}) {
    const std::vector<Particle> src(cloud.begin(), cloud.begin() + nj);
    const std::vector<Particle> dst(cloud.begin() + 3000, cloud.begin() + 3129);
    const auto err = worst_errors<A>(dst, src, eps2);
    for (int k = 0; k < A::kDerivs; ++k)
      EXPECT_LT(err[k], A::kTolerance[k]) << "nj = " << nj << ", derivative " << k;
  }
  // ni = 4097: the last particle comes from a second pass of one.
  const std::vector<Particle> src(cloud.begin(), cloud.begin() + 500);
  const auto ip = predictors<A>(cloud), jp = predictors<A>(src);
  const auto run = forces<A>(ip, jp, eps2);
  const auto stored = as_stored(cloud), stored_src = as_stored(src);
  for (int i : {0, 4095, 4096}) {
    const Derivs want = reference_derivs(stored[i], stored_src, eps2);
    EXPECT_LT(relative_error(A::deriv(run.force[i], 0), want.acc, want.scale[0]), A::kTolerance[0])
        << "i = " << i;
  }
  // nj = 0: exact zeros everywhere.
  const auto none = forces<A>(predictors<A>(src), {}, eps2);
  for (const auto& f : none.force)
    for (int k = 0; k < A::kDerivs; ++k)
      for (int c = 0; c < 3; ++c) ASSERT_EQ(A::deriv(f, k)[c], 0.0);
}

// The summation order is fixed by the kernels, not by the executor: repeat
// calls, reversed thread order and the one-thread-at-a-time executor all give
// the same bits, for a full block, a shared last block and a partial tile.
TYPED_TEST_P(ForceSuite, BitsDoNotDependOnExecution) {
  using A = TypeParam;
  const auto cloud = plummer_cloud(1000, 11);
  const auto jp = predictors<A>(cloud);
  for (int ni : {1, 5, 40, 129, 300}) {
    const std::vector<typename A::Predictor> ip(jp.begin(), jp.begin() + ni);
    const auto first = forces<A>(ip, jp, 1e-4f);
    EXPECT_TRUE(same_bits<A>(first.force, forces<A>(ip, jp, 1e-4f).force)) << "repeat, ni " << ni;
    nbf::host::set_thread_order(nbf::host::ThreadOrder::reversed);
    EXPECT_TRUE(same_bits<A>(first.force, forces<A>(ip, jp, 1e-4f).force)) << "reversed, ni " << ni;
    nbf::host::set_thread_order(nbf::host::ThreadOrder::forward);
    nbf::host::set_executor(nbf::host::Executor::plain);
    EXPECT_TRUE(same_bits<A>(first.force, forces<A>(ip, jp, 1e-4f).force)) << "plain, ni " << ni;
    nbf::host::set_executor(nbf::host::Executor::lanes);
  }
}

// Several tiles per slice (nj > 28 * 256): the lanes executor carries each
// thread's sums from one tile to the next; the potential likewise.
TYPED_TEST_P(ForceSuite, BitsDoNotDependOnExecutionOverManyTiles) {
  using A = TypeParam;
  const auto cloud = plummer_cloud(7300, 17);
  const auto jp = predictors<A>(cloud);
  const auto posm = to_posm(cloud);
  auto potential = [&] {
    std::vector<double> pot(1000);
    calc_pot(1000, 3, 950, 1e-4f, posm.data(), pot.data());
    return pot;
  };
  const auto pot_lanes = potential();
  for (int ni : {1, 6, 17, 64, 129}) {
    const std::vector<typename A::Predictor> ip(jp.begin(), jp.begin() + ni);
    const auto lanes = forces<A>(ip, jp, 1e-4f);
    nbf::host::set_thread_order(nbf::host::ThreadOrder::reversed);
    EXPECT_TRUE(same_bits<A>(lanes.force, forces<A>(ip, jp, 1e-4f).force)) << "reversed, ni " << ni;
    nbf::host::set_thread_order(nbf::host::ThreadOrder::forward);
    nbf::host::set_executor(nbf::host::Executor::plain);
    EXPECT_TRUE(same_bits<A>(lanes.force, forces<A>(ip, jp, 1e-4f).force)) << "plain, ni " << ni;
    EXPECT_EQ(std::memcmp(pot_lanes.data(), potential().data(), 1000 * sizeof(double)), 0);
    nbf::host::set_executor(nbf::host::Executor::lanes);
  }
}

// Passes of up to 64 i-particles run on the host as one sweep rather than
// block by block; they must give the bits of the plain executor, for every
// sharing of the i-particles among a block's threads (ni = 1 ... 64), slices
// of none to a few records, slices that end inside a tile and slices long
// enough to be cut into more items, on one thread and shared among several.
TYPED_TEST_P(ForceSuite, SmallPassesGiveThePlainExecutorsBits) {
  using A = TypeParam;
  const auto cloud = predictors<A>(plummer_cloud(16384, 37));
  const int threads_before = omp_get_max_threads();
  for (int nj : {1, 29, 300, 3589, 8405, 16384}) {
    const std::vector<typename A::Predictor> jp(cloud.begin(), cloud.begin() + nj);
    for (int ni = 1; ni <= 64; ni += nj > 3589 ? 7 : 1) {
      // From the middle of the j-particles on: where nj allows, each
      // i-particle meets itself.
      const std::vector<typename A::Predictor> is(cloud.begin() + nj / 2,
                                                  cloud.begin() + nj / 2 + ni);
      nbf::host::set_executor(nbf::host::Executor::plain);
      const auto want = forces<A>(is, jp, 1e-4f);
      ASSERT_FALSE(nbf::host::last_pass_swept());
      nbf::host::set_executor(nbf::host::Executor::lanes);
      nbf::host::set_fanout(nbf::host::Fanout::never);
      const auto alone = forces<A>(is, jp, 1e-4f);
      ASSERT_TRUE(nbf::host::last_pass_swept()) << "ni " << ni;
      EXPECT_TRUE(same_bits<A>(want.force, alone.force))
          << "one thread, ni " << ni << ", nj " << nj;
      nbf::host::set_fanout(nbf::host::Fanout::always);
      omp_set_num_threads(3);
      const auto shared = forces<A>(is, jp, 1e-4f);
      omp_set_num_threads(threads_before);
      nbf::host::set_fanout(nbf::host::Fanout::measured);
      EXPECT_TRUE(same_bits<A>(want.force, shared.force))
          << "three threads, ni " << ni << ", nj " << nj;
    }
  }
  // A pass past the sweep's size goes block by block.
  const std::vector<typename A::Predictor> many(cloud.begin(), cloud.begin() + 65);
  forces<A>(many, cloud, 1e-4f);
  EXPECT_FALSE(nbf::host::last_pass_swept());
}

// A call whose last pass is small: the first 4,096 i-particles go block by
// block, the last few through the sweep, and all of them get the plain
// executor's bits. Without softening, with i-particles that are no
// j-particles (no pair meets itself), likewise.
TYPED_TEST_P(ForceSuite, CallsEndingInASmallPassGiveThePlainExecutorsBits) {
  using A = TypeParam;
  const auto cloud = predictors<A>(plummer_cloud(4400, 41));
  const std::vector<typename A::Predictor> jp(cloud.begin(), cloud.begin() + 301);
  struct Case {
    std::vector<typename A::Predictor> ip;
    float eps2;
  };
  const Case cases[] = {{{cloud.begin(), cloud.begin() + 4099}, 1e-4f},
                        {{cloud.begin() + 4300, cloud.begin() + 4337}, 0.0f}};
  for (const Case& c : cases) {
    nbf::host::set_executor(nbf::host::Executor::plain);
    const auto want = forces<A>(c.ip, jp, c.eps2);
    nbf::host::set_executor(nbf::host::Executor::lanes);
    const auto got = forces<A>(c.ip, jp, c.eps2);
    EXPECT_TRUE(nbf::host::last_pass_swept());
    EXPECT_TRUE(same_bits<A>(want.force, got.force)) << "ni " << c.ip.size();
    for (const auto& f : got.force)
      for (int k = 0; k < A::kDerivs; ++k)
        for (int a = 0; a < 3; ++a) ASSERT_TRUE(std::isfinite(A::deriv(f, k)[a]));
  }
}

// Records that end where readable memory ends: a mapping whose last page is
// made inaccessible, with the records placed right before it. Reading one
// byte past them ends the test program.
template <class T>
class RecordsBeforeGuardPage {
 public:
  explicit RecordsBeforeGuardPage(const std::vector<T>& records) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t bytes = records.size() * sizeof(T);
    size_ = (bytes + page - 1) / page * page + page;
    base_ = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base_ == MAP_FAILED) throw std::runtime_error("mmap failed");
    unsigned char* guard = static_cast<unsigned char*>(base_) + size_ - page;
    if (mprotect(guard, page, PROT_NONE) != 0) throw std::runtime_error("mprotect failed");
    data_ = reinterpret_cast<T*>(guard - bytes);
    if (bytes != 0) std::memcpy(static_cast<void*>(data_), records.data(), bytes);
  }
  ~RecordsBeforeGuardPage() { munmap(base_, size_); }
  RecordsBeforeGuardPage(const RecordsBeforeGuardPage&) = delete;
  RecordsBeforeGuardPage& operator=(const RecordsBeforeGuardPage&) = delete;
  const T* data() const { return data_; }

 private:
  void* base_ = nullptr;
  std::size_t size_ = 0;
  T* data_ = nullptr;
};

// The host backend reads the caller's j-predictors where they lie. Its tile
// loads stop at the last record even when the last slice ends inside a
// tile; the bits are those of j-predictors with room after them, with the
// lanes and the plain executor alike.
TYPED_TEST_P(ForceSuite, JPredictorsAreReadInPlaceWithinTheirArray) {
  using A = TypeParam;
  const auto cloud = predictors<A>(plummer_cloud(1200, 29));
  const std::vector<typename A::Predictor> ip(cloud.begin(), cloud.begin() + 37);
  for (int nj : {1, 20, 129, 131, 1157}) {
    const std::vector<typename A::Predictor> jp(cloud.begin(), cloud.begin() + nj);
    const RecordsBeforeGuardPage<typename A::Predictor> guarded(jp);
    const auto want = forces<A>(ip, jp, 1e-4f);
    for (auto executor : {nbf::host::Executor::lanes, nbf::host::Executor::plain}) {
      nbf::host::set_executor(executor);
      Run<A> got;
      got.force.resize(ip.size());
      calc_force(static_cast<int>(ip.size()), nj, ip.data(), guarded.data(), got.force.data(),
                 1e-4f, &got.stamp, &got.ip_time, &got.fo_time);
      EXPECT_TRUE(same_bits<A>(want.force, got.force)) << "nj " << nj;
    }
    nbf::host::set_executor(nbf::host::Executor::lanes);
  }
}

// A particle that is its own only source feels exactly nothing.
TYPED_TEST_P(ForceSuite, SelfInteractionIsExactlyZero) {
  using A = TypeParam;
  const auto one = predictors<A>(plummer_cloud(1, 5));
  const auto run = forces<A>(one, one, 1e-6f);
  for (int k = 0; k < A::kDerivs; ++k)
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(A::deriv(run.force[0], k)[c], 0.0);
      EXPECT_FALSE(std::signbit(A::deriv(run.force[0], k)[c]));
    }
}

// A later call may bring more j-particles than the first: the buffer grows,
// and a smaller call afterwards still works.
TYPED_TEST_P(ForceSuite, LaterCallsMayBringMoreJParticles) {
  using A = TypeParam;
  const auto cloud = plummer_cloud(3000, 17);
  const std::vector<Particle> dst(cloud.begin(), cloud.begin() + 64);
  for (int nj : {10, 3000, 200}) {
    const std::vector<Particle> src(cloud.begin(), cloud.begin() + nj);
    const auto err = worst_errors<A>(dst, src, 1e-4f);
    EXPECT_LT(err[0], A::kTolerance[0]) << "nj = " << nj;
  }
}

// jp_stamp is assigned the time after the j-copy; the two timers grow by one
// clock tick per pass; ni = 0 touches neither them nor the output.
TYPED_TEST_P(ForceSuite, TimersAndEmptyCalls) {
  using A = TypeParam;
  const auto p = predictors<A>(plummer_cloud(4097, 2));
  const std::vector<typename A::Predictor> few(p.begin(), p.begin() + 50);
  std::vector<typename A::Force> out(p.size());
  double stamp = 0.0, ip_time = 1.0, fo_time = 2.0;
  const double before = clock_now();
  calc_force(static_cast<int>(p.size()), 50, p.data(), few.data(), out.data(), 1e-4f, &stamp,
             &ip_time, &fo_time);
  EXPECT_EQ(stamp, before);
  EXPECT_EQ(ip_time, 1.0 + 2 * kClockTick);
  EXPECT_EQ(fo_time, 2.0 + 2 * kClockTick);

  typename A::Force sentinel;
  std::memset(&sentinel, 0x7f, sizeof sentinel);
  std::vector<typename A::Force> untouched(3, sentinel);
  const double later = clock_now();
  calc_force(0, 50, p.data(), few.data(), untouched.data(), 1e-4f, &stamp, &ip_time, &fo_time);
  EXPECT_EQ(stamp, later);
  EXPECT_EQ(ip_time, 1.0 + 2 * kClockTick);
  EXPECT_EQ(fo_time, 2.0 + 2 * kClockTick);
  for (const auto& f : untouched) EXPECT_EQ(std::memcmp(&f, &sentinel, sizeof f), 0);
}

// The potential: accuracy, the exclusion of coincident sources, the source
// range, and its argument checks.
TYPED_TEST_P(ForceSuite, PotentialMatchesReferenceAndExcludesCoincidentSources) {
  const auto cloud = plummer_cloud(3000, 19);
  const auto posm = to_posm(cloud);
  const auto stored = as_stored(cloud);
  const float eps2 = 1e-4f;
  for (auto range : {std::pair<int, int>{0, 3000}, {100, 1337}}) {
    std::vector<double> pot(cloud.size());
    calc_pot(3000, range.first, range.second, eps2, posm.data(), pot.data());
    double worst = 0.0;
    for (int i = 0; i < 3000; ++i) {
      double scale = 0.0;
      const double want = reference_potential(stored, i, range.first, range.second, eps2, &scale);
      worst = std::fmax(worst, std::fabs(pot[i] - want) / scale);
    }
    EXPECT_LT(worst, 1e-6) << "sources " << range.first << " to " << range.second;
  }

  // Two unit masses at distance 1 without softening; then with particle 0
  // not a source; then a third particle on top of particle 1.
  Posm pair[3] = {};
  pair[0].mass = pair[1].mass = pair[2].mass = 1.0f;
  pair[1].pos[0].x = pair[2].pos[0].x = 1.0f;
  double pot[3];
  calc_pot(2, 0, 2, 0.0f, pair, pot);
  EXPECT_NEAR(pot[0], -1.0, 1e-6);
  EXPECT_NEAR(pot[1], -1.0, 1e-6);
  calc_pot(2, 1, 2, 0.0f, pair, pot);
  EXPECT_NEAR(pot[0], -1.0, 1e-6);
  EXPECT_EQ(pot[1], 0.0);
  EXPECT_TRUE(std::signbit(pot[1]));
  calc_pot(3, 0, 3, 0.0f, pair, pot);
  EXPECT_NEAR(pot[1], -1.0, 1e-6) << "coincident particles do not see each other";
  calc_pot(3, 2, 2, 0.0f, pair, pot);
  for (double v : pot) EXPECT_TRUE(v == 0.0 && std::signbit(v));
}

// Bad arguments: one error line, outputs untouched, the caller carries on.
TYPED_TEST_P(ForceSuite, BadArgumentsAreReportedAndLeaveOutputsAlone) {
  using A = TypeParam;
  Posm one[1] = {};
  double pot[1] = {42.0};
  struct Case {
    int n, js, je;
  };
  for (Case c : {Case{1, 0, 2}, Case{1, 1, 0}, Case{1, -1, 1}, Case{-1, 0, 0}}) {
    ::testing::internal::CaptureStderr();
    calc_pot(c.n, c.js, c.je, 0.0f, one, pot);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(pot[0], 42.0);
    EXPECT_EQ(
        err.rfind(
            report_line(A::kName, nbf::check_line::kPotArgs, "invalid argument").substr(0, 40), 0),
        0u)
        << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
  const auto p = predictors<A>(plummer_cloud(2, 1));
  typename A::Force f;
  std::memset(&f, 0x55, sizeof f);
  const typename A::Force before = f;
  double stamp = -7.0, t1 = 0.0, t2 = 0.0;
  ::testing::internal::CaptureStderr();
  calc_force(1, -5, p.data(), p.data(), &f, 1e-4f, &stamp, &t1, &t2);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("in line " + std::to_string(nbf::check_line::kForceArgs)), std::string::npos);
  EXPECT_EQ(std::memcmp(&f, &before, sizeof f), 0);
  EXPECT_EQ(stamp, -7.0);
}

// Binding: device rank % count, the printed line, and the kernels
// registered at start in their order.
TYPED_TEST_P(ForceSuite, BindingDealsRanksOverDevices) {
  using A = TypeParam;
  const std::vector<std::string> kernels{"pot_kernel", "reduce_kernel", A::kGravity,
                                         "gravity_excluded_kernel"};
  EXPECT_EQ(nbf::host::registered_kernels(), kernels);
  nbf::host::set_device_count(2);
  struct Case {
    int rank, device;
    const char* prefix;
  };
  for (Case c : {Case{5, 1, "Rank 05 : GPU 1 : "}, Case{0, 0, "Rank 00 : GPU 0 : "},
                 Case{123, 1, "Rank 123 : GPU 1 : "}, Case{4, 0, "Rank 04 : GPU 0 : "}}) {
    ::testing::internal::CaptureStdout();
    CUDA_MPI_Init(c.rank);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind(c.prefix, 0), 0u) << out;
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(nbf::host::current_device(), c.device);
  }
}

// A failing runtime call in the binding, or no device at all: exactly the
// error line, status 1.
TYPED_TEST_P(ForceSuite, BindingFailuresEndTheProcess) {
  using A = TypeParam;
  using nbf::host::Call;
  auto dies = [](Call call, nbf::rt::Status status, int line, const std::string& text) {
    EXPECT_EXIT(
        {
          nbf::host::fail_call(call, 1, status);
          CUDA_MPI_Init(0);
        },
        ::testing::ExitedWithCode(1), "^" + escape(report_line(A::kName, line, text)) + "$");
  };
  dies(Call::device_count, nbf::host::kNoDevice, A::kLineDeviceCount,
       "no host device is available");
  dies(Call::set_device, nbf::host::kInvalidDevice, A::kLineSetDevice, "invalid device ordinal");
  dies(Call::device_properties, nbf::host::kInvalidValue, A::kLineProperties, "invalid argument");
  EXPECT_EXIT(
      {
        nbf::host::set_device_count(0);
        CUDA_MPI_Init(3);
      },
      ::testing::ExitedWithCode(1),
      "^" +
          escape(
              report_line(A::kName, A::kLineDeviceCount, "no device found (device count is 0)")) +
          "$");
}

// A failed allocation or copy never hands back a result: the error line and
// status 1.
TYPED_TEST_P(ForceSuite, AllocationAndCopyFailuresEndTheProcess) {
  using A = TypeParam;
  using nbf::host::Call;
  namespace line = nbf::check_line;
  const auto p = predictors<A>(plummer_cloud(8, 1));
  auto force_dies = [&](Call call, int nth, int check) {
    EXPECT_EXIT(
        {
          nbf::host::fail_call(call, nth, nbf::host::kOutOfMemory);
          forces<A>(p, p, 1e-4f);
        },
        ::testing::ExitedWithCode(1),
        "^" + escape(report_line(A::kName, check, "out of memory")) + "$")
        << "check " << check;
  };
  force_dies(Call::malloc_device, 1, line::kForceAllocJ);
  force_dies(Call::malloc_device, 2, line::kForceAllocI);
  force_dies(Call::malloc_device, 3, line::kForceAllocPartial);
  force_dies(Call::memset_device, 1, line::kForceClearPartial);
  force_dies(Call::malloc_device, 4, line::kForceAllocReduced);
  force_dies(Call::malloc_pinned, 1, line::kForceAllocStaging);
  force_dies(Call::copy_to_device, 1, line::kForceCopyJ);
  force_dies(Call::copy_to_device, 2, line::kForceCopyI);
  force_dies(Call::copy_to_host, 1, line::kForceCopyBack);

  const auto posm = to_posm(plummer_cloud(8, 1));
  std::vector<double> pot(8);
  auto pot_dies = [&](Call call, int nth, int check) {
    EXPECT_EXIT(
        {
          nbf::host::fail_call(call, nth, nbf::host::kOutOfMemory);
          calc_pot(8, 0, 8, 1e-4f, posm.data(), pot.data());
        },
        ::testing::ExitedWithCode(1),
        "^" + escape(report_line(A::kName, check, "out of memory")) + "$")
        << "check " << check;
  };
  pot_dies(Call::malloc_device, 1, line::kPotAllocSources);
  pot_dies(Call::malloc_device, 2, line::kPotAllocSums);
  pot_dies(Call::malloc_pinned, 1, line::kPotAllocStaging);
  pot_dies(Call::copy_to_device, 1, line::kPotCopyIn);
  pot_dies(Call::copy_to_host, 1, line::kPotCopyBack);
}

// A launch the runtime refuses leaves the partial sums of the previous call
// on the device: the error line and status 1, never those sums as results.
TYPED_TEST_P(ForceSuite, RefusedLaunchesEndTheProcess) {
  using A = TypeParam;
  using nbf::host::Call;
  namespace line = nbf::check_line;
  const auto p = predictors<A>(plummer_cloud(8, 1));
  const auto q = predictors<A>(plummer_cloud(8, 2));
  const std::string refused = "invalid configuration argument";
  auto force_dies = [&](int nth, int check) {
    EXPECT_EXIT(
        {
          forces<A>(p, p, 1e-4f);  // leaves its partial sums behind
          nbf::host::fail_call(Call::launch, nth, nbf::host::kInvalidConfiguration);
          forces<A>(q, q, 1e-4f);
        },
        ::testing::ExitedWithCode(1), "^" + escape(report_line(A::kName, check, refused)) + "$")
        << "check " << check;
  };
  force_dies(1, line::kForceLaunchGravity);
  force_dies(2, line::kForceLaunchReduce);

  const auto posm = to_posm(plummer_cloud(8, 1));
  std::vector<double> pot(8);
  EXPECT_EXIT(
      {
        nbf::host::fail_call(Call::launch, 1, nbf::host::kInvalidConfiguration);
        calc_pot(8, 0, 8, 1e-4f, posm.data(), pot.data());
      },
      ::testing::ExitedWithCode(1),
      "^" + escape(report_line(A::kName, line::kPotLaunch, refused)) + "$");
}

REGISTER_TYPED_TEST_SUITE_P(ForceSuite, MatchesDoublePrecisionReference,
                            CountsAtPassAndSliceBoundaries, BitsDoNotDependOnExecution,
                            BitsDoNotDependOnExecutionOverManyTiles,
                            SmallPassesGiveThePlainExecutorsBits,
                            CallsEndingInASmallPassGiveThePlainExecutorsBits,
                            JPredictorsAreReadInPlaceWithinTheirArray, SelfInteractionIsExactlyZero,
                            LaterCallsMayBringMoreJParticles, TimersAndEmptyCalls,
                            PotentialMatchesReferenceAndExcludesCoincidentSources,
                            BadArgumentsAreReportedAndLeaveOutputsAlone,
                            BindingDealsRanksOverDevices, BindingFailuresEndTheProcess,
                            AllocationAndCopyFailuresEndTheProcess, RefusedLaunchesEndTheProcess);

}  // namespace nbtest
