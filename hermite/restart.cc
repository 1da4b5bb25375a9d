#include "restart.h"

#include <cstdio>

#include "report.h"

namespace hermite {
namespace {

std::string shown(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

}  // namespace

Checkpoint load_checkpoint(const std::string& path, const Comm& comm, int order) {
  std::string bytes, error;
  if (comm.root()) {
    try {
      bytes = read_file_bytes(path);
    } catch (const std::exception& e) {
      error = e.what();
    }
  }
  comm.broadcast(error);
  if (!error.empty()) throw CheckpointError(error);
  comm.broadcast(bytes);
  Checkpoint c = decode_checkpoint(bytes, path);
  if (c.order != order) {
    throw CheckpointError(path + ": a checkpoint of the order-" + std::to_string(c.order) +
                          " integrator; this is the order-" + std::to_string(order) + " one");
  }
  return c;
}

Options restart_options(const Options& given, const Checkpoint& c) {
  Options o = given;
  struct Shaping {
    const char* option;
    double Options::*field;
    double value;
  };
  const Shaping shaping[] = {{"--eps", &Options::eps, c.eps},
                             {"--eta", &Options::eta, c.eta},
                             {"--dt-max", &Options::dt_max, c.dt_max},
                             {"--shared-dt", &Options::shared_dt, c.shared_dt},
                             {"--dt-out", &Options::dt_out, c.dt_out},
                             {"--energy-limit", &Options::energy_limit, c.energy_limit}};
  for (const Shaping& s : shaping) {
    if (given.was_given(s.option) && given.*s.field != s.value) {
      throw UsageError(std::string(s.option) + " " + shown(given.*s.field) +
                       " differs from the checkpointed run's " + shown(s.value) +
                       "; a restart continues the run as it was");
    }
    o.*s.field = s.value;
  }
  if (given.have_input && given.input != c.input) {
    throw UsageError("the model file '" + given.input + "' is not the checkpointed run's ('" +
                     c.input + "'); with --restart the state comes from the checkpoint");
  }
  o.input = c.input;
  if (!given.was_given("--t-end")) o.t_end = c.t_end;
  if (!given.was_given("--energy")) o.energy_csv = c.energy_csv;
  if (!given.was_given("--radii")) o.radii_csv = c.radii_csv;
  if (!given.was_given("--core")) o.core_csv = c.core_csv;
  if (!given.was_given("--snapshots")) o.snapshots = c.snapshots;
  if (!given.was_given("--snapshot-format")) o.snapshot_format = c.snapshot_format;
  // Where the checkpoint goes: where asked, else back over the one read.
  if (!given.was_given("--checkpoint")) o.checkpoint = given.restart;
  return o;
}

Model checkpoint_model(const Checkpoint& c) {
  Model m;
  m.number = c.number0;
  m.time = c.t0;
  m.mass = c.mass;
  m.pos = c.state.x;
  m.vel = c.state.v;
  return m;
}

}  // namespace hermite
