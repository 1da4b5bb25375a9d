// The processes of one run. With MPI each rank holds a share of the
// j-particles and corrects a share of each block step's particles, and
// every rank holds every particle's state; without MPI (or with one rank)
// this is a single process and every operation is trivial.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace hermite {

class Comm {
 public:
  // Starts MPI when the program was built with it and a process manager
  // (mpirun, mpiexec, a batch system's launcher) started the process. A
  // program started by hand is a run of one process and does without it.
  Comm(int* argc, char*** argv);
  // One process on its own, without MPI (for tests and tools).
  Comm();
  ~Comm();
  Comm(const Comm&) = delete;
  Comm& operator=(const Comm&) = delete;

  int rank() const { return rank_; }
  int size() const { return size_; }
  // This rank's number among the ranks of its node (those that share its
  // memory), the number that picks its device: with ranks dealt over the
  // nodes in turn, the global rank would put several ranks of a node on one
  // device.
  int local_rank() const { return local_rank_; }
  bool root() const { return rank_ == 0; }

  // Element-wise sum over the ranks, left on every rank.
  void sum(double* data, std::size_t n) const;
  // Copies rank 0's data to every rank.
  void broadcast(double* data, std::size_t n) const;
  void broadcast(int* data, std::size_t n) const;
  // Rank 0's text on every rank.
  void broadcast(std::string& text) const;
  // Largest and smallest value over the ranks.
  double max(double v) const;
  double min(double v) const;

  // The share [begin, end) of n items that this rank holds.
  void share(int n, int& begin, int& end) const;
  // data holds n records of `words` doubles each, of which this rank has
  // filled those of its share (share(n, ...)); afterwards every rank holds
  // every record, each as the rank of its share wrote it. One collective.
  void gather_shares(double* data, int n, int words) const;

  // A vote that does not wait: starts the largest value of v over the
  // ranks and returns the outcome of the previous call's vote (0 at the
  // first call), which has been travelling meanwhile. Every rank must call
  // it at the same points of the run, between the same other collective
  // calls; all ranks then see the same outcomes.
  int vote_max(int v);

 private:
  struct Vote;
  std::unique_ptr<Vote> vote_;
  // The gather's padded blocks, kept between calls: a block step's gather
  // would otherwise allocate (and fault in) them anew.
  mutable std::vector<double> gather_mine_, gather_all_;
  int rank_ = 0;
  int size_ = 1;
  int local_rank_ = 0;
  [[maybe_unused]] bool started_ = false;  // used where MPI is built in
};

}  // namespace hermite
