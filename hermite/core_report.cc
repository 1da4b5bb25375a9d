#include "core_report.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

#include "bound_mass.h"
#include "history_file.h"
#include "report.h"

namespace hermite {

namespace {

std::string core_header(bool field) {
  std::string h = "time,xd,yd,zd,rc,rhoc";
  char column[16];
  for (double f : diagnostics::kCoreFractions) {
    std::snprintf(column, sizeof column, ",r%02d", static_cast<int>(f * 100.0 + 0.5));
    h += column;
  }
  return h + ",nbin,ebin,nesc" + (field ? ",m_bound,n_bound,r_jacobi,n_pot_esc" : "");
}

}  // namespace

CoreFile::CoreFile(const std::string& path, bool field) : history_(path, core_header(field)) {}

CoreFile::CoreFile(const std::string& path, long long bytes) : history_(path, bytes) {}

void CoreFile::write(double t, const diagnostics::Core& c, const fields::Bound* bound) {
  std::FILE* f = history_.file();
  std::fprintf(f, "%.17g,%.9e,%.9e,%.9e,%.9e,%.9e", t, c.centre[0], c.centre[1], c.centre[2], c.rc,
               c.rhoc);
  for (double r : c.radii) std::fprintf(f, ",%.9e", r);
  std::fprintf(f, ",%d,%.9e,%d", c.nbin, c.ebin, c.nesc);
  if (bound != nullptr) {
    std::fprintf(f, ",%.9e,%d,%.9e,%d", bound->mass, bound->n, bound->r_jacobi, bound->n_pot_esc);
  }
  history_.end_row();
}

CoreReport::CoreReport(const std::string& path, const Comm& comm, int n, double eps,
                       long long resume_bytes, const fields::Field* field, double field_t0)
    : comm_(comm), eps_(eps), enabled_(!path.empty()), field_(field), field_t0_(field_t0) {
  if (enabled_ && n <= diagnostics::kDensityNeighbours) {
    throw std::runtime_error(path + ": the core diagnostics need more than " +
                             std::to_string(diagnostics::kDensityNeighbours) +
                             " particles, the model has " + std::to_string(n));
  }
  if (!enabled_) return;
  on_root(comm_, [&] {
    file_ = resume_bytes >= 0 ? std::make_unique<CoreFile>(path, resume_bytes)
                              : std::make_unique<CoreFile>(path, field_ != nullptr);
  });
}

void CoreReport::output(double t, const std::vector<double>& mass, const std::vector<Vec3>& pos,
                        const std::vector<Vec3>& vel, const std::vector<double>& pot) {
  if (!enabled_) return;
  on_root(comm_, [&] {
    diagnostics::Snapshot s;
    s.n = mass.size();
    s.m = mass.data();
    s.x = pos.data();
    s.v = vel.data();
    s.pot = pot.size() == mass.size() ? pot.data() : nullptr;
    s.eps = eps_;
    const diagnostics::Core c = diagnostics::core_diagnostics(s);
    if (field_ == nullptr) {
      file_->write(t, c);
      return;
    }
    // The program always has the potentials at an output; without them no
    // star counts as a potential escaper.
    const std::vector<double> zero(s.pot == nullptr ? mass.size() : 0, -HUGE_VAL);
    const fields::Bound b = fields::bound_mass(*field_, t - field_t0_, mass, pos, vel,
                                               s.pot == nullptr ? zero : pot, c.centre);
    file_->write(t, c, &b);
  });
}

}  // namespace hermite
