// The GPU check of one CUDA force library, with no dependency beyond the CUDA
// runtime:
//   gpucheck_<variant><ORDER> [--compare] [--speed] [--small] --host HELPER
//                             [--json FILE]
//   --compare  the library against the host library (HELPER) on the
//              production path's shapes
//   --speed    calc_force timed with CUDA events, beside the FMA peak
//   --small    a small run of every kernel and split, for compute-sanitizer
// Exit status: 0 when every check passed, 1 when one failed, 2 when no GPU is
// visible or nothing was checked.
#include <cuda_runtime.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#if NBFORCE_CHECK_ORDER == 4
#include "nbforce4/adapter4.h"
using Adapter = Adapter4;
#elif NBFORCE_CHECK_ORDER == 6
#include "nbforce6/adapter6.h"
using Adapter = Adapter6;
#else
#include "nbforce8/adapter8.h"
using Adapter = Adapter8;
#endif

#include "bench/flop_counts.h"
#include "device_vs_host.h"
#include "fma_peak.h"

namespace {

#if defined(NBFORCE_CHECK_HOST_RSQRT)
constexpr const char* kVariant = "host-rsqrt";
constexpr gpucheck::Match kMatch = gpucheck::Match::bitwise;
#else
constexpr const char* kVariant = "hardware-rsqrt";
constexpr gpucheck::Match kMatch = gpucheck::Match::within_tolerance;
#endif

constexpr double kFlops = NBFORCE_CHECK_ORDER == 4   ? nbbench::kFlopsOrder4
                          : NBFORCE_CHECK_ORDER == 6 ? nbbench::kFlopsOrder6
                                                     : nbbench::kFlopsOrder8;

struct Options {
  bool compare = false, speed = false, small = false;
  std::string host, json;
};

bool parse(int argc, char** argv, Options& o) {
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    if (a == "--compare") {
      o.compare = true;
    } else if (a == "--speed") {
      o.speed = true;
    } else if (a == "--small") {
      o.small = true;
    } else if ((a == "--host" || a == "--json") && k + 1 < argc) {
      (a == "--host" ? o.host : o.json) = argv[++k];
    } else {
      return false;
    }
  }
  return o.compare || o.speed || o.small;
}

// The JSON report, built as the checks run.
struct Report {
  std::string body;
  int passed = 0, failed = 0;
  void add(const std::string& member) { body += (body.empty() ? "" : ",\n  ") + member; }
};

std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (char ch : s) {
    if (ch == '"' || ch == '\\') out += '\\';
    out += (ch >= 0x20 ? ch : ' ');
  }
  return out + "\"";
}

std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", std::isfinite(v) ? v : -1.0);
  return text;
}

// A CUDA error left by the library shows here; the check fails on it.
bool device_ok(const char* where) {
  const cudaError_t e = cudaDeviceSynchronize();
  const cudaError_t last = cudaGetLastError();
  if (e == cudaSuccess && last == cudaSuccess) return true;
  std::printf("  CUDA error after %s: %s\n", where,
              cudaGetErrorString(e != cudaSuccess ? e : last));
  return false;
}

void run_compare(const Options& o, Report& r) {
  std::string items;
  for (const gpucheck::Comparison& c : gpucheck::compare_with_host<Adapter>(o.host, kMatch)) {
    const bool ok = c.passed && device_ok(c.name.c_str());
    (ok ? r.passed : r.failed) += 1;
    std::printf("  %-40s %s", c.name.c_str(), ok ? "ok" : "FAILED");
    if (kMatch == gpucheck::Match::within_tolerance && c.passed)
      std::printf("  (largest difference / term sum: %.2g %.2g %.2g %.2g)", c.worst[0], c.worst[1],
                  c.worst[2], c.worst[3]);
    if (!c.detail.empty()) std::printf("  %s", c.detail.c_str());
    std::printf("\n");
    items += std::string(items.empty() ? "" : ", ") + "{\"case\": " + quoted(c.name) +
             ", \"passed\": " + (ok ? "true" : "false") + ", \"worst\": [" + number(c.worst[0]) +
             ", " + number(c.worst[1]) + ", " + number(c.worst[2]) + ", " + number(c.worst[3]) +
             "], \"detail\": " + quoted(c.detail) + "}";
  }
  r.add(std::string("\"comparison\": {\"against\": \"host library\", \"match\": ") +
        (kMatch == gpucheck::Match::bitwise ? "\"bitwise\"" : "\"within tolerance\"") +
        ", \"cases\": [" + items + "]}");
}

struct Timing {
  const char* name;
  int ni, nj;
};

void run_speed(Report& r) {
  const double peak = gpucheck::fma_peak_flops();
  std::printf("  FP32 FMA peak: %.1f GFLOP/s\n", peak * 1e-9);
  const Timing cases[] = {{"full N=16384", 16384, 16384},
                          {"full N=65536", 65536, 65536},
                          {"full N=262144", 262144, 262144},
                          {"block step ni=256", 256, 262144},
                          {"ni=1", 1, 262144}};
  const auto cloud = nbtest::plummer_cloud(262144, 99);
  const auto pred = gpucheck::predictors<Adapter>(cloud, cloud.size());
  std::vector<Adapter::Force> out(cloud.size());
  double stamp = 0, ip_time = 0, fo_time = 0;
  // The first call sizes the j-buffer for the largest nj; it is not timed.
  calc_force(1, 262144, pred.data(), pred.data(), out.data(), gpucheck::kEps2, &stamp, &ip_time,
             &fo_time);
  cudaEvent_t start, stop;
  cudaEventCreate(&start);
  cudaEventCreate(&stop);
  std::string items;
  for (const Timing& t : cases) {
    // Short calls are repeated and the fastest kept.
    const int reps = static_cast<double>(t.ni) * t.nj < 1e9 ? 5 : 1;
    float best_ms = 0.0f;
    for (int rep = 0; rep < reps; ++rep) {
      cudaEventRecord(start);
      calc_force(t.ni, t.nj, pred.data(), pred.data(), out.data(), gpucheck::kEps2, &stamp,
                 &ip_time, &fo_time);
      cudaEventRecord(stop);
      cudaEventSynchronize(stop);
      float ms = 0.0f;
      cudaEventElapsedTime(&ms, start, stop);
      if (rep == 0 || ms < best_ms) best_ms = ms;
    }
    const bool ok = device_ok(t.name) && best_ms > 0.0f;
    (ok ? r.passed : r.failed) += 1;
    const double rate = static_cast<double>(t.ni) * t.nj / (best_ms * 1e-3);
    const double gflops = rate * kFlops * 1e-9;
    std::printf("  %-20s %10.3f ms  %.3e interactions/s  %8.1f GFLOP/s  (%.1f%% of FMA peak)%s\n",
                t.name, best_ms, rate, gflops, peak > 0 ? 100.0 * gflops * 1e9 / peak : 0.0,
                ok ? "" : "  FAILED");
    items += std::string(items.empty() ? "" : ", ") + "{\"case\": " + quoted(t.name) +
             ", \"ni\": " + std::to_string(t.ni) + ", \"nj\": " + std::to_string(t.nj) +
             ", \"ms\": " + number(best_ms) + ", \"interactions_per_s\": " + number(rate) +
             ", \"gflops\": " + number(gflops) + "}";
  }
  cudaEventDestroy(start);
  cudaEventDestroy(stop);
  r.add("\"speed\": {\"flops_per_interaction\": " + number(kFlops) +
        ", \"fma_peak_gflops\": " + number(peak * 1e-9) + ", \"cases\": [" + items + "]}");
}

// For compute-sanitizer, which slows the kernels down many times: every
// thread split once (one i-block each, rather than a pass of 4096 before it),
// j-slices of one full and one partial tile, and the potential.
void run_small(Report& r) {
  const auto cloud = nbtest::plummer_cloud(3700, 5);
  const auto pred = gpucheck::predictors<Adapter>(cloud, cloud.size());
  std::vector<Adapter::Force> out(cloud.size());
  double stamp = 0, ip_time = 0, fo_time = 0;
  bool ok = true;
  for (int ni : {3, 6, 13, 27, 40, 128 + 70}) {
    calc_force(ni, 28 * 129 + 5, pred.data(), pred.data(), out.data(), gpucheck::kEps2, &stamp,
               &ip_time, &fo_time);
    ok = device_ok("calc_force") && ok;
  }
  const std::vector<nbtest::Particle> part(cloud.begin(), cloud.begin() + 300);
  const auto posm = nbtest::to_posm(part);
  std::vector<double> pot(part.size());
  calc_pot(300, 21, 278, gpucheck::kEps2, posm.data(), pot.data());
  ok = device_ok("calc_pot") && ok;
  (ok ? r.passed : r.failed) += 1;
  std::printf("  small run of every kernel: %s\n", ok ? "ok" : "FAILED");
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, o) || ((o.compare) && o.host.empty())) {
    std::fprintf(stderr, "usage: %s [--compare] [--speed] [--small] --host HELPER [--json FILE]\n",
                 argv[0]);
    return 2;
  }
  int count = 0;
  const cudaError_t e = cudaGetDeviceCount(&count);
  if (e != cudaSuccess || count == 0) {
    std::printf("FAIL: no GPU is visible (%s)\n",
                e != cudaSuccess ? cudaGetErrorString(e) : "the runtime reports 0 devices");
    return 2;
  }
  cudaDeviceProp prop;
  int driver = 0, runtime = 0;
  cudaGetDeviceProperties(&prop, 0);
  cudaDriverGetVersion(&driver);
  cudaRuntimeGetVersion(&runtime);
  CUDA_MPI_Init(0);
  std::printf("nbforce%d (%s) on %s, compute capability %d.%d, driver %d, runtime %d\n",
              NBFORCE_CHECK_ORDER, kVariant, prop.name, prop.major, prop.minor, driver, runtime);

  Report r;
  r.add("\"library\": \"nbforce" + std::to_string(NBFORCE_CHECK_ORDER) + "\"");
  r.add(std::string("\"variant\": ") + quoted(kVariant));
  r.add("\"device\": " + quoted(prop.name));
  r.add("\"driver\": " + std::to_string(driver));
  if (o.small) run_small(r);
  if (o.compare) run_compare(o, r);
  if (o.speed) run_speed(r);
  r.add("\"passed\": " + std::to_string(r.passed));
  r.add("\"failed\": " + std::to_string(r.failed));
  std::printf("nbforce%d (%s): %d checks passed, %d failed\n", NBFORCE_CHECK_ORDER, kVariant,
              r.passed, r.failed);
  if (!o.json.empty()) {
    std::FILE* f = std::fopen(o.json.c_str(), "w");
    if (f == nullptr || std::fprintf(f, "{\n  %s\n}\n", r.body.c_str()) < 0 ||
        std::fclose(f) != 0) {
      std::printf("FAIL: cannot write %s\n", o.json.c_str());
      return 1;
    }
  }
  if (r.passed + r.failed == 0) {
    std::printf("FAIL: no check ran\n");
    return 2;
  }
  return r.failed == 0 ? 0 : 1;
}
