// Run under mpirun by test_hermite_mpi: Comm::gather_shares on every rank
// count, with shares that are empty, uneven and of one record, while a
// vote (a collective that does not wait) is travelling, as in a run. Each
// record holds its own index and word, so a record lost, misplaced or taken
// from the wrong rank shows. Prints "gathered" and exits 0 when every rank
// holds every record; otherwise names the first wrong word.
#include <cstdio>
#include <vector>

#include "comm.h"

int main(int argc, char** argv) {
  hermite::Comm comm(&argc, &argv);
  constexpr int kWords = 18;
  int wrong = 0;
  for (int round = 0; round < 20 && wrong == 0; ++round) {
    for (int n : {0, 1, 2, 3, 5, 7, 64, 1000}) {
      comm.vote_max(round);
      double forces[6] = {1.0 * n, 2.0, 3.0, 4.0, 5.0, 6.0};
      comm.sum(forces, 6);
      std::vector<double> data(static_cast<std::size_t>(n) * kWords, -1.0);
      int begin = 0, end = 0;
      comm.share(n, begin, end);
      for (int k = begin; k < end; ++k) {
        for (int w = 0; w < kWords; ++w)
          data[static_cast<std::size_t>(k * kWords + w)] = k + w / 32.0;
      }
      comm.gather_shares(data.data(), n, kWords);
      for (int k = 0; k < n && wrong == 0; ++k) {
        for (int w = 0; w < kWords; ++w) {
          if (data[static_cast<std::size_t>(k * kWords + w)] != k + w / 32.0) {
            std::fprintf(stderr, "rank %d of %d: record %d of %d, word %d is %g\n", comm.rank(),
                         comm.size(), k, n, w, data[static_cast<std::size_t>(k * kWords + w)]);
            wrong = 1;
            break;
          }
        }
      }
    }
  }
  comm.vote_max(0);
  if (static_cast<int>(comm.max(wrong)) != 0) return 1;
  if (comm.root()) std::printf("gathered on %d ranks\n", comm.size());
  return 0;
}
