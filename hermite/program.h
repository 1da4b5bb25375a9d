// The integrator program of one order: options, model file, the run with
// its progress lines, energy history and snapshots, and the summary.
#pragma once

#include <cmath>
#include <cstdio>
#include <exception>
#include <string>

#include "comm.h"
#include "integrator.h"
#include "library_backend.h"
#include "model.h"
#include "options.h"
#include "radii.h"
#include "report.h"

namespace hermite {

template <class Lib>
int program_main(int argc, char** argv) {
  constexpr int K = Lib::kDerivs;
  Comm comm(&argc, &argv);
  const std::string name = "hermite" + std::to_string(Lib::kOrder);
  Options opt;
  try {
    opt = parse_options(argc, argv);
  } catch (const UsageError& e) {
    if (comm.root()) std::fprintf(stderr, "%s: %s (see --help)\n", name.c_str(), e.what());
    return 2;
  }
  if (opt.eta == 0.0) opt.eta = default_eta(Lib::kOrder);
  if (opt.help) {
    if (comm.root()) std::fputs(usage(name, Lib::kOrder).c_str(), stdout);
    return 0;
  }

  try {
    Model model = load_model(opt.input, comm);
    check_end_time(opt, model.time);
    Lib::bind(comm.rank());
    int js = 0, je = 0;
    comm.share(model.size(), js, je);
    LibraryBackend<Lib> backend(model.mass, js, je, opt.eps);
    Settings settings;
    settings.eta = opt.eta;
    settings.dt_max = opt.dt_max;
    settings.shared_dt = opt.shared_dt;
    Integrator<K, LibraryBackend<Lib>> integ(model, settings, backend, comm, js, je);

    RunInfo info;
    info.program = name;
    info.order = Lib::kOrder;
    info.n = model.size();
    info.ranks = comm.size();
    info.options = opt;
    info.t0 = model.time;
    Report report(info, comm);
    RadiiReport radii(opt.radii_csv, comm);
    report.header();

    const double clock0 = wtime();
    auto wall = [&] { return wtime() - clock0; };
    integ.start();
    const Energy e0 = integ.energy();
    report.output(model.time, e0, integ.counters(), wall());
    radii.output(model.time, model.mass, integ.positions());

    Model snap = model;
    for (long k = 1;; ++k) {
      const double tau = static_cast<double>(k) * opt.dt_out;
      // Step by step, so that a run whose steps stall still shows signs of
      // life. Only rank 0 prints and the clock decides nothing else, so
      // the ranks need not agree on it.
      double shown = wall();
      while (integ.time() < tau) {
        integ.step();
        if (opt.progress > 0.0 && wall() - shown >= opt.progress) {
          shown = wall();
          report.progress(model.time + integ.time(), integ.smallest_step(), integ.counters(),
                          shown);
        }
      }
      const Energy e = integ.energy();
      // Every rank holds the whole system; a disagreement would mean that
      // the ranks no longer advance the same particles.
      if (comm.max(e.total()) != comm.min(e.total())) {
        throw IntegrationError("the ranks disagree about the energy at t = " +
                               format_number(model.time + tau));
      }
      report.output(model.time + tau, e, integ.counters(), wall());
      radii.output(model.time + tau, model.mass, integ.positions());
      report.check_energy_limit();
      if (!opt.snapshots.empty()) {
        snap.number = model.number + static_cast<int>(k);
        snap.time = model.time + tau;
        snap.pos = integ.positions();
        snap.vel = integ.velocities();
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "%04d.inp", snap.number);
        const std::string path = opt.snapshots + suffix;
        on_root(comm, [&] { write_model(path, snap); });
      }
      if (model.time + tau >= opt.t_end) break;
    }
    report.summary();
  } catch (const std::exception& e) {
    if (comm.root()) std::fprintf(stderr, "%s: %s\n", name.c_str(), e.what());
    return 1;
  }
  return 0;
}

}  // namespace hermite
