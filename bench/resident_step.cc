// The resident particles of nbforce4 against the integrator's own
// prediction, on the calling thread (run it with OMP_NUM_THREADS=1):
//   1. one block step of one particle against 1,024 j-particles: its state
//      sent and its force computed (nbf_resident_set + nbf_resident_force),
//      with the sources predicted in vector lanes and one slot at a time,
//      each call at a new block time, and with every call at one time,
//      beside the host path (1,024 predictions and records, calc_force),
//      calc_force alone on the same records, and its 1,024 pair terms at
//      the rate of a full pass (calc_force, ni = nj = 1,024); medians of
//      10,000 calls;
//   2. hermite4 on Plummer models of 1,024 and 4,096 particles to t = 0.25,
//      resident on and off in the same run, as interactions per second
//      beside the full-pass rate;
//   3. calc_force with ni = 1 and nj = 65,536 beside a memcpy of its j-bytes;
//   4. a block step of 16 particles (their states sent, then their forces at
//      a new block time) against N = 16,384 and 1,048,576 resident
//      particles, per j-particle: the step's cost should grow with N no
//      faster than its pair work.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "integrator.h"
#include "library4.h"
#include "plummer.h"
#include "resident_backend.h"
#include "tests/support/prediction_switch.h"

namespace {

using Clock = std::chrono::steady_clock;
using hermite::Vec3;
constexpr int K = 2;
const float kEps2 = static_cast<float>(1.0 / 64 / 64);

double seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

template <class F>
double median_of(int calls, F&& f) {
  std::vector<double> t(static_cast<std::size_t>(calls));
  for (double& s : t) {
    const auto a = Clock::now();
    f();
    s = seconds(a, Clock::now());
  }
  std::nth_element(t.begin(), t.begin() + calls / 2, t.end());
  return t[static_cast<std::size_t>(calls / 2)];
}

hermite::Model plummer_model(int n) {
  const plummer::Particles p(n);
  plummer::build_model(n, p, nullptr);
  hermite::Model m;
  m.mass.assign(p.m(), p.m() + n);
  for (int i = 0; i < n; ++i) {
    m.pos.push_back({p.x()[i][0], p.x()[i][1], p.x()[i][2]});
    m.vel.push_back({p.v()[i][0], p.v()[i][1], p.v()[i][2]});
  }
  return m;
}

std::vector<Predictor> records(const hermite::Model& m) {
  std::vector<Predictor> r(m.mass.size());
  for (std::size_t i = 0; i < r.size(); ++i) {
    for (int c = 0; c < 3; ++c) {
      nbforce_split(m.pos[i][c], &r[i].posH[c], &r[i].posL[c]);
      r[i].vel[c] = static_cast<float>(m.vel[i][c]);
    }
    r[i].mass = static_cast<float>(m.mass[i]);
  }
  return r;
}

// Seconds per pair term of a full pass over n particles.
double full_pass_pair_seconds(const hermite::Model& m) {
  const std::vector<Predictor> p = records(m);
  const int n = static_cast<int>(p.size());
  std::vector<Force> f(p.size());
  double stamp = 0, ti = 0, to = 0;
  const double s = median_of(
      9, [&] { calc_force(n, n, p.data(), p.data(), f.data(), kEps2, &stamp, &ti, &to); });
  return s / (static_cast<double>(n) * n);
}

}  // namespace

// The median time of a block step of 16 particles against n resident ones.
double sixteen_step_seconds(int n, int calls) {
  const hermite::Model m = plummer_model(n);
  std::vector<hermite::Derivs<K>> d(static_cast<std::size_t>(n));
  for (auto& di : d)
    for (int q = 0; q < 2 * K; ++q)
      di[static_cast<std::size_t>(q)] = Vec3{1e-3 * q, -2e-3 * q, 0.5e-3 * q};
  std::vector<double> t(static_cast<std::size_t>(n), 0.0), dt(static_cast<std::size_t>(n), 0.125);
  hermite::ResidentBackend<hermite::Library4> b(m.mass, 0, n, 1.0 / 64, true);
  std::vector<int> all(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) all[static_cast<std::size_t>(i)] = i;
  b.load(all, m.mass, m.pos, m.vel, d, t, dt);
  std::vector<int> block;
  for (int k = 0; k < 16; ++k) block.push_back(k * (n / 16) + 7);
  std::vector<Vec3> out(block.size() * K);
  int call = 0;
  return median_of(calls, [&] {
    b.load(block, m.mass, m.pos, m.vel, d, t, dt);
    b.forces_at(++call % 2 == 0 ? 0.0625 : 0.0625 + 1.0 / 1024, block, out.data());
  });
}

void report_sixteen() {
  const double small = sixteen_step_seconds(16384, 400);
  const double large = sixteen_step_seconds(1048576, 15);
  std::printf(
      "16 particles' block step, resident: %.1f us against 16,384 (%.2f ns per j-particle), "
      "%.1f us against 1,048,576 (%.2f ns per j-particle): %.2f times as much per j-particle\n",
      1e6 * small, 1e9 * small / 16384, 1e6 * large, 1e9 * large / 1048576,
      (large / 1048576) / (small / 16384));
}

// With the argument "step" the first case alone, with "wide" the third
// alone, with "sixteen" the fourth (for profiling them).
int main(int argc, char** argv) {
  const bool step_only = argc > 1 && std::strcmp(argv[1], "step") == 0;
  const bool wide_only = argc > 1 && std::strcmp(argv[1], "wide") == 0;
  hermite::Library4::bind(0);
  if (argc > 1 && std::strcmp(argv[1], "sixteen") == 0) {
    report_sixteen();
    return 0;
  }
  const hermite::Model m1 = plummer_model(1024);
  const double pair_s = full_pass_pair_seconds(m1);
  std::printf("full pass, ni = nj = 1,024: %.1f M interactions/s (%.2f ns a pair)\n", 1e-6 / pair_s,
              1e9 * pair_s);

  // 1. One particle's block step against 1,024 j-particles.
  if (!wide_only) {
    const int n = 1024;
    std::vector<hermite::Derivs<K>> d(n);
    for (int i = 0; i < n; ++i)
      for (int q = 0; q < 2 * K; ++q) d[i][q] = Vec3{1e-3 * q, -2e-3 * q, 0.5e-3 * q};
    std::vector<double> t(n, 0.0), dt(n, 0.125);
    hermite::ResidentBackend<hermite::Library4> on(m1.mass, 0, n, 1.0 / 64, true);
    hermite::ResidentBackend<hermite::Library4> off(m1.mass, 0, n, 1.0 / 64, false);
    std::vector<int> all(n);
    for (int i = 0; i < n; ++i) all[i] = i;
    on.load(all, m1.mass, m1.pos, m1.vel, d, t, dt);
    const std::vector<int> one = {517};
    Vec3 out[K];
    // Each call at a new block time, as in a run (the times alternate, so
    // that every call predicts all sources), and at one time throughout,
    // where the library predicts the particle just sent alone.
    int calls = 0;
    const auto step = [&] {
      on.load(one, m1.mass, m1.pos, m1.vel, d, t, dt);
      on.forces_at(++calls % 2 == 0 ? 0.0625 : 0.0625 + 1.0 / 1024, one, out);
    };
    const double resident = median_of(10000, step);
    const double same_time = median_of(10000, [&] {
      on.load(one, m1.mass, m1.pos, m1.vel, d, t, dt);
      on.forces_at(0.0625, one, out);
    });
    support::predict_one_slot_at_a_time(true);
    const double plain = median_of(10000, step);
    support::predict_one_slot_at_a_time(false);
    hermite::Predicted p;
    p.x.resize(n);
    p.v.resize(n);
    p.a.resize(n);
    p.j.resize(n);
    const double host = median_of(10000, [&] {
      hermite::predict_range<K>(0.0625, 0, n, m1.pos, m1.vel, d, t, dt, p);
      off.forces(one, p, out);
    });
    const std::vector<Predictor> r = records(m1);
    Force f{};
    double stamp = 0, ti = 0, to = 0;
    const double force = median_of(
        10000, [&] { calc_force(1, n, r.data() + 517, r.data(), &f, kEps2, &stamp, &ti, &to); });
    std::printf(
        "one particle against 1,024 (median of 10,000): resident %.2f us (prediction one slot at "
        "a time: %.2f us; every call at one time: %.2f us), host prediction + calc_force %.2f "
        "us, calc_force alone %.2f us, its 1,024 pairs at the full-pass rate %.2f us\n",
        1e6 * resident, 1e6 * plain, 1e6 * same_time, 1e6 * host, 1e6 * force, 1e6 * pair_s * n);
  }

  if (step_only) return 0;

  // 2. hermite4 to t = 0.25 on Plummer models, resident on and off.
  for (int n : {1024, 4096}) {
    if (wide_only) break;
    const hermite::Model m = plummer_model(n);
    const double full = full_pass_pair_seconds(m);
    for (bool resident : {false, true}) {
      hermite::Comm comm;
      hermite::Settings s;
      hermite::ResidentBackend<hermite::Library4> b(m.mass, 0, n, 1.0 / 64, resident);
      hermite::Integrator<K, hermite::ResidentBackend<hermite::Library4>> integ(m, s, b, comm, 0,
                                                                                n);
      const auto a = Clock::now();
      integ.start();
      integ.advance_to(0.25);
      const double wall = seconds(a, Clock::now());
      const double rate = integ.counters().interactions / wall;
      std::printf(
          "hermite4, %d Plummer, t = 0.25, resident %-3s: %.3f s, %.1f M interactions/s, %.0f%% "
          "of the full-pass rate (%.1f M/s), %lld block steps\n",
          n, resident ? "on" : "off", wall, 1e-6 * rate, 100.0 * rate * full, 1e-6 / full,
          integ.counters().block_steps);
    }
  }

  // 3. calc_force, ni = 1 against 65,536, beside a copy of its j-bytes.
  {
    const int nj = 65536;
    const hermite::Model m = plummer_model(nj);
    const std::vector<Predictor> p = records(m);
    std::vector<Predictor> copy(p.size());
    Force f{};
    double stamp = 0, ti = 0, to = 0;
    const double force =
        median_of(200, [&] { calc_force(1, nj, p.data(), p.data(), &f, kEps2, &stamp, &ti, &to); });
    const double bytes = static_cast<double>(p.size() * sizeof(Predictor));
    const double mem = median_of(200, [&] {
      std::memcpy(copy.data(), p.data(), p.size() * sizeof(Predictor));
      asm volatile("" : : "r"(copy.data()) : "memory");
    });
    std::printf(
        "calc_force ni = 1, nj = 65,536: %.1f us; memcpy of its %.1f MB of j-records: "
        "%.1f us\n",
        1e6 * force, bytes / 1e6, 1e6 * mem);
  }
  if (!wide_only) report_sixteen();
  return 0;
}
