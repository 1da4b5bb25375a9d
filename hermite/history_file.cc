#include "history_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace hermite {

std::FILE* reopen_history(const std::string& path, long long bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size < bytes) {
    const int err = errno;
    if (fd >= 0) ::close(fd);
    throw std::runtime_error(
        path + ": " +
        (fd < 0 ? std::string("cannot open: ") + std::strerror(err)
                : "holds fewer bytes than the checkpoint records (" + std::to_string(st.st_size) +
                      " of " + std::to_string(bytes) + ")") +
        "; the history up to the checkpoint is lost: name a new file to start one");
  }
  std::FILE* f = nullptr;
  if (::ftruncate(fd, static_cast<off_t>(bytes)) != 0 ||
      ::lseek(fd, static_cast<off_t>(bytes), SEEK_SET) < 0 || (f = ::fdopen(fd, "w")) == nullptr) {
    const int err = errno;
    ::close(fd);
    throw std::runtime_error(path + ": cannot continue the file: " + std::strerror(err));
  }
  return f;
}

}  // namespace hermite
