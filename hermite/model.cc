#include "model.h"

#include <cstdint>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <sys/stat.h>

#include "hdf5_model.h"
#include "output_file.h"

namespace hermite {

void check_regular(const std::string& path) {
  // A directory opens as a stream that fails on its first read, a device
  // such as /dev/zero never ends, and opening a FIFO waits for a writer:
  // name each before opening.
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return;  // the open names the fault
  const char* kind = S_ISDIR(st.st_mode)                          ? "a directory"
                     : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                     : S_ISFIFO(st.st_mode)                       ? "a FIFO (named pipe)"
                     : S_ISSOCK(st.st_mode)                       ? "a socket"
                     : !S_ISREG(st.st_mode)                       ? "a special file"
                                                                  : nullptr;
  if (kind != nullptr) {
    throw ModelError(path + ": is " + std::string(kind) +
                     ", not a model file (a model is read from a regular file)");
  }
}

namespace {

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  std::string f;
  while (in >> f) out.push_back(f);
  return out;
}

bool blank(const std::string& line) { return fields_of(line).empty(); }

class Reader {
 public:
  explicit Reader(const std::string& path) : path_(path) {
    // A directory opens as a stream that fails on its first read, and a
    // device such as /dev/zero never ends: name either before reading.
    check_regular(path);
    in_.open(path);
    if (!in_) fail_file(std::string("cannot open: ") + std::strerror(errno));
  }

  // The next line, or false at the end of the file. A line longer than
  // kMaxModelLine characters is refused before it is held in memory whole.
  bool next(std::string& line) {
    line.clear();
    bool any = false;
    newline_ = false;
    for (int c; (c = in_.get()) != std::char_traits<char>::eof();) {
      any = true;
      if (c == '\n') {
        newline_ = true;
        break;
      }
      if (line.size() >= kMaxModelLine) {
        ++line_no_;
        fail("the line is longer than " + std::to_string(kMaxModelLine) +
             " characters; this is not a model file");
      }
      line.push_back(static_cast<char>(c));
    }
    if (!any) return false;
    ++line_no_;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  }

  [[noreturn]] void fail(const std::string& what) const {
    throw ModelError(path_ + ":" + std::to_string(line_no_) + ": " + what);
  }
  [[noreturn]] void fail_file(const std::string& what) const {
    throw ModelError(path_ + ": " + what);
  }
  // Whether the line last read ended with a newline (the last line of a
  // file may not).
  bool newline() const { return newline_; }
  const std::string& path() const { return path_; }
  // Points the messages at the line that is missing.
  void past_end() { ++line_no_; }

  long integer(const std::string& text, const char* what) const {
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || errno == ERANGE) {
      fail(std::string("expected an integer for the ") + what + ", found '" + text + "'");
    }
    return v;
  }

  double real(const std::string& text, const char* what) const {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0') {
      fail(std::string("expected a number for the ") + what + ", found '" + text + "'");
    }
    if (!std::isfinite(v)) fail(std::string("the ") + what + " is not finite ('" + text + "')");
    return v;
  }

  // A header line holding exactly one value.
  std::string header(const char* what) {
    std::string line;
    if (!next(line)) {
      past_end();
      fail(std::string("the file ends before the ") + what + " header line");
    }
    const auto f = fields_of(line);
    if (f.size() != 1) {
      fail(std::string("expected the ") + what + " alone on the line, found " +
           std::to_string(f.size()) + " fields");
    }
    return f[0];
  }

 private:
  std::string path_;
  std::ifstream in_;
  int line_no_ = 0;
  bool newline_ = false;
};

// Width of a particle line as written: its length less trailing blanks.
std::size_t width_of(const std::string& line) {
  const auto last = line.find_last_not_of(" \t");
  return last == std::string::npos ? 0 : last + 1;
}

const char* const kParticleFields[8] = {"index", "mass", "x", "y", "z", "vx", "vy", "vz"};

}  // namespace

Model read_model(const std::string& path, std::vector<std::string>* warnings) {
  check_regular(path);
  if (fileio::is_hdf5_file(path)) {
    fileio::ModelData d;
    try {
      d = fileio::read_hdf5_model(path);
    } catch (const fileio::FileError& e) {
      throw ModelError(e.what());
    }
    Model m;
    m.number = d.number;
    m.time = d.time;
    m.mass = std::move(d.mass);
    const std::size_t n = m.mass.size();
    m.pos.resize(n);
    m.vel.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
      for (int c = 0; c < 3; ++c) {
        m.pos[i][static_cast<std::size_t>(c)] = d.pos[3 * i + static_cast<std::size_t>(c)];
        m.vel[i][static_cast<std::size_t>(c)] = d.vel[3 * i + static_cast<std::size_t>(c)];
      }
    }
    return m;
  }
  Reader r(path);
  Model m;
  const long number = r.integer(r.header("snapshot number"), "snapshot number");
  if (number < 0 || number > 2147483647L) r.fail("the snapshot number is out of range");
  m.number = static_cast<int>(number);
  const long n = r.integer(r.header("particle count"), "particle count");
  if (n <= 0) r.fail("the particle count must be positive, found " + std::to_string(n));
  if (n > 100000000L) r.fail("the particle count " + std::to_string(n) + " is too large");
  m.time = r.real(r.header("time"), "time");

  m.mass.reserve(static_cast<std::size_t>(n));
  m.pos.reserve(static_cast<std::size_t>(n));
  m.vel.reserve(static_cast<std::size_t>(n));
  std::string line;
  // Widths of the particle lines: one width throughout when a program
  // wrote the file, so a last line of another width and without its line
  // end was cut short (a truncated number still reads as a number:
  // -1.5432E-0, or -1.5). Lines written by hand end in a newline as a rule
  // and may differ in width.
  std::size_t width = 0;
  bool one_width = true;
  for (long i = 0; i < n; ++i) {
    if (!r.next(line)) {
      r.past_end();
      r.fail("the file ends after " + std::to_string(i) + " of " + std::to_string(n) +
             " particle lines");
    }
    const auto f = fields_of(line);
    if (f.size() != 8) {
      r.fail("expected 8 fields (index, mass, x, y, z, vx, vy, vz), found " +
             std::to_string(f.size()));
    }
    if (r.integer(f[0], "index") != i) {
      r.fail("expected particle index " + std::to_string(i) + ", found '" + f[0] + "'");
    }
    double v[8];
    for (int k = 1; k < 8; ++k) v[k] = r.real(f[static_cast<std::size_t>(k)], kParticleFields[k]);
    if (!(v[1] > 0.0)) r.fail("the mass must be positive, found '" + f[1] + "'");
    if (i + 1 < n || n == 1) {
      if (i == 0) width = width_of(line);
      one_width = one_width && width_of(line) == width;
    } else if (one_width && width_of(line) != width && !r.newline()) {
      r.fail("the last particle line is " + std::to_string(width_of(line)) +
             " characters wide where every other is " + std::to_string(width) +
             ", and has no line end: the file looks cut short");
    }
    m.mass.push_back(v[1]);
    m.pos.push_back(Vec3{v[2], v[3], v[4]});
    m.vel.push_back(Vec3{v[5], v[6], v[7]});
  }
  bool newline = r.newline();
  while (r.next(line)) {
    if (!blank(line)) {
      r.fail("unexpected text after the last of the " + std::to_string(n) + " particles");
    }
    newline = r.newline();
  }
  if (!newline) {
    const std::string warning =
        path + ": the file does not end with a newline; check that it is complete";
    if (warnings != nullptr) {
      warnings->push_back(warning);
    } else {
      std::fprintf(stderr, "warning: %s\n", warning.c_str());
    }
  }
  return m;
}

namespace {

void write_text(const std::string& path, const Model& model) {
  fileio::OutputFile out(path);
  std::FILE* f = out.stream();
  bool ok = std::fprintf(f, "%04d \n%06d \n%.16E \n", model.number, model.size(), model.time) > 0;
  for (int i = 0; ok && i < model.size(); ++i) {
    const auto k = static_cast<std::size_t>(i);
    const Vec3& x = model.pos[k];
    const Vec3& v = model.vel[k];
    const int id = model.ids.empty() ? i : model.ids[k];
    ok = std::fprintf(f, "%06d   %.16E   % .16E % .16E % .16E   % .16E % .16E % .16E \n", id,
                      model.mass[k], x[0], x[1], x[2], v[0], v[1], v[2]) > 0;
  }
  if (!ok) {
    const int err = errno;
    out.abandon();
    throw ModelError(path + ": write failed: " + std::strerror(err));
  }
  out.commit();
}

}  // namespace

void write_model(const std::string& path, const Model& model, ModelFormat format,
                 const ModelTags& tags) {
  const bool hdf5 =
      format == ModelFormat::kHdf5 || (format == ModelFormat::kByName && fileio::hdf5_name(path));
  try {
    if (!hdf5) return write_text(path, model);
    fileio::ModelView view;
    view.n = model.size();
    view.mass = model.mass.data();
    view.pos = model.pos.data()->data();
    view.vel = model.vel.data()->data();
    view.time = model.time;
    view.number = model.number;
    std::vector<std::int64_t> ids(model.ids.begin(), model.ids.end());
    if (!ids.empty()) view.ids = ids.data();
    view.order = tags.order;
    view.eps = tags.eps;
    for (const auto& [name, text] :
         {std::pair<const char*, const std::string&>{"program", tags.program},
          {"version", tags.version},
          {"command", tags.command}}) {
      if (!text.empty()) view.text_attributes.emplace_back(name, text);
    }
    fileio::write_hdf5_model(path, view);
  } catch (const fileio::FileError& e) {
    throw ModelError(e.what());
  }
}

}  // namespace hermite
