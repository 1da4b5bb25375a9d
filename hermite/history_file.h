// The CSV histories of a run (energy, radii, core), new or continued after
// a restart.
#pragma once

#include <cstdio>
#include <string>

namespace hermite {

// Opens PATH for appending after cutting it back to BYTES, its length at
// the checkpoint; the rows after it are written again by the continued
// run. Throws std::runtime_error where the file is missing or shorter.
std::FILE* reopen_history(const std::string& path, long long bytes);

// Creates (or empties) PATH for a new history. A FIFO is written in place
// and refused at once where no process reads it, rather than waited on.
// Throws std::runtime_error naming the cause.
std::FILE* create_history(const std::string& path);

// One CSV history: created with its header line, or continued at the length
// a checkpoint recorded. A row is printed into file() and closed by
// end_row(), which flushes it and throws std::runtime_error when the write
// failed; bytes() is then the length a checkpoint records.
class HistoryFile {
 public:
  HistoryFile(const std::string& path, const std::string& header);
  HistoryFile(const std::string& path, long long bytes);
  ~HistoryFile();
  HistoryFile(const HistoryFile&) = delete;
  HistoryFile& operator=(const HistoryFile&) = delete;

  std::FILE* file() const { return file_; }
  void end_row();
  long long bytes() const { return bytes_; }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  long long bytes_ = 0;
};

}  // namespace hermite
