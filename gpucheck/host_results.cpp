// The host library's side of a device-against-host comparison:
//   gpucheck_host<ORDER> REQUEST RESULT
// reads a request written by host_exchange.h, runs calc_force or calc_pot of
// the host library on it and writes the results as raw records.
#include <cstdio>
#include <cstring>
#include <vector>

#include "host_exchange.h"

#if NBFORCE_CHECK_ORDER == 4
#include "nbforce4.h"
#elif NBFORCE_CHECK_ORDER == 6
#include "nbforce6.h"
#else
#include "nbforce8.h"
#endif

namespace {

int fail(const char* what) {
  std::fprintf(stderr, "gpucheck host helper: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return fail("usage: gpucheck_host REQUEST RESULT");
  std::FILE* in = std::fopen(argv[1], "rb");
  if (in == nullptr) return fail("cannot open the request");
  gpucheck::RequestHeader head{};
  const bool head_ok = gpucheck::read_all(in, &head, sizeof head) &&
                       std::memcmp(head.magic, "NBGC", 4) == 0 && head.a >= 0 && head.b >= 0 &&
                       head.c >= 0 && head.a <= (1 << 26) && head.b <= (1 << 26);
  if (!head_ok) {
    std::fclose(in);
    return fail("not a request");
  }
  std::vector<char> result;
  if (head.kind == gpucheck::kForces) {
    std::vector<Predictor> ip(static_cast<std::size_t>(head.a)),
        jp(static_cast<std::size_t>(head.b));
    std::vector<Force> force(ip.size());
    const bool ok = gpucheck::read_all(in, ip.data(), ip.size() * sizeof(Predictor)) &&
                    gpucheck::read_all(in, jp.data(), jp.size() * sizeof(Predictor));
    std::fclose(in);
    if (!ok) return fail("short request");
    double stamp = 0, ip_time = 0, fo_time = 0;
    calc_force(head.a, head.b, ip.data(), jp.data(), force.data(), head.eps2, &stamp, &ip_time,
               &fo_time);
    const char* bytes = reinterpret_cast<const char*>(force.data());
    result.assign(bytes, bytes + force.size() * sizeof(Force));
  } else if (head.kind == gpucheck::kPotential) {
    std::vector<Posm> posm(static_cast<std::size_t>(head.a));
    std::vector<double> pot(posm.size());
    const bool ok = gpucheck::read_all(in, posm.data(), posm.size() * sizeof(Posm));
    std::fclose(in);
    if (!ok) return fail("short request");
    if (head.b > head.c || head.c > head.a) return fail("bad source range");
    calc_pot(head.a, head.b, head.c, head.eps2, posm.data(), pot.data());
    const char* bytes = reinterpret_cast<const char*>(pot.data());
    result.assign(bytes, bytes + pot.size() * sizeof(double));
  } else {
    std::fclose(in);
    return fail("unknown request");
  }
  std::FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr) return fail("cannot open the result file");
  const bool written = gpucheck::write_all(out, result.data(), result.size());
  if (std::fclose(out) != 0 || !written) return fail("cannot write the result");
  return 0;
}
