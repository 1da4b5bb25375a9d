#include "comm.h"

#ifdef HERMITE_HAVE_MPI
#include <mpi.h>
#endif

namespace hermite {

#ifdef HERMITE_HAVE_MPI

Comm::Comm() = default;

Comm::Comm(int* argc, char*** argv) {
  int initialised = 0;
  MPI_Initialized(&initialised);
  if (!initialised) {
    MPI_Init(argc, argv);
    started_ = true;
  }
  MPI_Comm_rank(MPI_COMM_WORLD, &rank_);
  MPI_Comm_size(MPI_COMM_WORLD, &size_);
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

#endif

void Comm::share(int n, int& begin, int& end) const {
  begin = static_cast<int>(static_cast<long long>(n) * rank_ / size_);
  end = static_cast<int>(static_cast<long long>(n) * (rank_ + 1) / size_);
}

}  // namespace hermite
