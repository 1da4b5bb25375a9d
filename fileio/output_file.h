// Output files that appear complete or not at all, and that leave what is
// not a plain file alone.
//
// A regular file (or a new name) is written to an unnamed file in the
// target's folder and renamed over the target once complete and synced, so
// a reader sees the old file or the new one, never a mix; the new file
// keeps the old one's mode (and owner, where allowed). A symbolic link is
// followed to its target, which is replaced; the link stays. A FIFO or a
// character device (a pipe, /dev/null, /dev/full, a terminal) is written
// in place; a FIFO that no process reads is refused at once rather than
// waited on. Anything else (a directory, a block device, a socket) is
// refused.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

namespace fileio {

// A refused or failed output; what() names the path and the cause.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class OutputFile {
 public:
  // Opens the output for PATH. Throws FileError where it cannot be created
  // or is of a kind that is refused.
  explicit OutputFile(const std::string& path);
  // Abandons the output unless committed: the target stays as it was.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // The stream to write to; valid until commit() or abandon().
  std::FILE* stream() const { return stream_; }
  // Flushes, syncs and puts the file in place. Throws FileError for any
  // failure on the way (a full disk often shows only here), after which
  // the target is unchanged.
  void commit();
  // Drops what was written; the target is unchanged.
  void abandon() noexcept;

 private:
  std::string path_;    // as given, for messages
  std::string target_;  // the file replaced: path_ with its links followed
  std::string temp_;    // the named temporary file where unnamed ones are not supported
  std::FILE* stream_ = nullptr;
  bool in_place_ = false;  // a FIFO or a device, written directly
  bool unnamed_ = false;   // an O_TMPFILE file, linked under temp_ at commit
};

// Writes BYTES to PATH as OutputFile does. Throws FileError.
void write_file(const std::string& path, const std::string& bytes);

// The follow-up of a second stop signal: removes the temporary file being
// written under a name, if any. Async-signal-safe.
void remove_pending_temp() noexcept;

// Opens PATH for writing in place (O_WRONLY plus FLAGS, e.g. O_CREAT |
// O_TRUNC) without waiting: a FIFO is opened non-blocking, and one that no
// process reads is refused (FileError: "no process reads the FIFO") instead
// of blocking the run, and its stop signals, until a reader comes; the
// descriptor returned blocks as usual. Throws FileError naming the cause.
int open_in_place(const std::string& path, int flags, unsigned mode = 0666);

// The folder that holds PATH: "." for a bare name, "/" for a file at the root.
std::string folder_of(const std::string& path);

}  // namespace fileio
