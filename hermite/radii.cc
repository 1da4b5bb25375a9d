#include "radii.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <numeric>
#include <stdexcept>

#include "history_file.h"
#include "report.h"

namespace hermite {

std::vector<double> lagrangian_radii(const std::vector<double>& mass, const std::vector<Vec3>& pos,
                                     const std::vector<double>& fractions) {
  std::vector<double> radii(fractions.size(), 0.0);
  const std::size_t n = mass.size();
  if (n == 0) return radii;
  double total = 0.0;
  Vec3 centre{};
  for (std::size_t i = 0; i < n; ++i) {
    total += mass[i];
    for (int c = 0; c < 3; ++c) centre[c] += mass[i] * pos[i][c];
  }
  for (int c = 0; c < 3; ++c) centre[c] /= total;

  std::vector<double> r(n);
  for (std::size_t i = 0; i < n; ++i) {
    const Vec3 d{pos[i][0] - centre[0], pos[i][1] - centre[1], pos[i][2] - centre[2]};
    r[i] = norm(d);
  }
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return r[a] < r[b]; });

  // One sweep outwards; the fractions ascend, so each picks up where the
  // last one stopped. The last particle closes every fraction, whatever the
  // rounding of the running sum.
  double enclosed = 0.0;
  std::size_t k = 0;
  for (std::size_t f = 0; f < fractions.size(); ++f) {
    const double target = fractions[f] * total;
    while (k + 1 < n && enclosed + mass[order[k]] < target) enclosed += mass[order[k++]];
    radii[f] = r[order[k]];
  }
  return radii;
}

namespace {

std::string radii_header() {
  std::string h = "time";
  char column[16];
  for (double f : radii_fractions()) {
    std::snprintf(column, sizeof column, ",r%02d", static_cast<int>(f * 100.0 + 0.5));
    h += column;
  }
  return h;
}

}  // namespace

RadiiFile::RadiiFile(const std::string& path) : history_(path, radii_header()) {}

RadiiFile::RadiiFile(const std::string& path, long long bytes) : history_(path, bytes) {}

void RadiiFile::write(double t, const std::vector<double>& radii) {
  std::FILE* f = history_.file();
  std::fprintf(f, "%.17g", t);
  for (double r : radii) std::fprintf(f, ",%.9e", r);
  history_.end_row();
}

RadiiReport::RadiiReport(const std::string& path, const Comm& comm, long long resume_bytes)
    : comm_(comm), enabled_(!path.empty()) {
  if (!enabled_) return;
  on_root(comm_, [&] {
    file_ = resume_bytes >= 0 ? std::make_unique<RadiiFile>(path, resume_bytes)
                              : std::make_unique<RadiiFile>(path);
  });
}

void RadiiReport::output(double t, const std::vector<double>& mass, const std::vector<Vec3>& pos) {
  if (!enabled_) return;
  on_root(comm_, [&] { file_->write(t, lagrangian_radii(mass, pos, radii_fractions())); });
}

}  // namespace hermite
