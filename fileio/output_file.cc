#include "output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace fileio {
namespace {

// The name of the temporary file while one exists under a name, for
// remove_pending_temp() in a signal handler.
char g_pending[PATH_MAX + 64];
volatile sig_atomic_t g_have_pending = 0;

void set_pending(const std::string& name) {
  g_have_pending = 0;
  if (name.size() >= sizeof g_pending) return;
  std::memcpy(g_pending, name.c_str(), name.size() + 1);
  g_have_pending = 1;
}

void clear_pending() { g_have_pending = 0; }

// "cannot create 'PATH': reason", the form plummer_gen has always used.
[[noreturn]] void fail(const std::string& path, const std::string& what, int err) {
  throw FileError(what + " '" + path + "'" +
                  (err != 0 ? std::string(": ") + std::strerror(err) : ""));
}

// PATH with every symbolic link of its last component followed; the target
// need not exist (a dangling link names the file to create).
std::string follow_links(const std::string& path) {
  std::string p = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
    char buf[PATH_MAX];
    const ssize_t len = ::readlink(p.c_str(), buf, sizeof buf - 1);
    if (len < 0) fail(path, "cannot read the symbolic link", errno);
    buf[len] = '\0';
    p = buf[0] == '/' ? std::string(buf) : folder_of(p) + "/" + buf;
  }
  fail(path, "too many levels of symbolic links", ELOOP);
}

// Syncs the folder so that the rename itself survives a crash.
void sync_folder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

int open_in_place(const std::string& path, int flags, unsigned mode) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | flags, mode);
  if (fd < 0 && errno == ENXIO) {
    throw FileError("no process reads the FIFO '" + path +
                    "': start its reader first (a FIFO is not waited on)");
  }
  if (fd < 0) fail(path, "cannot open for writing", errno);
  const int fl = ::fcntl(fd, F_GETFL);
  if (fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) < 0) {
    const int err = errno;
    ::close(fd);
    fail(path, "cannot open for writing", err);
  }
  return fd;
}

std::string folder_of(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

OutputFile::OutputFile(const std::string& path) : path_(path) {
  if (path.empty()) fail("", "no file name given for", 0);
  target_ = follow_links(path);
  struct stat st;
  const bool exists = ::stat(target_.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) fail(path, "cannot inspect", errno);
  int fd = -1;
  if (exists && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
    fd = open_in_place(target_, O_NOCTTY);
    in_place_ = true;
  } else if (exists && !S_ISREG(st.st_mode)) {
    const char* kind = S_ISDIR(st.st_mode)   ? "it is a directory"
                       : S_ISBLK(st.st_mode) ? "it is a block device"
                                             : "it is neither a regular file, a FIFO nor a device";
    throw FileError("refusing to write '" + path + "': " + kind);
  } else {
    const std::string folder = folder_of(target_);
    // 0666 less the umask for a new file, as a plain fopen would create it.
    fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    unnamed_ = fd >= 0;
    if (fd < 0) {
      // No unnamed files here (some file systems): a name of our own next
      // to the target, so that the rename stays within one file system.
      for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp_ = target_ + "." + std::to_string(::getpid()) + "." + std::to_string(attempt) + ".tmp";
        set_pending(temp_);
        fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
      }
      if (fd < 0) {
        const int err = errno;
        clear_pending();
        fail(path, "cannot create", err);
      }
    }
    if (exists) {
      // Keep the replaced file's owner (where permitted) and its mode.
      if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
        // Not the owner's process: the file becomes ours, as on any rewrite.
      }
      if (::fchmod(fd, st.st_mode & 07777) != 0) {
        const int err = errno;
        ::close(fd);
        abandon();
        fail(path, "cannot set the mode", err);
      }
    }
  }
  stream_ = ::fdopen(fd, "w");
  if (stream_ == nullptr) {
    const int err = errno;
    ::close(fd);
    abandon();
    fail(path, "cannot open a stream", err);
  }
}

OutputFile::~OutputFile() { abandon(); }

void OutputFile::abandon() noexcept {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
    clear_pending();
  }
}

void OutputFile::commit() {
  if (stream_ == nullptr) fail(path_, "commit of a file not open:", 0);
  std::FILE* s = stream_;
  const int fd = ::fileno(s);
  int err = 0;
  if (std::fflush(s) != 0 || std::ferror(s)) err = errno != 0 ? errno : EIO;
  if (err == 0 && !in_place_ && ::fsync(fd) != 0) err = errno;
  if (err == 0 && unnamed_) {
    // Give the finished file a name beside the target, then move it over.
    // Linking through /proc works without privileges; the name exists only
    // for the moment between link and rename.
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
      temp_ = target_ + "." + std::to_string(::getpid()) + "." + std::to_string(attempt) + ".tmp";
      set_pending(temp_);
      if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, temp_.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
      err = errno;
      temp_.clear();
      clear_pending();
      if (err != EEXIST) break;
    }
    if (!temp_.empty()) err = 0;
  }
  stream_ = nullptr;
  if (std::fclose(s) != 0 && err == 0) err = errno;
  if (err == 0 && !in_place_ && std::rename(temp_.c_str(), target_.c_str()) != 0) err = errno;
  if (err != 0) {
    abandon();
    fail(path_, "cannot write", err);
  }
  temp_.clear();
  clear_pending();
  if (!in_place_) sync_folder(folder_of(target_));
}

void write_file(const std::string& path, const std::string& bytes) {
  OutputFile out(path);
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), out.stream()) != bytes.size()) {
    const int err = errno;
    out.abandon();
    fail(path, "cannot write", err);
  }
  out.commit();
}

void remove_pending_temp() noexcept {
  if (g_have_pending) ::unlink(g_pending);
}

}  // namespace fileio
