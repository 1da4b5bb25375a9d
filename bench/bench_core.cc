// The core diagnostics of a 1,048,576-particle Plummer sphere (the target:
// at most 2 s on two cores), beside a yardstick measured in the same run:
// one sort of a million (distance, index) pairs, the step of the
// diagnostics that no choice of neighbour search avoids.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "core.h"
#include "plummer.h"

namespace {

struct Model {
  std::vector<double> m;
  std::vector<diagnostics::Vec3> x, v;
};

const Model& model() {
  static const Model s = [] {
    constexpr int n = 1048576;
    const plummer::Particles p(n);
    plummer::build_model(n, p, nullptr);
    Model out;
    for (int i = 0; i < n; ++i) {
      out.m.push_back(p.m()[i]);
      out.x.push_back({p.x()[i][0], p.x()[i][1], p.x()[i][2]});
      out.v.push_back({p.v()[i][0], p.v()[i][1], p.v()[i][2]});
    }
    return out;
  }();
  return s;
}

void core_diagnostics(benchmark::State& state) {
  const Model& s = model();
  diagnostics::Snapshot snap;
  snap.n = s.m.size();
  snap.m = s.m.data();
  snap.x = s.x.data();
  snap.v = s.v.data();
  snap.eps = 1e-4;
  for (auto _ : state) benchmark::DoNotOptimize(diagnostics::core_diagnostics(snap));
  state.counters["particles"] = static_cast<double>(snap.n);
}

void sort_distances(benchmark::State& state) {
  const Model& s = model();
  std::vector<std::pair<double, std::size_t>> keyed(s.m.size());
  for (auto _ : state) {
    for (std::size_t i = 0; i < keyed.size(); ++i) {
      const auto& x = s.x[i];
      keyed[i] = {x[0] * x[0] + x[1] * x[1] + x[2] * x[2], i};
    }
    std::sort(keyed.begin(), keyed.end());
    benchmark::DoNotOptimize(keyed.data());
  }
}

BENCHMARK(core_diagnostics)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(sort_distances)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
