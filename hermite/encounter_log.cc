#include "encounter_log.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "report.h"
#include "section_bytes.h"

namespace hermite {

EncounterLog::EncounterLog(const std::string& path, const Comm& comm, long long resume_bytes)
    : comm_(comm) {
  if (path.empty()) return;
  on_root(comm_, [&] {
    file_ = resume_bytes >= 0 ? std::make_unique<HistoryFile>(path, resume_bytes)
                              : std::make_unique<HistoryFile>(path, "time,event,ids,a,e,binding");
  });
}

void EncounterLog::write(const std::vector<EncounterEvent>& events) {
  if (!file_ || events.empty()) return;
  on_root(comm_, [&] {
    for (const EncounterEvent& ev : events) {
      std::string ids;
      for (int i : ev.ids) ids += (ids.empty() ? "" : ";") + std::to_string(i);
      std::fprintf(file_->file(), "%.17g,%s,%s,%.9e,%.9e,%.9e", ev.t, ev.kind.c_str(), ids.c_str(),
                   ev.a, ev.e, ev.binding);
      file_->end_row();
    }
  });
}

std::string encode_encounter_section(const EncounterSection& s) {
  std::string out;
  auto put = [&out](const auto& v) { put_bytes(out, v); };
  put(std::uint32_t{2});
  put(static_cast<std::uint8_t>(s.settings.on ? 1 : 0));
  for (double v : {s.settings.r_cl, s.settings.dt_cl, s.settings.gamma_min, s.settings.gamma_max,
                   s.settings.gamma_slow}) {
    put(v);
  }
  put(static_cast<std::int64_t>(s.log_bytes));
  put(static_cast<std::uint64_t>(s.log_name.size()));
  out += s.log_name;
  out += s.state;
  return out;
}

EncounterSection decode_encounter_section(const std::string& b) {
  EncounterSection s;
  SectionReader in(b, "the subsystems section is truncated");
  auto get = [&in](auto& v) { in.get(v); };
  std::uint32_t format = 0;
  get(format);
  if (format != 1 && format != 2) {
    throw std::runtime_error("the subsystems section has an unknown format");
  }
  std::uint8_t on = 0;
  get(on);
  s.settings.on = on != 0;
  for (double* v :
       {&s.settings.r_cl, &s.settings.dt_cl, &s.settings.gamma_min, &s.settings.gamma_max}) {
    get(*v);
  }
  // Format 1 predates the slow-down: such a run continues without it.
  s.settings.gamma_slow = 0.0;
  if (format >= 2) get(s.settings.gamma_slow);
  std::int64_t bytes = 0;
  get(bytes);
  if (bytes < 0) throw std::runtime_error("the subsystems section has a negative log length");
  s.log_bytes = bytes;
  std::uint64_t name = 0;
  get(name);
  s.log_name = in.take(name);
  s.state = in.take(in.left());
  return s;
}

EncounterSettings encounter_settings(const Options& o) {
  EncounterSettings e;
  e.on = regularised(o);
  e.r_cl = o.r_cl;
  e.dt_cl = o.dt_cl;
  e.gamma_min = o.gamma_min;
  e.gamma_max = o.gamma_max;
  e.gamma_slow = o.gamma_slow;
  return e;
}

}  // namespace hermite
