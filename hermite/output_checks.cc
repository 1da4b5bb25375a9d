#include "output_checks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "hdf5_model.h"
#include "output_file.h"

namespace hermite {
namespace {

std::string base_of(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

std::string prefix_of(const Options& o) {
  const std::string& p = o.snapshots;
  if (!hdf5_snapshots(o)) return p;
  return p.substr(0, p.size() - fileio::hdf5_suffix(p));
}

void check_folder(const std::string& option, const std::string& path) {
  const std::string folder = fileio::folder_of(path);
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) {
    throw UsageError(option + " '" + path + "': the folder '" + folder +
                     "' cannot be used: " + std::strerror(errno));
  }
  if (!S_ISDIR(st.st_mode)) {
    throw UsageError(option + " '" + path + "': '" + folder + "' is not a folder");
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    throw UsageError(option + " '" + path + "': cannot write into the folder '" + folder +
                     "': " + std::strerror(errno));
  }
}

}  // namespace

bool hdf5_snapshots(const Options& o) {
  if (!o.snapshot_format.empty()) return o.snapshot_format == "hdf5";
  return fileio::hdf5_name(o.snapshots);
}

std::string snapshot_name(const Options& o, long long number) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%04lld", number);
  return prefix_of(o) + digits + (hdf5_snapshots(o) ? ".h5" : ".inp");
}

void check_outputs(const Options& o, const std::vector<std::string>& reads, long long first,
                   long long last) {
  if (last > INT_MAX) {
    throw UsageError("the snapshot numbers would run to " + std::to_string(last) +
                     ", past the largest a model file holds (" + std::to_string(INT_MAX) +
                     "): renumber the model or shorten the run");
  }
  struct Named {
    const char* option;
    const std::string& path;
  };
  const std::vector<Named> outputs = {{"--energy", o.energy_csv},
                                      {"--radii", o.radii_csv},
                                      {"--core", o.core_csv},
                                      {"--escapers", o.escapers_csv},
                                      {"--checkpoint", o.checkpoint}};
  for (const Named& out : outputs) {
    if (out.path.empty()) continue;
    check_folder(out.option, out.path);
    struct stat st;
    if (::stat(out.path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode) &&
        !S_ISCHR(st.st_mode)) {
      throw UsageError(
          std::string(out.option) + " '" + out.path + "' is " +
          (S_ISDIR(st.st_mode) ? "a directory" : "neither a file, a FIFO nor a device") +
          ", not a file to write");
    }
    for (const std::string& read : reads) {
      if (read.empty()) continue;
      // The checkpoint a run continues from is replaced by its successor: the
      // one case where reading and writing one file is meant.
      const bool replaces_restart = out.path == o.checkpoint && read == o.restart;
      if (!replaces_restart && (out.path == read || same_file(out.path, read))) {
        throw UsageError(std::string(out.option) + " '" + out.path +
                         "' is the file the run reads ('" + read + "')");
      }
    }
    for (const Named& other : outputs) {
      if (&other == &out || other.path.empty()) continue;
      if (other.path == out.path || same_file(other.path, out.path)) {
        throw UsageError(std::string(out.option) + " and " + other.option + " name one file ('" +
                         out.path + "')");
      }
    }
  }
  if (o.snapshots.empty()) return;
  check_folder("--snapshots", o.snapshots);
  // A snapshot replaces the directory entry of its name: refuse the names
  // of the files read and of the other outputs.
  const std::string prefix = base_of(prefix_of(o));
  const std::string ext = hdf5_snapshots(o) ? ".h5" : ".inp";
  std::vector<std::string> taken = reads;
  for (const Named& out : outputs) {
    if (!out.path.empty()) taken.push_back(out.path);
  }
  for (const std::string& path : taken) {
    const std::string base = base_of(path);
    if (base.size() < prefix.size() + ext.size() + 4 ||
        base.compare(0, prefix.size(), prefix) != 0 ||
        base.compare(base.size() - ext.size(), ext.size(), ext) != 0) {
      continue;
    }
    const std::string digits = base.substr(prefix.size(), base.size() - prefix.size() - ext.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 18) continue;
    const long long number = std::stoll(digits);
    if (number < first || number > last) continue;
    if (base_of(snapshot_name(o, number)) != base) continue;
    if (!same_file(fileio::folder_of(path), fileio::folder_of(prefix_of(o)))) continue;
    throw UsageError(
        "--snapshots '" + o.snapshots + "' would write '" + snapshot_name(o, number) + "' over '" +
        path + "', which the run " +
        (std::find(reads.begin(), reads.end(), path) != reads.end() ? "reads" : "writes"));
  }
}

}  // namespace hermite
