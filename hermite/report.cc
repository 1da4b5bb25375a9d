#include "report.h"

#include <cerrno>
#include <cmath>
#include <cstring>

namespace hermite {

std::string format_number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", v);
  return text;
}

Model load_model(const std::string& path, const Comm& comm) {
  Model m;
  on_root(comm, [&] { m = read_model(path); });
  if (comm.size() == 1) return m;
  int head[2] = {m.number, m.size()};
  comm.broadcast(head, 2);
  const auto n = static_cast<std::size_t>(head[1]);
  m.number = head[0];
  m.mass.resize(n);
  m.pos.resize(n);
  m.vel.resize(n);
  comm.broadcast(&m.time, 1);
  comm.broadcast(m.mass.data(), n);
  comm.broadcast(m.pos.data()->data(), 3 * n);
  comm.broadcast(m.vel.data()->data(), 3 * n);
  return m;
}

Report::Report(const RunInfo& info, const Comm& comm) : info_(info), comm_(comm) {
  const std::string& path = info_.options.energy_csv;
  if (path.empty()) return;
  on_root(comm_, [&] {
    csv_ = std::fopen(path.c_str(), "w");
    if (csv_ == nullptr)
      throw std::runtime_error(path + ": cannot create: " + std::strerror(errno));
    std::fputs(
        "time,kinetic,potential,total,rel_error,particle_steps,block_steps,interactions,"
        "wall_seconds\n",
        csv_);
  });
}

Report::~Report() {
  if (csv_ != nullptr) std::fclose(csv_);
}

void Report::header() const {
  if (!comm_.root()) return;
  const Options& o = info_.options;
  std::string steps = o.shared_dt > 0.0 ? "shared step " + format_number(o.shared_dt)
                                        : "block steps up to " + format_number(o.dt_max);
  std::printf("%s: %d particles, order %d, eps = %s, eta = %s, %s, t = %s to %s, %d rank%s\n",
              info_.program.c_str(), info_.n, info_.order, format_number(o.eps).c_str(),
              format_number(o.eta).c_str(), steps.c_str(), format_number(info_.t0).c_str(),
              format_number(o.t_end).c_str(), info_.ranks, info_.ranks == 1 ? "" : "s");
  std::fflush(stdout);
}

void Report::output(double t, const Energy& e, const Counters& c, double wall) {
  if (!have_e0_) {
    e0_ = e.total();
    have_e0_ = true;
  }
  last_error_ = (e.total() - e0_) / std::fabs(e0_);
  max_error_ = std::fmax(max_error_, std::fabs(last_error_));
  const double dw = wall - last_wall_;
  const double rate = dw > 0.0 ? (c.interactions - last_.interactions) / dw : 0.0;
  last_t_ = t;
  last_ = c;
  last_wall_ = wall;
  if (comm_.root()) {
    std::printf("t = %-10s dE/E = % .3e  steps = %-10lld blocks = %-8lld interactions/s = %.3e\n",
                format_number(t).c_str(), last_error_, c.particle_steps, c.block_steps, rate);
    std::fflush(stdout);
  }
  on_root(comm_, [&] {
    if (csv_ == nullptr) return;
    std::fprintf(csv_, "%.17g,%.17g,%.17g,%.17g,%.9e,%lld,%lld,%.17g,%.6f\n", t, e.kinetic,
                 e.potential, e.total(), last_error_, c.particle_steps, c.block_steps,
                 c.interactions, wall);
    if (std::fflush(csv_) != 0) {
      throw std::runtime_error(info_.options.energy_csv +
                               ": write failed: " + std::strerror(errno));
    }
  });
}

void Report::summary() const {
  if (!comm_.root()) return;
  const double rate = last_wall_ > 0.0 ? last_.interactions / last_wall_ : 0.0;
  std::printf(
      "%s: done at t = %s: dE/E = % .3e, max |dE/E| = %.3e; %lld particle steps (%.1f per "
      "particle), %lld block steps; %.4g interactions in %.3f s = %.3e interactions/s\n",
      info_.program.c_str(), format_number(last_t_).c_str(), last_error_, max_error_,
      last_.particle_steps, static_cast<double>(last_.particle_steps) / info_.n, last_.block_steps,
      last_.interactions, last_wall_, rate);
  std::fflush(stdout);
}

}  // namespace hermite
