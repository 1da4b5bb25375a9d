// The event log of the regularised subsystems (--encounters, CSV): one row
// per formation, change and end, and the checkpoint section that carries
// the subsystems with the criteria and the log's length.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "comm.h"
#include "history_file.h"
#include "options.h"
#include "regularisation.h"

namespace hermite {

// Columns: time,event,ids,a,e,binding. ids are the model's particle
// indices joined by ';' (the members; for "leave" the one that left comes
// first); a, e and the binding energy (positive: bound) are those of the
// subsystem's closest pair.
class EncounterLog {
 public:
  // Without a path, a log that writes nothing. resume_bytes >= 0 continues
  // a history at that length.
  EncounterLog(const std::string& path, const Comm& comm, long long resume_bytes);
  void write(const std::vector<EncounterEvent>& events);
  long long bytes() const { return file_ ? file_->bytes() : 0; }

 private:
  const Comm& comm_;
  std::unique_ptr<HistoryFile> file_;
};

// What the "subsystems" section of a checkpoint holds besides the
// integrator's bytes: the criteria of the run and the log's length.
struct EncounterSection {
  EncounterSettings settings;
  long long log_bytes = 0;
  std::string log_name;  // the log's file name when the checkpoint was written
  std::string state;  // the integrator's (IntegratorState::subsystems)
};

std::string encode_encounter_section(const EncounterSection& s);
// Throws std::runtime_error for bytes that are not such a section.
EncounterSection decode_encounter_section(const std::string& bytes);

// The criteria of the options.
EncounterSettings encounter_settings(const Options& o);

}  // namespace hermite
