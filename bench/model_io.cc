// Model files of 1,048,576 particles written and read, HDF5 beside the
// text format in the same run (the aim: at most 0.5 s each for HDF5).
// The files go to $TMPDIR (default /tmp).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "model.h"

namespace {

constexpr int kParticles = 1 << 20;

const hermite::Model& model() {
  static const hermite::Model m = [] {
    hermite::Model r;
    for (int i = 0; i < kParticles; ++i) {
      const double s = std::sin(0.7 * i), c = std::cos(1.3 * i);
      r.mass.push_back(1.0 / kParticles);
      r.pos.push_back({s, c, s * c});
      r.vel.push_back({c * 0.5, -s * 0.25, s - c});
    }
    return r;
  }();
  return m;
}

std::string path_of(const char* ending) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir != nullptr ? dir : "/tmp") + "/bench_model_" + std::to_string(::getpid()) +
         ending;
}

void write_model(benchmark::State& state, const char* ending) {
  const std::string path = path_of(ending);
  for (auto _ : state) hermite::write_model(path, model());
  state.counters["particles"] = kParticles;
  std::remove(path.c_str());
}

void read_model(benchmark::State& state, const char* ending) {
  const std::string path = path_of(ending);
  hermite::write_model(path, model());
  for (auto _ : state) benchmark::DoNotOptimize(hermite::read_model(path));
  state.counters["particles"] = kParticles;
  std::remove(path.c_str());
}

BENCHMARK_CAPTURE(write_model, text, ".inp")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(write_model, hdf5, ".h5")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(read_model, text, ".inp")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(read_model, hdf5, ".h5")->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
