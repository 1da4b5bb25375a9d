#include "comm.h"

#ifdef HERMITE_HAVE_MPI
#include <mpi.h>

#include <algorithm>
#include <cstring>
#include <vector>

extern char** environ;
#endif

namespace hermite {

namespace {

// Where rank r's share of n items begins: rank r holds [start(r), start(r + 1)).
int share_start(int n, int r, int ranks) {
  return static_cast<int>(static_cast<long long>(n) * r / ranks);
}

}  // namespace

#ifdef HERMITE_HAVE_MPI

namespace {

// Whether a process manager started this process: mpirun and mpiexec of
// the MPI libraries, and a batch system's launcher, leave one of these
// prefixes in the environment. A program started by hand is a run of one
// process, whether or not MPI starts, and MPI's start-up of such a
// "singleton" launches a helper daemon that takes about 0.4 s.
bool launched_by_process_manager() {
  static const char* const prefixes[] = {"OMPI_COMM_WORLD_", "PMIX_",       "PMI_",
                                         "MPI_LOCALNRANKS",  "SLURM_STEP_", "HYDRA_"};
  for (char** e = environ; e && *e; ++e) {
    for (const char* p : prefixes) {
      if (std::strncmp(*e, p, std::strlen(p)) == 0) return true;
    }
  }
  return false;
}

}  // namespace

Comm::Comm() = default;

Comm::Comm(int* argc, char*** argv) {
  int initialised = 0;
  MPI_Initialized(&initialised);
  if (!initialised) {
    if (!launched_by_process_manager()) return;  // one process: rank 0 of 1
    MPI_Init(argc, argv);
    started_ = true;
  }
  MPI_Comm_rank(MPI_COMM_WORLD, &rank_);
  MPI_Comm_size(MPI_COMM_WORLD, &size_);
  MPI_Comm node;
  MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, rank_, MPI_INFO_NULL, &node);
  MPI_Comm_rank(node, &local_rank_);
  MPI_Comm_free(&node);
}

struct Comm::Vote {
  MPI_Request request = MPI_REQUEST_NULL;
  int mine = 0, outcome = 0;
};

Comm::~Comm() {
  if (vote_) MPI_Wait(&vote_->request, MPI_STATUS_IGNORE);
  if (started_) MPI_Finalize();
}

int Comm::vote_max(int v) {
  if (size_ == 1) return 0;
  if (!vote_) vote_ = std::make_unique<Vote>();
  int previous = 0;
  if (vote_->request != MPI_REQUEST_NULL) {
    MPI_Wait(&vote_->request, MPI_STATUS_IGNORE);
    previous = vote_->outcome;
  }
  vote_->mine = v;
  MPI_Iallreduce(&vote_->mine, &vote_->outcome, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD,
                 &vote_->request);
  return previous;
}

void Comm::sum(double* data, std::size_t n) const {
  if (size_ > 1 && n > 0) {
    MPI_Allreduce(MPI_IN_PLACE, data, static_cast<int>(n), MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);
  }
}

void Comm::broadcast(double* data, std::size_t n) const {
  if (size_ > 1 && n > 0) MPI_Bcast(data, static_cast<int>(n), MPI_DOUBLE, 0, MPI_COMM_WORLD);
}

void Comm::broadcast(int* data, std::size_t n) const {
  if (size_ > 1 && n > 0) MPI_Bcast(data, static_cast<int>(n), MPI_INT, 0, MPI_COMM_WORLD);
}

void Comm::broadcast(std::string& text) const {
  if (size_ == 1) return;
  int len = static_cast<int>(text.size());
  MPI_Bcast(&len, 1, MPI_INT, 0, MPI_COMM_WORLD);
  text.resize(static_cast<std::size_t>(len));
  if (len > 0) MPI_Bcast(text.data(), len, MPI_CHAR, 0, MPI_COMM_WORLD);
}

double Comm::max(double v) const {
  if (size_ > 1) MPI_Allreduce(MPI_IN_PLACE, &v, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
  return v;
}

double Comm::min(double v) const {
  if (size_ > 1) MPI_Allreduce(MPI_IN_PLACE, &v, 1, MPI_DOUBLE, MPI_MIN, MPI_COMM_WORLD);
  return v;
}

void Comm::gather_shares(double* data, int n, int words) const {
  if (size_ == 1 || n == 0) return;
  // Blocks of one size (the largest share), padded. A gather of blocks of
  // unequal sizes (MPI_Allgatherv) delivered nothing to a rank with an
  // empty share in a run on three ranks (one record; Open MPI 4.1.4, with
  // a vote in flight), though the same pattern alone did not show it;
  // blocks of one size did not lose it.
  const long long most = (static_cast<long long>(n) + size_ - 1) / size_;
  const auto block = static_cast<std::size_t>(most * words);
  auto first = [&](int r) { return static_cast<std::size_t>(share_start(n, r, size_)); };
  auto last = [&](int r) { return static_cast<std::size_t>(share_start(n, r + 1, size_)); };
  const auto w = static_cast<std::size_t>(words);
  std::vector<double>& mine = gather_mine_;
  std::vector<double>& all = gather_all_;
  mine.resize(block);
  all.resize(block * static_cast<std::size_t>(size_));
  std::copy(data + first(rank_) * w, data + last(rank_) * w, mine.begin());
  MPI_Allgather(mine.data(), static_cast<int>(block), MPI_DOUBLE, all.data(),
                static_cast<int>(block), MPI_DOUBLE, MPI_COMM_WORLD);
  for (int r = 0; r < size_; ++r) {
    const double* from = all.data() + block * static_cast<std::size_t>(r);
    std::copy(from, from + (last(r) - first(r)) * w, data + first(r) * w);
  }
}

#else

struct Comm::Vote {};
Comm::Comm() = default;
Comm::Comm(int*, char***) {}
Comm::~Comm() = default;
int Comm::vote_max(int) { return 0; }
void Comm::sum(double*, std::size_t) const {}
void Comm::broadcast(double*, std::size_t) const {}
void Comm::broadcast(int*, std::size_t) const {}
void Comm::broadcast(std::string&) const {}
double Comm::max(double v) const { return v; }
double Comm::min(double v) const { return v; }
void Comm::gather_shares(double*, int, int) const {}

#endif

void Comm::share(int n, int& begin, int& end) const {
  begin = share_start(n, rank_, size_);
  end = share_start(n, rank_ + 1, size_);
}

}  // namespace hermite
