// The integrator program of one order: options, model file or checkpoint,
// the run with its progress lines, energy history, snapshots and
// checkpoints, a stop on a scheduler's signal, and the summary.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "checkpoint.h"
#include "comm.h"
#include "core_report.h"
#include "encounter_log.h"
#include "field_run.h"
#include "integrator.h"
#include "mass_groups.h"
#include "mass_groups_section.h"
#include "model.h"
#include "nbforce_version.h"
#include "options.h"
#include "output_checks.h"
#include "output_file.h"
#include "radii.h"
#include "report.h"
#include "resident_backend.h"
#include "restart.h"
#include "softening.h"
#include "stop_signal.h"

namespace hermite {

// Called after every block step: whether a stop signal reached any rank,
// its number then, the same on every rank. Several ranks vote without
// waiting (a blocking vote would add a round trip to every block step):
// the outcome of the vote after step s is known after step s + 1, where
// all ranks stop together.
inline int agreed_stop_signal(Comm& comm) {
  if (comm.size() == 1) return stop_signal();
  return comm.vote_max(stop_signal());
}

// A standard stream closed at the start would hand its descriptor to the
// first file opened, which would then receive the progress lines. Returns
// false where standard output was closed; the descriptors are taken by
// /dev/null either way.
inline bool keep_standard_streams() {
  bool out_open = true;
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == 1) out_open = false;
    const int nul = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (nul >= 0 && nul != fd) {
      ::dup2(nul, fd);
      ::close(nul);
    }
  }
  return out_open;
}

// The mass groups of --mass-groups, assigned once from the masses at the
// run's start. A continued run keeps the checkpoint's (section
// "mass_groups": boundaries and members), and --mass-groups with other
// boundaries is refused. A checkpoint without the section (of a run without
// groups, or of an older build) gives --mass-groups the masses it holds,
// the model's at the run's start.
inline MassGroups mass_groups_setup(Options& opt, const Model& model, const Checkpoint* ck) {
  if (ck != nullptr) {
    const auto it = ck->sections.find(kMassGroupsSection);
    if (it != ck->sections.end()) {
      MassGroups g;
      try {
        g = decode_mass_groups_section(it->second, model.mass.size());
      } catch (const std::exception& e) {
        throw CheckpointError(opt.restart + ": " + e.what());
      }
      if (opt.was_given("--mass-groups") && opt.mass_groups != g.bounds) {
        throw UsageError(
            "--mass-groups differs from the checkpointed run's groups; a restart continues the "
            "run as it was");
      }
      opt.mass_groups = g.bounds;
      return g;
    }
  }
  if (opt.mass_groups.empty()) return {};
  return {opt.mass_groups,
          diagnostics::assign_mass_groups(model.mass.data(), model.mass.size(), opt.mass_groups)};
}

template <class Lib>
int program_main(int argc, char** argv) {
  constexpr int K = Lib::kDerivs;
  const bool stdout_open = keep_standard_streams();
  // Before MPI starts, which takes a while: a signal from then on stops the
  // run after its first block step.
  catch_stop_signals();
  Comm comm(&argc, &argv);
  const std::string name = "hermite" + std::to_string(Lib::kOrder);
  // The command that continues a stopped run names the program as it was
  // started (hermite4_host, a copy, a link), not the order's usual name.
  std::string invoked = argc > 0 && argv[0] != nullptr ? argv[0] : name;
  if (invoked.find('/') != std::string::npos) invoked = invoked.substr(invoked.rfind('/') + 1);
  if (invoked.empty()) invoked = name;
  Options opt;
  fields::FieldOptions field_opt;
  try {
    field_opt = fields::take_field_options(argc, argv);
    opt = parse_options(argc, argv);
  } catch (const std::runtime_error& e) {  // UsageError, FieldUsageError
    if (comm.root()) std::fprintf(stderr, "%s: %s (see --help)\n", name.c_str(), e.what());
    return 2;
  }
  if (opt.eta == 0.0) opt.eta = default_eta(Lib::kOrder);
  const std::string eta_note = eta_warning(opt.eta, Lib::kOrder);
  if (!eta_note.empty() && comm.root() && !opt.help) {
    std::fprintf(stderr, "%s: warning: %s\n", name.c_str(), eta_note.c_str());
  }
  if (opt.version) {
    if (comm.root()) std::printf("%s %s\n", invoked.c_str(), NBFORCE_VERSION_TEXT);
    return 0;
  }
  if (opt.help) {
    if (comm.root()) std::fputs((usage(name, Lib::kOrder) + fields::field_usage()).c_str(), stdout);
    return 0;
  }
  if (!stdout_open) {
    if (comm.root()) std::fprintf(stderr, "%s: the standard output is closed\n", name.c_str());
    return 1;
  }

  // The snapshots' provenance (HDF5 attributes): program, version and the
  // command line as given.
  ModelTags tags{Lib::kOrder, opt.eps, invoked, NBFORCE_VERSION_TEXT, ""};
  for (int i = 0; i < argc; ++i) tags.command += (i > 0 ? " " : "") + std::string(argv[i]);
  int status = 0;
  try {
    // A new run starts from its model file, a continued one from its
    // checkpoint, which also fixes the options that shape the run.
    std::unique_ptr<Checkpoint> ck;
    Model model;
    if (!opt.restart.empty()) {
      ck = std::make_unique<Checkpoint>(load_checkpoint(opt.restart, comm, Lib::kOrder));
      try {
        opt = restart_options(opt, *ck);
      } catch (const UsageError& e) {
        if (comm.root()) std::fprintf(stderr, "%s: %s\n", name.c_str(), e.what());
        return 2;
      }
      model = checkpoint_model(*ck);
      if (!(opt.t_end > model.time + ck->state.time)) {
        throw UsageError("the checkpoint is at t = " + format_number(model.time + ck->state.time) +
                         ", not before the end time " + format_number(opt.t_end) +
                         ": give a later --t-end");
      }
    } else {
      model = load_model(opt.input, comm);
    }
    check_end_time(opt, model.time);
    // Regularised subsystems: the criteria of the options, or of the
    // checkpointed run, which a restart keeps.
    EncounterSettings enc = encounter_settings(opt);
    EncounterSection section;
    bool have_section = false;
    if (ck) {
      const auto it = ck->sections.find("subsystems");
      have_section = it != ck->sections.end();
      if (have_section) {
        try {
          section = decode_encounter_section(it->second);
        } catch (const std::exception& e) {
          throw CheckpointError(opt.restart + ": " + e.what());
        }
        ck->state.subsystems = section.state;
        if (!opt.was_given("--encounters")) opt.encounters_csv = section.log_name;
      }
      const auto tree = ck->sections.find(kNeighbourTreeSection);
      if (tree != ck->sections.end()) ck->state.neighbour_tree = tree->second;
      const EncounterSettings kept = have_section ? section.settings : EncounterSettings{};
      for (const char* o :
           {"--regularise", "--rcl", "--dtcl", "--gamma-min", "--gamma-max", "--gamma-slow"}) {
        if (opt.was_given(o) &&
            (enc.on != kept.on || enc.r_cl != kept.r_cl || enc.dt_cl != kept.dt_cl ||
             enc.gamma_min != kept.gamma_min || enc.gamma_max != kept.gamma_max ||
             enc.gamma_slow != kept.gamma_slow)) {
          throw UsageError(std::string(o) +
                           " differs from the checkpointed run's regularisation; a restart "
                           "continues the run as it was");
        }
      }
      enc = kept;
    }
    // The softening against the particles in the integration: resting
    // slots of a checkpoint lie parked far away.
    std::vector<double> live_mass;
    std::vector<Vec3> live_pos;
    for (std::size_t i = 0; i < model.mass.size(); ++i) {
      if (ck && !ck->state.alive.empty() && ck->state.alive[i] == 0) continue;
      live_mass.push_back(model.mass[i]);
      live_pos.push_back(model.pos[i]);
    }
    const std::string eps_fault = softening_fault(opt.eps, live_mass, live_pos);
    if (!eps_fault.empty()) throw UsageError(eps_fault + " (--eps)");
    const fields::FieldSetup field = field_setup(field_opt, model, ck.get());
    opt.escapers_csv = field.field ? field.options.escapers : std::string();
    // The stars that left a continued run: its section, which every run in
    // a field writes.
    const std::string* escaper_section = nullptr;
    if (ck && field.field) {
      const auto it = ck->sections.find(fields::kEscaperSection);
      if (it == ck->sections.end()) {
        throw CheckpointError(opt.restart +
                              ": the run has an external field but the checkpoint holds no "
                              "escapers section (written by an older build)");
      }
      escaper_section = &it->second;
    }
    const MassGroups groups = mass_groups_setup(opt, model, ck.get());
    const long long first_output = ck ? ck->next_output : 1;
    const long long outputs =
        static_cast<long long>(std::ceil((opt.t_end - model.time) / opt.dt_out));
    on_root(comm, [&] {
      const std::vector<std::string> reads = ck ? std::vector<std::string>{opt.restart, ck->input}
                                                : std::vector<std::string>{opt.input};
      check_outputs(opt, reads, model.number + first_output, model.number + outputs);
    });

    Lib::bind(comm.local_rank());
    int js = 0, je = 0;
    comm.share(model.size(), js, je);
    ResidentBackend<Lib> backend(model.mass, js, je, opt.eps, opt.resident);
    Settings settings;
    settings.eta = opt.eta;
    settings.dt_max = opt.dt_max;
    settings.shared_dt = opt.shared_dt;
    settings.eps = opt.eps;
    settings.encounters = enc;
    settings.field = field.field.get();
    Integrator<K, ResidentBackend<Lib>> integ(model, settings, backend, comm, js, je);

    RunInfo info;
    info.program = name;
    info.order = Lib::kOrder;
    info.n = model.size();
    info.ranks = comm.size();
    info.options = opt;
    info.t0 = model.time;
    // A continued history keeps its rows up to the checkpoint; under a new
    // name it starts afresh.
    Report report(info, comm, ck ? &ck->report : nullptr, !ck || ck->energy_csv != opt.energy_csv);
    RadiiReport radii(opt.radii_csv, comm,
                      ck && ck->radii_csv == opt.radii_csv ? ck->radii_bytes : -1);
    CoreReport core(opt.core_csv, comm, model.size(), opt.eps,
                    ck && ck->core_csv == opt.core_csv ? ck->core_bytes : -1,
                    // Kept groups go on in the checkpoints of a run without --core.
                    opt.core_csv.empty() && !opt.was_given("--mass-groups") ? MassGroups{} : groups,
                    field.field.get(), model.time);
    Escapes escapes(field, comm, opt.eps, model.time, model.mass, escaper_section, true);
    if (field.field && comm.root()) std::printf("%s: %s\n", name.c_str(), field.line.c_str());
    report.header();
    EncounterLog encounter_log(
        opt.encounters_csv, comm,
        have_section && opt.encounters_csv == section.log_name ? section.log_bytes : -1);

    const double clock0 = wtime() - (ck ? ck->wall : 0.0);
    auto wall = [&] { return wtime() - clock0; };
    if (ck) {
      integ.import_state(ck->state);
      integ.forget(escapes.departed());
      if (comm.root()) {
        std::printf("%s: continued from %s at t = %s\n", name.c_str(), opt.restart.c_str(),
                    format_number(model.time + integ.time()).c_str());
        std::fflush(stdout);
      }
    } else {
      integ.start();
      if (enc.on && comm.root()) {
        const EncounterScale& sc = integ.encounter_scale();
        std::printf(
            "%s: regularised subsystems: R_cl = %s%s, dt_cl = %s, gamma_min = %s, "
            "gamma_max = %s, gamma_slow = %s\n",
            name.c_str(), format_number(sc.r_cl).c_str(),
            enc.r_cl > 0.0 ? "" : " (4 r_h / N, less in a dense core, every time unit)",
            format_number(sc.dt_cl).c_str(), format_number(enc.gamma_min).c_str(),
            format_number(enc.gamma_max).c_str(),
            enc.gamma_slow > 0.0 ? format_number(enc.gamma_slow).c_str() : "0 (no slow-down)");
        std::fflush(stdout);
        // The softening does not apply inside a subsystem: a pair that
        // forms at R_cl changes its mutual potential by this fraction,
        // and dE/E shows it as an error.
        const double eps = opt.eps;
        const double unsoftened =
            eps > 0.0 ? std::sqrt(sc.r_cl * sc.r_cl + eps * eps) / sc.r_cl - 1.0 : 0.0;
        if (unsoftened > 1e-3) {
          std::fprintf(stderr,
                       "%s: warning: a pair that forms is no longer softened: at R_cl = %s its "
                       "potential deepens by %.3g of the softened one (eps = %s), which dE/E "
                       "shows; take eps well below R_cl / 20, or --eps 0\n",
                       name.c_str(), format_number(sc.r_cl).c_str(), unsoftened,
                       format_number(eps).c_str());
        }
      }
      Energy e0 = energy_with_field(integ, field.field.get(), model.mass);
      escapes.book(e0);
      report.output(model.time, e0, integ.counters(), wall());
      radii.output(model.time, model.mass, integ.positions());
      core.output(model.time, model.mass, integ.positions(), integ.velocities(),
                  integ.potentials());
    }
    ck.reset();

    // The checkpoint of the run as it stands, heading for output k.
    auto save = [&](long long k) {
      if (opt.checkpoint.empty()) return;
      on_root(comm, [&] {
        Checkpoint c;
        c.order = Lib::kOrder;
        c.eps = opt.eps;
        c.eta = opt.eta;
        c.dt_max = opt.dt_max;
        c.shared_dt = opt.shared_dt;
        c.dt_out = opt.dt_out;
        c.energy_limit = opt.energy_limit;
        c.t_end = opt.t_end;
        c.input = opt.input;
        c.energy_csv = opt.energy_csv;
        c.snapshots = opt.snapshots;
        c.snapshot_format = opt.snapshot_format;
        c.radii_csv = opt.radii_csv;
        c.t0 = model.time;
        c.number0 = model.number;
        c.next_output = k;
        c.radii_bytes = radii.bytes();
        c.core_csv = opt.core_csv;
        c.core_bytes = core.bytes();
        c.wall = wall();
        c.report = report.state();
        c.mass = model.mass;
        c.state = integ.export_state();
        if (field.field) {
          c.sections[fields::kFieldSection] =
              fields::encode_field_section(field.options, field.field->work());
          c.sections[fields::kEscaperSection] = escapes.section();
        }
        if (enc.on) {
          EncounterSection es;
          es.settings = enc;
          es.log_bytes = encounter_log.bytes();
          es.state = c.state.subsystems;
          es.log_name = opt.encounters_csv;
          c.sections["subsystems"] = encode_encounter_section(es);
        }
        if (!groups.empty()) c.sections[kMassGroupsSection] = encode_mass_groups_section(groups);
        c.state.subsystems.clear();
        if (!c.state.neighbour_tree.empty())
          c.sections[kNeighbourTreeSection] = std::move(c.state.neighbour_tree);
        c.state.neighbour_tree.clear();
        fileio::write_file(opt.checkpoint, encode_checkpoint(c));
      });
    };

    Model snap = model;
    int stopped = 0;
    for (long long k = first_output;; ++k) {
      const double tau = static_cast<double>(k) * opt.dt_out;
      // Step by step, so that a run whose steps stall still shows signs of
      // life. Only rank 0 prints and the clock decides nothing else, so
      // the ranks need not agree on it.
      double shown = wall();
      while (integ.time() < tau) {
        integ.step();
        if (!integ.events().empty()) {
          encounter_log.write(integ.events());
          integ.clear_events();
        }
        stopped = agreed_stop_signal(comm);
        if (stopped != 0) break;
        if (opt.progress > 0.0 && wall() - shown >= opt.progress) {
          shown = wall();
          report.progress(model.time + integ.time(), integ.smallest_step(), integ.counters(),
                          shown);
        }
      }
      if (stopped != 0) {
        save(k);
        if (comm.root()) {
          const std::string where = "at t = " + format_number(model.time + integ.time()) +
                                    " after block step " +
                                    std::to_string(integ.counters().block_steps);
          if (opt.checkpoint.empty()) {
            std::fprintf(stderr,
                         "%s: stopped by %s %s; no --checkpoint was given, so the run "
                         "cannot be continued\n",
                         name.c_str(), signal_name(stopped), where.c_str());
          } else {
            std::fprintf(stderr, "%s: stopped by %s %s; continue with: %s --restart %s\n",
                         name.c_str(), signal_name(stopped), where.c_str(), invoked.c_str(),
                         opt.checkpoint.c_str());
          }
        }
        status = 128 + stopped;
        break;
      }
      // Stars beyond the escape radius leave now, every particle being at
      // the output time; the outputs show those that stay.
      const Energy e =
          escapes.apply(integ, energy_with_field(integ, field.field.get(), escapes.live_masses()));
      const std::vector<double>& live = escapes.live_masses();
      // Every rank holds the whole system; a disagreement would mean that
      // the ranks no longer advance the same particles.
      if (comm.max(e.total()) != comm.min(e.total())) {
        throw IntegrationError("the ranks disagree about the energy at t = " +
                               format_number(model.time + tau));
      }
      report.output(model.time + tau, e, integ.counters(), wall());
      radii.output(model.time + tau, live, integ.positions());
      core.output(model.time + tau, live, integ.positions(), integ.velocities(),
                  integ.potentials());
      report.check_energy_limit();
      if (!opt.snapshots.empty()) {
        snap.number = static_cast<int>(model.number + k);  // bounded by check_outputs
        snap.time = model.time + tau;
        snap.pos = integ.positions();
        snap.vel = field.field && field.options.inertial_velocities
                       ? fields::inertial_velocities(*field.field, snap.pos, integ.velocities())
                       : integ.velocities();
        // The stars still in the cluster, under their model ids.
        snap.mass = model.mass;
        snap.ids.clear();
        if (escapes.any_left()) keep_live(snap, live);
        const std::string path = snapshot_name(opt, snap.number);
        const ModelFormat format = hdf5_snapshots(opt) ? ModelFormat::kHdf5 : ModelFormat::kText;
        on_root(comm, [&] {
          tags.eps = opt.eps;
          write_model(path, snap, format, tags);
        });
      }
      save(k + 1);
      if (model.time + tau >= opt.t_end) break;
    }
    if (status == 0) report.summary();
  } catch (const std::exception& e) {
    if (comm.root()) std::fprintf(stderr, "%s: %s\n", name.c_str(), e.what());
    status = 1;
  }
  // A full disk or a closed pipe must not pass for a finished run.
  if (comm.root() && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
    std::fprintf(stderr, "%s: cannot write the standard output: %s\n", name.c_str(),
                 std::strerror(errno));
    if (status == 0) status = 1;
  }
  return status;
}

}  // namespace hermite
