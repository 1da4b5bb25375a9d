// The resident particles' drivers: the slots' states in device memory (one
// array per field; see ResidentStore::layout and forcecore/predict.h), their
// prediction into the
// records calc_force reads, and the force, potential and neighbour calls
// over them. The per-particle work is written once as records with a
// __host__ __device__ call operator, run by rt::for_each on either backend.
//
// Contract: a force call predicts the sources [js, je) into a j-buffer of
// the library's own, the targets pass by pass into the i-buffer of
// calc_force, and runs calc_force's passes over them (force_passes), so its
// results are the bits of calc_force on records the integrator would fill.
// Only the states a call names travel to the device.
#pragma once

#include <climits>
#include <cstdio>
#include <vector>

#include "forcecore/check_lines.h"
#include "forcecore/ds.h"
#include "forcecore/error_report.h"
#include "forcecore/library/force_driver.h"
#include "forcecore/library/launch.h"
#include "forcecore/predict.h"
#include "forcecore/self_excluded.h"
#include "nbforce_common.h"

#if !defined(__CUDACC__)
#include "forcecore/host/predict_lanes.h"
#endif

namespace nbf {

template <class L>
struct ResidentStore {
  using Pred = typename L::Order::Predictor;
  enum : int { K = L::Order::kDerivs, kFields = ResidentFields<K>::kCount };
  double* fields = nullptr;  // kFields arrays of `capacity` doubles
  int capacity = 0;
  int n = 0;
  Pred* jrec = nullptr;  // capacity + NTHREAD records: the predicted sources
  // Staging for the inputs and outputs of one call, grown as needed.
  double* in = nullptr;
  std::size_t in_size = 0;
  int* idx = nullptr;
  std::size_t idx_size = 0;
  double* out = nullptr;
  std::size_t out_size = 0;
  // The sources last predicted into jrec: slots jrec_js .. jrec_je - 1 at
  // time jrec_t. While jrec_valid, only the slots in `changed` (set or
  // removed since) differ from what a prediction would write now, so a
  // force call at the same time and range predicts those alone.
  bool jrec_valid = false;
  double jrec_t = 0.0;
  int jrec_js = 0, jrec_je = 0;
  std::vector<int> changed;
  int* changed_idx = nullptr;  // `changed` on the device
  std::size_t changed_idx_size = 0;
  ResidentView view() const { return layout(fields, capacity); }
  // One array per field: consecutive device threads read consecutive
  // slots, and the host predicts consecutive slots in vector lanes.
  static ResidentView layout(double* base, int slots) { return {base, slots, 1}; }
};

template <class L>
ResidentStore<L>& resident_store() {
  static ResidentStore<L> store;
  return store;
}

// Room for `count` elements of `bytes` each in *buffer (contents dropped).
template <class L, class T>
void resident_reserve(T** buffer, std::size_t* size, std::size_t count) {
  if (*buffer != nullptr && count <= *size) return;
  if (*buffer != nullptr) rt::free_device(*buffer);
  *buffer = nullptr;
  const std::size_t want = count < 64 ? 64 : count + count / 2;
  check_or_exit(L::kName, check_line::kResidentAlloc,
                rt::malloc_device(reinterpret_cast<void**>(buffer), want * sizeof(T)));
  *size = want;
}

template <class L>
bool resident_args_ok(bool ok, const char* what) {
  if (ok) return true;
  char text[192];
  std::snprintf(text, sizeof text, "invalid argument: %s", what);
  report_error(L::kName, check_line::kResidentArgs, text);
  return false;
}

template <class L>
bool resident_indices_ok(int count, const int* index, int n, const char* call) {
  char text[160];
  if (count < 0 || (count > 0 && index == nullptr)) {
    std::snprintf(text, sizeof text, "%s needs count >= 0 and an index array (count = %d)", call,
                  count);
    return resident_args_ok<L>(false, text);
  }
  for (int k = 0; k < count; ++k) {
    if (index[k] < 0 || index[k] >= n) {
      std::snprintf(text, sizeof text, "%s: index[%d] = %d is not a slot of 0 .. %d", call, k,
                    index[k], n - 1);
      return resident_args_ok<L>(false, text);
    }
  }
  return true;
}

// The message is formatted only for a bad range: a one-particle force call
// must not pay for text it never shows.
template <class L>
bool resident_range_ok(int js, int je, int n, const char* call) {
  if (js >= 0 && js <= je && je <= n) return true;
  char text[160];
  std::snprintf(text, sizeof text, "%s needs 0 <= js <= je <= n (n = %d, js = %d, je = %d)", call,
                n, js, je);
  return resident_args_ok<L>(false, text);
}

template <class L>
void resident_launch(rt::Status status) {
  check_or_exit(L::kName, check_line::kResidentLaunch, status);
}

// Indices to the device staging.
template <class L>
const int* resident_indices(ResidentStore<L>& s, int count, const int* index) {
  resident_reserve<L>(&s.idx, &s.idx_size, static_cast<std::size_t>(count));
  if (count > 0) {
    check_or_exit(L::kName, check_line::kResidentCopyIn,
                  rt::copy_to_device(s.idx, index, static_cast<std::size_t>(count) * sizeof(int)));
  }
  return s.idx;
}

// The per-particle work.
struct ResidentCopy {  // slot i of every field from one block to another
  ResidentView from;
  ResidentView to;
  int fields;
  NBF_HD void operator()(int i) const {
    for (int f = 0; f < fields; ++f) to.ref(f, i) = from.at(f, i);
  }
};

struct ResidentClear {  // slot begin + i emptied: every field 0
  ResidentView view;
  int begin;
  int fields;
  NBF_HD void operator()(int i) const {
    for (int f = 0; f < fields; ++f) view.ref(f, begin + i) = 0.0;
  }
};

template <int K>
struct ResidentScatter {  // state k of the staged inputs into its slot
  ResidentView view;
  const int* index;
  const double* in;  // mass[count], pos[3 count], vel, derivs[6K count], time, step
  int count;
  NBF_HD void operator()(int k) const {
    using Fld = ResidentFields<K>;
    const long i = index[k];
    const double* mass = in;
    const double* pos = mass + count;
    const double* vel = pos + 3 * count;
    const double* der = vel + 3 * count;
    const double* time = der + 6 * K * count;
    const double* step = time + count;
    for (int c = 0; c < 3; ++c) {
      view.ref(Fld::kPos + c, i) = pos[3 * k + c];
      view.ref(Fld::kVel + c, i) = vel[3 * k + c];
    }
    for (int w = 0; w < 6 * K; ++w) view.ref(Fld::kDer + w, i) = der[6 * K * k + w];
    view.ref(Fld::kMass, i) = mass[k];
    view.ref(Fld::kTime, i) = time[k];
    view.ref(Fld::kStep, i) = step[k];
    view.ref(Fld::kLive, i) = 1.0;
  }
};

template <int K>
struct ResidentDrop {  // slot index[k] removed
  ResidentView view;
  const int* index;
  NBF_HD void operator()(int k) const {
    view.ref(ResidentFields<K>::kMass, index[k]) = 0.0;
    view.ref(ResidentFields<K>::kLive, index[k]) = 0.0;
  }
};

template <int K, class Pred>
struct ResidentPredict {  // slot (index ? index[first + k] : first + k) into out[k]
  ResidentView view;
  const int* index;
  int first;
  double t;
  bool source;
  Pred* out;
  NBF_HD void operator()(int k) const {
    const int i = index != nullptr ? index[first + k] : first + k;
    predict_record<K>(view, i, t, source, out[k]);
  }
};

template <int K, class Pred>
struct ResidentRepredict {  // slot index[k], if a source, into out[index[k] - js]
  ResidentView view;
  const int* index;
  int js, je;
  double t;
  Pred* out;
  NBF_HD void operator()(int k) const {
    const int i = index[k];
    if (i >= js && i < je) predict_record<K>(view, i, t, true, out[i - js]);
  }
};

// The sources js .. js + nj - 1 predicted into out[0 .. nj - 1]: on the
// host kDoubleLanes slots at a time (the last few, and all of them under
// host::Prediction::plain, one at a time), on the device one per thread.
#if defined(__CUDACC__)
template <int K, class Pred>
rt::Status predict_sources(const ResidentView& view, int js, int nj, double t, Pred* out) {
  return rt::for_each(nj, ResidentPredict<K, Pred>{view, nullptr, js, t, true, out});
}
#else
template <int K, class Pred>
struct ResidentPredictLanes {  // slots js + kDoubleLanes g + l into out[kDoubleLanes g + l]
  ResidentView view;
  int js;
  double t;
  Pred* out;
  void operator()(int g) const {
    predict_records_lanes<K>(view, js + kDoubleLanes * g, t, true, out + kDoubleLanes * g);
  }
};

template <int K, class Pred>
rt::Status predict_sources(const ResidentView& view, int js, int nj, double t, Pred* out) {
  const int groups = host::execution_mode().plain_prediction ? 0 : nj / kDoubleLanes;
  const int done = groups * kDoubleLanes;
  if (const rt::Status s = rt::for_each(groups, ResidentPredictLanes<K, Pred>{view, js, t, out}))
    return s;
  return rt::for_each(nj - done,
                      ResidentPredict<K, Pred>{view, nullptr, js + done, t, true, out + done});
}
#endif

template <int K>
struct ResidentPosm {  // slot (index ? index[k] : first + k) into posm[k]
  ResidentView view;
  const int* index;
  int first;
  double t;
  bool source;
  Posm* posm;
  NBF_HD void operator()(int k) const {
    const int i = index != nullptr ? index[k] : first + k;
    double xp[3], vp[3], ap[3], jp[3];
    predict_state<K>(view, i, t, xp, vp, ap, jp);
    Posm r{};
    for (int c = 0; c < 3; ++c) split_rn(xp[c], &r.pos[c].x, &r.pos[c].y);
    const bool live = view.at(ResidentFields<K>::kLive, i) != 0.0;
    r.mass = source && live ? static_cast<float>(view.at(ResidentFields<K>::kMass, i)) : 0.0f;
    posm[k] = r;
  }
};

template <int K>
struct ResidentPositions {  // predicted position of slot first + k, 3 doubles
  ResidentView view;
  int first;
  double t;
  double* out;
  NBF_HD void operator()(int k) const {
    double vp[3], ap[3], jp[3];
    predict_state<K>(view, first + k, t, out + 3 * k, vp, ap, jp);
  }
};

template <int K>
struct ResidentGather {  // the neighbours of target index[k] among the sources
  ResidentView view;
  const int* index;
  const double* src;  // predicted sources, 3 doubles each, from slot js
  int js, nj;
  double t, r2max;
  int max_nb;
  int* count;
  int* list;
  NBF_HD void operator()(int k) const {
    const int self = index[k];
    double xi[3], vp[3], ap[3], jp[3];
    predict_state<K>(view, self, t, xi, vp, ap, jp);
    int found = 0;
    for (int j = 0; j < nj; ++j) {
      if (js + j == self || view.at(ResidentFields<K>::kLive, js + j) == 0.0) continue;
      const double dx = add_rn(src[3 * j], -xi[0]);
      const double dy = add_rn(src[3 * j + 1], -xi[1]);
      const double dz = add_rn(src[3 * j + 2], -xi[2]);
      const double r2 = add_rn(add_rn(mul_rn(dx, dx), mul_rn(dy, dy)), mul_rn(dz, dz));
      if (r2 > r2max) continue;
      if (found < max_nb) list[static_cast<long>(k) * max_nb + found] = js + j;
      ++found;
    }
    count[k] = found;
  }
};

// Slots index[0 .. count - 1] changed: listed for the next force call, or,
// past an eighth of the set, every source predicted anew.
template <class L>
void resident_note_changed(ResidentStore<L>& s, int count, const int* index) {
  if (!s.jrec_valid) return;
  if (s.changed.size() + static_cast<std::size_t>(count) > static_cast<std::size_t>(s.n / 8)) {
    s.jrec_valid = false;
    s.changed.clear();
    return;
  }
  s.changed.insert(s.changed.end(), index, index + count);
}

// Slots allocated for at least n: a whole number of 8-slot groups (the
// host's vector lanes), and a field stride that is not a multiple of 4 KiB.
// The fields lie one after another, so with a power-of-two count (1,024 or
// 65,536 slots: the usual N) every field of a slot would map to the same
// cache set, and the prediction, which reads 22 to 34 fields of each slot,
// would evict its own lines. A one-particle block step against 1,024
// resident particles took 6.1 us unpadded and 5.6 us padded, one thread
// (bench/resident_step.cc). n must fit an int; near INT_MAX it stays n.
inline int padded_capacity(long long n) {
  long long cap = (n + 7) / 8 * 8;
  if (cap % 512 == 0) cap += 8;
  return static_cast<int>(cap <= INT_MAX ? cap : n);
}

template <class L>
void resident_resize(int n) {
  using Pred = typename L::Order::Predictor;
  ResidentStore<L>& s = resident_store<L>();
  constexpr int F = ResidentStore<L>::kFields;
  char text[96];
  std::snprintf(text, sizeof text, "nbf_resident_resize needs n >= 0 (n = %d)", n);
  if (!resident_args_ok<L>(n >= 0, text)) return;
  if (n > s.capacity) {
    // Doubling, where that stays an int.
    const long long doubled = 2LL * s.capacity;
    const int cap = padded_capacity(n < doubled && doubled <= INT_MAX ? doubled : n);
    double* fields = nullptr;
    Pred* jrec = nullptr;
    const std::size_t jbytes = (static_cast<std::size_t>(cap) + NTHREAD) * sizeof(Pred);
    check_or_exit(L::kName, check_line::kResidentAlloc,
                  rt::malloc_device(reinterpret_cast<void**>(&fields),
                                    static_cast<std::size_t>(cap) * F * sizeof(double)));
    check_or_exit(L::kName, check_line::kResidentAlloc,
                  rt::malloc_device(reinterpret_cast<void**>(&jrec), jbytes));
    check_or_exit(L::kName, check_line::kResidentAlloc, rt::memset_device(jrec, 0, jbytes));
    if (s.n > 0)
      resident_launch<L>(
          rt::for_each(s.n, ResidentCopy{s.view(), ResidentStore<L>::layout(fields, cap), F}));
    rt::synchronize();
    if (s.fields != nullptr) rt::free_device(s.fields);
    if (s.jrec != nullptr) rt::free_device(s.jrec);
    s.fields = fields;
    s.jrec = jrec;
    s.capacity = cap;
  }
  if (n > s.n) resident_launch<L>(rt::for_each(n - s.n, ResidentClear{s.view(), s.n, F}));
  s.n = n;
  s.jrec_valid = false;
  s.changed.clear();
}

template <class L>
void resident_set(int count, const int* index, const double* mass, const double* pos,
                  const double* vel, const double* derivs, const double* time, const double* step) {
  constexpr int K = ResidentStore<L>::K;
  ResidentStore<L>& s = resident_store<L>();
  if (!resident_indices_ok<L>(count, index, s.n, "nbf_resident_set")) return;
  if (count == 0) return;
  if (!resident_args_ok<L>(mass != nullptr && pos != nullptr && vel != nullptr &&
                               derivs != nullptr && time != nullptr && step != nullptr,
                           "nbf_resident_set needs every state array")) {
    return;
  }
  const std::size_t c = static_cast<std::size_t>(count);
  resident_reserve<L>(&s.in, &s.in_size, c * (9 + 6 * K));
  const double* parts[] = {mass, pos, vel, derivs, time, step};
  const std::size_t sizes[] = {c, 3 * c, 3 * c, 6 * K * c, c, c};
  double* at = s.in;
  for (int p = 0; p < 6; ++p) {
    check_or_exit(L::kName, check_line::kResidentCopyIn,
                  rt::copy_to_device(at, parts[p], sizes[p] * sizeof(double)));
    at += sizes[p];
  }
  const int* idx = resident_indices(s, count, index);
  resident_launch<L>(rt::for_each(count, ResidentScatter<K>{s.view(), idx, s.in, count}));
  resident_note_changed(s, count, index);
}

template <class L>
void resident_remove(int count, const int* index) {
  constexpr int K = ResidentStore<L>::K;
  ResidentStore<L>& s = resident_store<L>();
  if (!resident_indices_ok<L>(count, index, s.n, "nbf_resident_remove")) return;
  if (count == 0) return;
  const int* idx = resident_indices(s, count, index);
  resident_launch<L>(rt::for_each(count, ResidentDrop<K>{s.view(), idx}));
  resident_note_changed(s, count, index);
}

template <class L>
void resident_force(double t, int js, int je, int ni, const int* index, float eps2,
                    typename L::Order::Force* force) {
  using O = typename L::Order;
  using Pred = typename O::Predictor;
  constexpr int K = O::kDerivs;
  ResidentStore<L>& s = resident_store<L>();
  if (!resident_range_ok<L>(js, je, s.n, "nbf_resident_force")) return;
  if (!resident_indices_ok<L>(ni, index, s.n, "nbf_resident_force")) return;
  if (!resident_args_ok<L>(eps2 >= 0.0f, "nbf_resident_force needs eps2 >= 0")) return;
  ForceBuffers<L>& b = force_buffers<L>();
  if (b.ip_dev == nullptr) allocate_pass_buffers(b);
  const int nj = je - js;
  const ResidentView view = s.view();
  if (s.jrec_valid && t == s.jrec_t && js == s.jrec_js && je == s.jrec_je) {
    const int count = static_cast<int>(s.changed.size());
    if (count > 0) {
      resident_reserve<L>(&s.changed_idx, &s.changed_idx_size, s.changed.size());
      check_or_exit(
          L::kName, check_line::kResidentCopyIn,
          rt::copy_to_device(s.changed_idx, s.changed.data(), s.changed.size() * sizeof(int)));
      resident_launch<L>(
          rt::for_each(count, ResidentRepredict<K, Pred>{view, s.changed_idx, js, je, t, s.jrec}));
    }
  } else {
    resident_launch<L>(predict_sources<K>(view, js, nj, t, s.jrec));
  }
  s.jrec_valid = true;
  s.jrec_t = t;
  s.jrec_js = js;
  s.jrec_je = je;
  s.changed.clear();
  const int* idx = resident_indices(s, ni, index);
  const auto fill_i = [&](int off, int n) {
    resident_launch<L>(
        rt::for_each(n, ResidentPredict<K, Pred>{view, idx, off, t, false, b.ip_dev}));
  };
  double ip_time = 0.0, fo_time = 0.0;
  if (eps2 == 0.0f) {
    force_passes<L, SelfExcluded<O>>(ni, nj, s.jrec, L::gravity_excluded, fill_i, force, eps2,
                                     &ip_time, &fo_time);
  } else {
    force_passes<L, O>(ni, nj, s.jrec, L::gravity, fill_i, force, eps2, &ip_time, &fo_time);
  }
}

// The targets' records first, padded to whole blocks of the potential
// kernel, then the sources: the kernel sums each target over the sources in
// slot order, as calc_pot does.
template <class L>
void resident_potential(double t, int js, int je, int ni, const int* index, float eps2,
                        double* pot) {
  constexpr int K = L::Order::kDerivs;
  ResidentStore<L>& s = resident_store<L>();
  if (!resident_range_ok<L>(js, je, s.n, "nbf_resident_potential")) return;
  if (!resident_indices_ok<L>(ni, index, s.n, "nbf_resident_potential")) return;
  if (!resident_args_ok<L>(eps2 >= 0.0f && (ni == 0 || pot != nullptr),
                           "nbf_resident_potential needs eps2 >= 0 and an output")) {
    return;
  }
  if (ni == 0) return;
  const int blocks = (ni - 1) / NTHREAD + 1;
  const int padded = blocks * NTHREAD;
  const int nj = je - js;
  const std::size_t records = static_cast<std::size_t>(padded) + nj + NTHREAD;
  static_assert(sizeof(Posm) % sizeof(double) == 0 && sizeof(float2) <= sizeof(double), "sizes");
  resident_reserve<L>(&s.out, &s.out_size, records * (sizeof(Posm) / sizeof(double)) + padded);
  Posm* posm = reinterpret_cast<Posm*>(s.out);
  float2* sums = reinterpret_cast<float2*>(s.out + records * (sizeof(Posm) / sizeof(double)));
  check_or_exit(L::kName, check_line::kResidentAlloc,
                rt::memset_device(posm, 0, records * sizeof(Posm)));
  const ResidentView view = s.view();
  const int* idx = resident_indices(s, ni, index);
  resident_launch<L>(rt::for_each(ni, ResidentPosm<K>{view, idx, 0, t, false, posm}));
  resident_launch<L>(rt::for_each(nj, ResidentPosm<K>{view, nullptr, js, t, true, posm + padded}));
  resident_launch<L>(rt::launch(L::pot, rt::Dim3{static_cast<unsigned>(blocks), 1, 1},
                                rt::Dim3{NTHREAD, 1, 1}, padded, padded + nj, eps2, posm, sums));
  rt::synchronize();
  float2* back = nullptr;
  check_or_exit(L::kName, check_line::kResidentAlloc,
                rt::malloc_pinned(reinterpret_cast<void**>(&back), ni * sizeof(float2)));
  check_or_exit(L::kName, check_line::kResidentCopyBack,
                rt::copy_to_host(back, sums, static_cast<std::size_t>(ni) * sizeof(float2)));
  for (int k = 0; k < ni; ++k) pot[k] = -ds_to_double(back[k]);
  rt::free_pinned(back);
}

template <class L>
void resident_neighbours(double t, int js, int je, int ni, const int* index, double radius,
                         int max_nb, int* count, int* list, int* overflow) {
  constexpr int K = L::Order::kDerivs;
  ResidentStore<L>& s = resident_store<L>();
  if (!resident_range_ok<L>(js, je, s.n, "nbf_resident_neighbours")) return;
  if (!resident_indices_ok<L>(ni, index, s.n, "nbf_resident_neighbours")) return;
  if (!resident_args_ok<L>(radius >= 0.0 && max_nb >= 0 && overflow != nullptr &&
                               (ni == 0 || count != nullptr) &&
                               (ni == 0 || max_nb == 0 || list != nullptr),
                           "nbf_resident_neighbours needs radius >= 0, max_nb >= 0 and outputs")) {
    return;
  }
  *overflow = 0;
  if (ni == 0) return;
  const int nj = je - js;
  const std::size_t nb_words = static_cast<std::size_t>(ni) * (1 + max_nb);
  resident_reserve<L>(&s.out, &s.out_size, 3 * static_cast<std::size_t>(nj) + nb_words);
  double* src = s.out;
  int* found = reinterpret_cast<int*>(s.out + 3 * static_cast<std::size_t>(nj));
  const ResidentView view = s.view();
  const int* idx = resident_indices(s, ni, index);
  resident_launch<L>(rt::for_each(nj, ResidentPositions<K>{view, js, t, src}));
  resident_launch<L>(rt::for_each(ni, ResidentGather<K>{view, idx, src, js, nj, t, radius * radius,
                                                        max_nb, found, found + ni}));
  rt::synchronize();
  check_or_exit(L::kName, check_line::kResidentCopyBack,
                rt::copy_to_host(count, found, static_cast<std::size_t>(ni) * sizeof(int)));
  if (max_nb > 0) {
    check_or_exit(
        L::kName, check_line::kResidentCopyBack,
        rt::copy_to_host(list, found + ni, static_cast<std::size_t>(ni) * max_nb * sizeof(int)));
  }
  for (int k = 0; k < ni; ++k) {
    if (count[k] > max_nb) *overflow = 1;
  }
}

}  // namespace nbf
