#include "core_report.h"

#include <algorithm>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "bound_mass.h"
#include "history_file.h"
#include "report.h"

namespace hermite {

namespace {

std::string core_header(int groups, bool field) {
  std::string h = "time,xd,yd,zd,rc,rhoc";
  char column[16];
  for (double f : diagnostics::kCoreFractions) {
    std::snprintf(column, sizeof column, ",r%02d", static_cast<int>(f * 100.0 + 0.5));
    h += column;
  }
  h += ",nbin,ebin,nesc";
  if (field) h += ",m_bound,n_bound,r_jacobi,n_pot_esc";
  for (int g = 0; g < groups; ++g) {
    const std::string k = "g" + std::to_string(g);
    h += "," + k + "_r10," + k + "_r50," + k + "_m10";
  }
  return h;
}

// The first line of the file at path, without its newline; *missing where
// it cannot be read.
std::string first_line(const std::string& path, bool* missing) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  *missing = f == nullptr;
  if (f == nullptr) return "";
  std::string line;
  for (int c; (c = std::fgetc(f)) != EOF && c != '\n';) line += static_cast<char>(c);
  std::fclose(f);
  return line;
}

// path, where its header is that of a history with `groups` mass groups.
const std::string& same_columns(const std::string& path, int groups, bool field) {
  bool missing = false;
  // A missing file is reported by the history's own reopening.
  if (first_line(path, &missing) != core_header(groups, field) && !missing) {
    throw std::runtime_error(path +
                             ": the core history has other columns than this run writes (give "
                             "the checkpointed run's --mass-groups, or another --core file)");
  }
  return path;
}

}  // namespace

CoreFile::CoreFile(const std::string& path, int groups, bool field)
    : history_(path, core_header(groups, field)) {}

CoreFile::CoreFile(const std::string& path, long long bytes, int groups, bool field)
    : history_(same_columns(path, groups, field), bytes) {}

void CoreFile::write(double t, const diagnostics::Core& c, const fields::Bound* bound) {
  std::FILE* f = history_.file();
  std::fprintf(f, "%.17g,%.9e,%.9e,%.9e,%.9e,%.9e", t, c.centre[0], c.centre[1], c.centre[2], c.rc,
               c.rhoc);
  for (double r : c.radii) std::fprintf(f, ",%.9e", r);
  std::fprintf(f, ",%d,%.9e,%d", c.nbin, c.ebin, c.nesc);
  if (bound != nullptr) {
    std::fprintf(f, ",%.9e,%d,%.9e,%d", bound->mass, bound->n, bound->r_jacobi, bound->n_pot_esc);
  }
  for (const diagnostics::GroupRadii& g : c.groups) {
    std::fprintf(f, ",%.9e,%.9e,%.9e", g.radii[0], g.radii[1], g.mean_inside);
  }
  history_.end_row();
}

CoreReport::CoreReport(const std::string& path, const Comm& comm, int n, double eps,
                       long long resume_bytes, const MassGroups& groups, const fields::Field* field,
                       double field_t0)
    : comm_(comm), eps_(eps), enabled_(!path.empty()), field_(field), field_t0_(field_t0) {
  if (!groups.empty()) {
    if (!enabled_)
      throw std::runtime_error("--mass-groups adds columns to --core: give --core FILE");
    if (groups.member.size() != static_cast<std::size_t>(n)) {
      throw std::runtime_error("mass groups of " + std::to_string(groups.member.size()) +
                               " particles for a model of " + std::to_string(n));
    }
    groups_ = static_cast<int>(groups.bounds.size()) + 1;
    group_ = groups.member;
  }
  if (enabled_ && n <= diagnostics::kDensityNeighbours) {
    throw std::runtime_error(path + ": the core diagnostics need more than " +
                             std::to_string(diagnostics::kDensityNeighbours) +
                             " particles, the model has " + std::to_string(n));
  }
  if (!enabled_) return;
  on_root(comm_, [&] {
    const bool field_columns = field_ != nullptr;
    file_ = resume_bytes >= 0
                ? std::make_unique<CoreFile>(path, resume_bytes, groups_, field_columns)
                : std::make_unique<CoreFile>(path, groups_, field_columns);
  });
}

void CoreReport::output(double t, const std::vector<double>& mass, const std::vector<Vec3>& pos,
                        const std::vector<Vec3>& vel, const std::vector<double>& pot) {
  if (!enabled_) return;
  on_root(comm_, [&] {
    // Slots of mass 0 (stars that left the run, parked far away) are left
    // out: the diagnostics see the stars that stay.
    if (std::find(mass.begin(), mass.end(), 0.0) != mass.end()) {
      std::vector<double> m, p;
      std::vector<Vec3> x, v;
      std::vector<int> g;
      const bool with_pot = pot.size() == mass.size();
      const bool with_groups = groups_ > 0 && group_.size() == mass.size();
      for (std::size_t i = 0; i < mass.size(); ++i) {
        if (!(mass[i] > 0.0)) continue;
        m.push_back(mass[i]);
        x.push_back(pos[i]);
        v.push_back(vel[i]);
        if (with_pot) p.push_back(pot[i]);
        if (with_groups) g.push_back(group_[i]);
      }
      write_row(t, m, x, v, p, with_groups ? g.data() : nullptr);
      return;
    }
    write_row(t, mass, pos, vel, pot,
              groups_ > 0 && group_.size() == mass.size() ? group_.data() : nullptr);
  });
}

void CoreReport::write_row(double t, const std::vector<double>& mass, const std::vector<Vec3>& pos,
                           const std::vector<Vec3>& vel, const std::vector<double>& pot,
                           const int* group) {
  diagnostics::Snapshot s;
  s.n = mass.size();
  s.m = mass.data();
  s.x = pos.data();
  s.v = vel.data();
  s.pot = pot.size() == mass.size() ? pot.data() : nullptr;
  s.eps = eps_;
  if (group != nullptr) {
    s.group = group;
    s.groups = groups_;
  }
  const diagnostics::Core c = diagnostics::core_diagnostics(s);
  if (field_ == nullptr) {
    file_->write(t, c);
    return;
  }
  // The program always has the potentials at an output; without them no
  // star counts as a potential escaper.
  const std::vector<double> none(s.pot == nullptr ? mass.size() : 0, -HUGE_VAL);
  const fields::Bound b = fields::bound_mass(*field_, t - field_t0_, mass, pos, vel,
                                             s.pot == nullptr ? none : pot, c.centre);
  file_->write(t, c, &b);
}

}  // namespace hermite
