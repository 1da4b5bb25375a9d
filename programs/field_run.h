// A program run in an external field (fields/): the field of the options or
// of the checkpoint, the energy with the field's share, and the stars that
// leave (fields/escapers.h) with their file, their energy balance and their
// checkpoint section.
#pragma once

#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "checkpoint.h"
#include "comm.h"
#include "core.h"
#include "escapers.h"
#include "field_options.h"
#include "field_section.h"
#include "history_file.h"
#include "integrator.h"
#include "model.h"
#include "options.h"
#include "report.h"

namespace hermite {

// The external field of the options, checked against the model, or that
// of the checkpoint (section "field") for a continued run, with the work
// done so far; none where no field was asked for.
inline fields::FieldSetup field_setup(fields::FieldOptions o, const Model& model,
                                      const Checkpoint* ck) {
  double work = 0.0;
  if (ck != nullptr) {
    const auto it = ck->sections.find(fields::kFieldSection);
    if (it != ck->sections.end()) {
      if (!o.given.empty()) {
        throw UsageError(
            "a continued run takes its external field from the checkpoint: leave out " +
            o.given.front());
      }
      o = fields::decode_field_section(it->second, &work);
    } else if (!o.given.empty()) {
      throw UsageError("the checkpoint holds no external field (" + o.given.front() + ")");
    }
  }
  double m = 0.0;
  for (double mi : model.mass) m += mi;
  fields::FieldSetup s = fields::make_field(o, m);
  if (!s.field) {
    if (o.was_given("--escapers") || o.was_given("--escape-radius")) {
      throw UsageError("--escapers and --escape-radius need an external field");
    }
    return s;
  }
  if (ck == nullptr) fields::check_half_mass_radius(*s.field, 0.0, model.mass, model.pos);
  s.field->set_work(work);
  char k[32];
  std::snprintf(k, sizeof k, "%.6g", o.escape_radius);
  s.line += o.escape_radius > 0.0 ? std::string("; stars beyond ") + k +
                                        " Jacobi radii of the density centre leave at each output"
                                  : std::string("; every star is kept");
  return s;
}

// The energy of the synchronised system with the field's share and the
// work the field has done.
template <class Integ>
Energy energy_with_field(Integ& integ, const fields::Field* field,
                         const std::vector<double>& mass) {
  Energy e = integ.energy();
  if (field != nullptr) {
    e.external = fields::external_energy(*field, integ.time(), mass, integ.positions());
    e.work_external = field->work();
  }
  return e;
}

// Keeps in a snapshot only the particles of positive mass in `live` (the
// stars that stay), under their model indices.
inline void keep_live(Model& snap, const std::vector<double>& live) {
  Model kept;
  kept.number = snap.number;
  kept.time = snap.time;
  for (std::size_t i = 0; i < live.size(); ++i) {
    if (!(live[i] > 0.0)) continue;
    kept.mass.push_back(snap.mass[i]);
    kept.pos.push_back(snap.pos[i]);
    kept.vel.push_back(snap.vel[i]);
    kept.ids.push_back(static_cast<int>(i));
  }
  snap = std::move(kept);
}

// The stars of a run in a field that leave it: the criterion applied at
// every output, the escaper file, the totals the energy balance books, and
// the checkpoint section. Without a field, or with escape radius 0, nothing
// leaves and nothing is written.
class Escapes {
 public:
  // t0: the model's time (the run's times count from it). section: the
  // checkpoint's "escapers" section on a continued run (null otherwise);
  // the file then continues at the section's length where its name is
  // kept. mass: the model's masses.
  Escapes(const fields::FieldSetup& field, const Comm& comm, double eps, double t0,
          const std::vector<double>& mass, const std::string* section, bool same_file)
      : comm_(comm),
        field_(field.field.get()),
        k_(field.field ? field.options.escape_radius : 0.0),
        eps_(eps),
        t0_(t0),
        live_(mass) {
    long long resume = -1;
    if (section != nullptr) {
      fields::EscaperSection s = fields::decode_escaper_section(*section);
      totals_ = s.totals;
      records_ = std::move(s.records);
      for (const fields::Escaper& e : records_) {
        if (e.id < 0 || static_cast<std::size_t>(e.id) >= live_.size()) {
          throw std::runtime_error("the checkpoint's escapers section names no star of the model");
        }
        live_[static_cast<std::size_t>(e.id)] = 0.0;
      }
      if (same_file) resume = s.file_bytes;
    }
    const std::string& path = field.options.escapers;
    if (field_ == nullptr || path.empty()) return;
    on_root(comm_, [&] {
      file_ = resume >= 0 ? std::make_unique<HistoryFile>(path, resume)
                          : std::make_unique<HistoryFile>(path, fields::escaper_header());
    });
  }

  // Whether any star has left.
  bool any_left() const { return totals_.n > 0; }

  // The model's masses with 0 for the stars that left.
  const std::vector<double>& live_masses() const { return live_; }

  // The slots that left before (a continued run), for Integrator::forget.
  std::vector<int> departed() const {
    std::vector<int> ids;
    for (const fields::Escaper& e : records_) ids.push_back(e.id);
    return ids;
  }

  // Books the totals into an energy.
  void book(Energy& e) const {
    e.escaped = totals_.energy;
    e.n_escaped = totals_.n;
    e.m_escaped = totals_.mass;
  }

  // At an output, every star synchronised and e its energy (as
  // energy_with_field gives it, for the live masses): removes the stars
  // that leave, writes their rows and returns the energy after, with the
  // totals booked; e itself (booked) where none leaves. Rank 0 decides, the
  // others follow.
  template <class Integ>
  Energy apply(Integ& integ, Energy e) {
    book(e);
    if (field_ == nullptr || !(k_ > 0.0)) return e;
    // Copies: the integrator's own change with the removal.
    const std::vector<Vec3> pos = integ.positions();
    const std::vector<Vec3> vel = integ.velocities();
    const std::vector<double> pot = integ.potentials();
    const double t = integ.time();
    std::vector<int> chosen;
    Vec3 centre{};
    on_root(comm_, [&] { chosen = choose(t, pos, vel, pot, &centre); });
    share(chosen, centre);
    if (chosen.empty()) return e;
    const std::vector<int> gone = integ.remove_for_good(chosen);
    const Vec3 galactic = field_->galactic_position(t, centre);
    std::vector<fields::Escaper> now;
    for (int g : gone) {
      const auto i = static_cast<std::size_t>(g);
      fields::Escaper r;
      r.t = t0_ + t;
      r.id = g;
      r.m = live_[i];
      r.x = pos[i];
      r.v = vel[i];
      const Vec3& v = r.v;
      r.energy = r.m * (0.5 * (v[0] * v[0] + v[1] * v[1] + v[2] * v[2]) +
                        (pot.size() == live_.size() ? pot[i] : 0.0));
      r.e_field = r.m * field_->potential(t, r.x);
      r.centre_galactic = galactic;
      now.push_back(r);
      totals_.mass += r.m;
      totals_.n += 1;
      live_[i] = 0.0;
    }
    Energy after = energy_with_field(integ, field_, live_);
    totals_.energy += e.total() - after.total();
    book(after);
    records_.insert(records_.end(), now.begin(), now.end());
    // Every rank takes part (on_root broadcasts its outcome); only rank 0
    // holds the file.
    on_root(comm_, [&] {
      if (!file_) return;
      for (const fields::Escaper& r : now) {
        std::fputs(fields::escaper_row(r).c_str(), file_->file());
        file_->end_row();
      }
    });
    return after;
  }

  // The checkpoint section, where the run has a field.
  bool wanted() const { return field_ != nullptr; }
  std::string section() const {
    fields::EscaperSection s;
    s.file_bytes = file_ ? file_->bytes() : 0;
    s.totals = totals_;
    s.records = records_;
    return fields::encode_escaper_section(s);
  }

 private:
  // The stars that leave at time t, and the density centre (rank 0). The
  // states before the removal are kept for the records.
  std::vector<int> choose(double t, const std::vector<Vec3>& pos, const std::vector<Vec3>& vel,
                          const std::vector<double>& pot, Vec3* centre) {
    std::vector<double> m;
    std::vector<Vec3> x, v;
    std::vector<double> p;
    for (std::size_t i = 0; i < live_.size(); ++i) {
      if (!(live_[i] > 0.0)) continue;
      m.push_back(live_[i]);
      x.push_back(pos[i]);
      v.push_back(vel[i]);
      p.push_back(pot.size() == live_.size() ? pot[i] : 0.0);
    }
    if (m.size() <= static_cast<std::size_t>(diagnostics::kDensityNeighbours)) return {};
    diagnostics::Snapshot s;
    s.n = m.size();
    s.m = m.data();
    s.x = x.data();
    s.v = v.data();
    s.pot = p.data();
    s.eps = eps_;
    *centre = diagnostics::core_diagnostics(s).centre;
    const fields::Bound b = fields::bound_mass(*field_, t, m, x, v, p, *centre);
    return fields::select_escapers(k_, b.r_jacobi, b.mass, *centre, live_, pos, vel, eps_);
  }

  // Rank 0's decision to every rank.
  void share(std::vector<int>& chosen, Vec3& centre) const {
    if (comm_.size() == 1) return;
    int count = static_cast<int>(chosen.size());
    comm_.broadcast(&count, 1);
    chosen.resize(static_cast<std::size_t>(count));
    if (count > 0) comm_.broadcast(chosen.data(), chosen.size());
    comm_.broadcast(centre.data(), 3);
  }

  const Comm& comm_;
  const fields::Field* field_;
  double k_, eps_, t0_;
  std::vector<double> live_;
  fields::EscapeTotals totals_;
  std::vector<fields::Escaper> records_;
  std::unique_ptr<HistoryFile> file_;
};

}  // namespace hermite
