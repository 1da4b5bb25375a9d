// The text model file and its safe replacement on disk.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "plummer.h"

namespace plummer {

bool write_model(std::FILE* out, std::int64_t n, const Particles& p, double* ek) {
  // Header: a zero, the particle count and the start time 0.0.
  if (std::fprintf(out, "%04d \n", 0) < 0) return false;
  if (std::fprintf(out, "%06lld \n", static_cast<long long>(n)) < 0) return false;
  if (std::fprintf(out, "%.16E \n", 0.0) < 0) return false;
  const double* m = p.m();
  const Vec3* x = p.x();
  const Vec3* v = p.v();
  for (std::int64_t i = 0; i < n; ++i) {
    if (std::fprintf(out, "%06lld   %.16E   % .16E % .16E % .16E   % .16E % .16E % .16E \n",
                     static_cast<long long>(i), m[i], x[i][0], x[i][1], x[i][2], v[i][0], v[i][1],
                     v[i][2]) < 0) {
      return false;
    }
    *ek += 0.5 * m[i] * (v[i][0] * v[i][0] + v[i][1] * v[i][1] + v[i][2] * v[i][2]);
  }
  return true;
}

std::string summary_line(std::int64_t n, double ek) {
  char line[160];
  std::snprintf(line, sizeof line, "N = %lld   EK = % .6E  EK_teor = % .6E  DE/EK = % .6E \n",
                static_cast<long long>(n), ek, kExpectedKineticEnergy,
                (ek - kExpectedKineticEnergy) / kExpectedKineticEnergy);
  return line;
}

AtomicFile::~AtomicFile() {
  if (stream_ != nullptr) abandon(0);
}

bool AtomicFile::open(const std::string& path, std::string* error) {
  path_ = path;
  // A name of our own next to the target, so the final rename stays within
  // one file system; created with the usual 0666 less umask.
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp_path_ = path + "." + std::to_string(::getpid()) + "." + std::to_string(attempt) + ".tmp";
    const int fd = ::open(temp_path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd >= 0) {
      stream_ = ::fdopen(fd, "w");
      if (stream_ != nullptr) return true;
      const int cause = errno;
      ::close(fd);
      ::unlink(temp_path_.c_str());
      errno = cause;
    }
    break;
  }
  *error = "cannot create '" + path + "': " + std::strerror(errno);
  return false;
}

bool AtomicFile::commit(std::string* error) {
  // Every step reports its own failure: a full disk may surface only when the
  // buffer is flushed or the data is synced, not at the formatted write.
  if (std::fflush(stream_) != 0 || ::fsync(::fileno(stream_)) != 0) {
    *error = abandon(errno);
    return false;
  }
  std::FILE* stream = stream_;
  stream_ = nullptr;
  if (std::fclose(stream) != 0 || std::rename(temp_path_.c_str(), path_.c_str()) != 0) {
    const int cause = errno;
    ::unlink(temp_path_.c_str());
    *error = "cannot write '" + path_ + "': " + std::strerror(cause);
    return false;
  }
  return true;
}

std::string AtomicFile::abandon(int cause) {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  ::unlink(temp_path_.c_str());
  return "cannot write '" + path_ + "': " + std::strerror(cause);
}

}  // namespace plummer
