#include "report.h"

#include "history_file.h"

#include <cerrno>
#include <cmath>
#include <cstring>

namespace hermite {

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

EnergyError energy_error(const Energy& e, const Energy& e0) {
  const double change = e.balance() - e0.balance();
  if (e0.balance() == 0.0) return EnergyError{change, false};
  return EnergyError{change / std::fabs(e0.balance()), true};
}

bool beyond_limit(const EnergyError& error, const Energy& e0, double limit) {
  if (!(limit > 0.0)) return false;
  const double bound =
      error.relative ? limit : limit * (std::fabs(e0.kinetic) + std::fabs(e0.potential));
  // A NaN error is beyond every limit.
  return !(std::fabs(error.value) <= bound);
}

Report::Report(const RunInfo& info, const Comm& comm, const ReportState* resume, bool new_file)
    : info_(info), comm_(comm) {
  if (resume != nullptr) {
    have_e0_ = resume->have_e0;
    e0_ = resume->e0;
    last_error_ = resume->last_error;
    max_error_ = resume->max_error;
    last_t_ = resume->last_t;
    last_ = resume->last;
    last_wall_ = resume->last_wall;
  }
  const std::string& path = info_.options.energy_csv;
  if (path.empty()) return;
  on_root(comm_, [&] {
    if (resume != nullptr && !new_file) {
      csv_ = reopen_history(path, resume->energy_bytes);
      energy_bytes_ = resume->energy_bytes;
      return;
    }
    csv_ = create_history(path);
    std::fputs(
        "time,kinetic,potential,total,rel_error,particle_steps,block_steps,interactions,"
        "wall_seconds,abs_error,e_subsys,n_subsys,e_cm,rel_error_cm,e_external,e_escaped,"
        "n_escaped,m_escaped,work_external,reg_steps\n",
        csv_);
    energy_bytes_ = std::ftell(csv_);
  });
}

ReportState Report::state() const {
  ReportState s;
  s.have_e0 = have_e0_;
  s.e0 = e0_;
  s.last_error = last_error_;
  s.max_error = max_error_;
  s.last_t = last_t_;
  s.last_wall = last_wall_;
  s.last = last_;
  s.energy_bytes = energy_bytes_;
  return s;
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
    e0_ = e;
    have_e0_ = true;
  }
  last_error_ = energy_error(e, e0_);
  max_error_ = std::fmax(max_error_, std::fabs(last_error_.value));
  const double dw = wall - last_wall_;
  const double rate = dw > 0.0 ? (c.interactions - last_.interactions) / dw : 0.0;
  last_t_ = t;
  last_ = c;
  last_wall_ = wall;
  if (comm_.root()) {
    std::printf("t = %-10s %s = % .3e  steps = %-10lld blocks = %-8lld interactions/s = %.3e\n",
                format_number(t).c_str(), last_error_.relative ? "dE/E" : "dE  ", last_error_.value,
                c.particle_steps, c.block_steps, rate);
    std::fflush(stdout);
  }
  const double relative = last_error_.relative ? last_error_.value : std::nan("");
  on_root(comm_, [&] {
    if (csv_ == nullptr) return;
    const double change = e.balance() - e0_.balance();
    const double relative_cm = e.cm() != 0.0 ? change / std::fabs(e.cm()) : std::nan("");
    std::fprintf(csv_,
                 "%.17g,%.17g,%.17g,%.17g,%.9e,%lld,%lld,%.17g,%.6f,%.9e,%.17g,%d,%.17g,%.9e,%.17g,"
                 "%.17g,%lld,%.17g,%.17g,%lld\n",
                 t, e.kinetic, e.potential, e.total(), relative, c.particle_steps, c.block_steps,
                 c.interactions, wall, change, e.subsys, e.n_subsys, e.cm(), relative_cm,
                 e.external, e.escaped, e.n_escaped, e.m_escaped, e.work_external, c.reg_steps);
    if (std::fflush(csv_) != 0) {
      throw std::runtime_error(info_.options.energy_csv +
                               ": write failed: " + std::strerror(errno));
    }
    energy_bytes_ = std::ftell(csv_);
  });
}

void Report::progress(double t, double smallest_step, const Counters& c, double wall) const {
  if (!comm_.root()) return;
  std::printf("  ... t = %s after %.0f s of wall time: smallest step %s, %lld block steps\n",
              format_number(t).c_str(), wall, format_number(smallest_step).c_str(), c.block_steps);
  std::fflush(stdout);
}

void Report::check_energy_limit() const {
  const double limit = info_.options.energy_limit;
  if (!beyond_limit(last_error_, e0_, limit)) return;
  const std::string what = last_error_.relative ? "|dE/E| = " : "|dE| = ";
  const std::string bound =
      last_error_.relative
          ? format_number(limit)
          : format_number(limit * (std::fabs(e0_.kinetic) + std::fabs(e0_.potential))) +
                " (the limit times |K| + |W| at the start, the energy being 0)";
  throw IntegrationError("the energy error " + what + format_number(std::fabs(last_error_.value)) +
                         " at t = " + format_number(last_t_) + " exceeds the limit " + bound +
                         " (--energy-limit); the run is stopped");
}

void Report::summary() const {
  if (!comm_.root()) return;
  const double rate = last_wall_ > 0.0 ? last_.interactions / last_wall_ : 0.0;
  const char* name = last_error_.relative ? "dE/E" : "dE";
  std::printf(
      "%s: done at t = %s: %s = % .3e, max |%s| = %.3e; %lld particle steps (%.1f per "
      "particle), %lld block steps, %lld regularised steps; %.4g interactions in %.3f s = %.3e "
      "interactions/s\n",
      info_.program.c_str(), format_number(last_t_).c_str(), name, last_error_.value, name,
      max_error_, last_.particle_steps, static_cast<double>(last_.particle_steps) / info_.n,
      last_.block_steps, last_.reg_steps, last_.interactions, last_wall_, rate);
  std::fflush(stdout);
}

}  // namespace hermite
