#include "history_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "output_file.h"

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

std::FILE* create_history(const std::string& path) {
  int fd = -1;
  try {
    fd = fileio::open_in_place(path, O_CREAT | O_TRUNC);
  } catch (const fileio::FileError& e) {
    throw std::runtime_error(e.what());
  }
  std::FILE* f = ::fdopen(fd, "w");
  if (f == nullptr) {
    const int err = errno;
    ::close(fd);
    throw std::runtime_error(path + ": cannot create: " + std::strerror(err));
  }
  return f;
}

HistoryFile::HistoryFile(const std::string& path, const std::string& header)
    : path_(path), file_(create_history(path)) {
  std::fputs(header.c_str(), file_);
  end_row();
}

HistoryFile::HistoryFile(const std::string& path, long long bytes)
    : path_(path), file_(reopen_history(path, bytes)), bytes_(bytes) {}

HistoryFile::~HistoryFile() {
  if (file_ != nullptr) std::fclose(file_);
}

void HistoryFile::end_row() {
  std::fputs("\n", file_);
  if (std::ferror(file_) != 0 || std::fflush(file_) != 0) {
    throw std::runtime_error(path_ + ": write failed: " + std::strerror(errno));
  }
  bytes_ = std::ftell(file_);
}

}  // namespace hermite
