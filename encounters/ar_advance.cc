// Algorithmic regularisation of a few-body subsystem.
//
// The integrator is the leapfrog of the logarithmic Hamiltonian (Mikkola &
// Tanikawa 1999; Preto & Tremaine 1999). With kinetic energy T, force
// function U = sum m_i m_j / r_ij and B = -E (minus the internal energy, a
// momentum conjugate to time), the drift moves positions and time at fixed
// velocities,
//   dt = h / (T + B),  x += v dt,
// and the kick changes velocities at fixed positions and time,
//   dt = h / U,  v += (a + f) dt,  B -= dt sum m_i f_i . (v_i + v_i') / 2,
// f the perturbing acceleration (positions and time only, so the kick is
// the exact flow of its part and no auxiliary velocity is needed). On the
// exact solution T + B = U, so both parts run on dt/ds = 1/U; for two bodies
// the leapfrog orbit is the exact Kepler ellipse with an error in time only,
// and collisions are regular.
//
// The leapfrog D(h/2) [K(h) D(h)]^(n-1) K(h) D(h/2) is symmetric, so its
// error is a series in (H/n)^2, and Gragg-Bulirsch-Stoer extrapolation on
// n = 2, 4, 6, ... (Deuflhard's sequence) by the Aitken-Neville scheme gives
// the step H in s to the tolerance. The error of a step is measured on every
// pair's separation and relative velocity, on the time advanced and on B
// against U, so that a tight pair inside a wide group is held to the same
// relative accuracy as the group.
//
// The state is held in chain coordinates (below), renewed between steps
// when the closest pairs change; the record itself keeps centre-of-mass
// coordinates, so each call starts and ends with one rounding of those.
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "subsystem.h"
#include "vec3.h"

namespace encounters {

namespace {

// y = (t, B, X_0..X_{n-2}, W_0..W_{n-2}), 2 + 6(n - 1) doubles: the chain
// vectors X_k = x_{c(k+1)} - x_{c(k)}, W_k = v_{c(k+1)} - v_{c(k)} along the
// chain c (Mikkola & Aarseth 1993), so that the separation of every pair
// adjacent in the chain -- the closest ones -- is held directly, not as the
// difference of two large coordinates. A pair's separation is the sum of the
// chain vectors between its members.
constexpr int kT = 0;
constexpr int kB = 1;
constexpr int kX = 2;

struct Workspace {
  int n = 0;
  const std::vector<double>* m = nullptr;
  const Perturbation* p = nullptr;
  std::vector<int> chain;     // body at each chain position
  std::vector<Vec3> xs, acc;  // positions and perturbation handed to the callback
  std::vector<double> a;      // accelerations of the bodies, 3n
  std::vector<double> q, u;   // positions and velocities of the bodies, 3n (scratch)
  std::vector<std::vector<double>> row, prev;  // extrapolation rows
  std::int64_t evaluations = 0;
  double t_base = 0.0;  // absolute time at the start of the step; y[kT] is the time since
  int links() const { return n - 1; }
  int vx() const { return kX + 3 * (n - 1); }
};

// Body coordinates relative to the centre of mass from chain vectors c
// (3(n-1) values) into out (3n values).
void unchain(const double* c, std::vector<double>& out, const Workspace& w) {
  const std::vector<double>& m = *w.m;
  if (w.n == 2) {
    // A pair: its bodies at -m_b / M and m_a / M of the one vector from
    // the first of the chain (a) to the second (b).
    const int a = w.chain[0], b = w.chain[1];
    const double mtot = m[0] + m[1];
    for (int d = 0; d < 3; ++d) {
      out[3 * a + d] = -(m[b] / mtot) * c[d];
      out[3 * b + d] = (m[a] / mtot) * c[d];
    }
    return;
  }
  double mtot = 0.0, mean[3] = {0.0, 0.0, 0.0}, run[3] = {0.0, 0.0, 0.0};
  for (int k = 0; k < w.n; ++k) {
    const int b = w.chain[k];
    if (k > 0)
      for (int d = 0; d < 3; ++d) run[d] += c[3 * (k - 1) + d];
    for (int d = 0; d < 3; ++d) {
      out[3 * b + d] = run[d];
      mean[d] += m[b] * run[d];
    }
    mtot += m[b];
  }
  for (int i = 0; i < w.n; ++i)
    for (int d = 0; d < 3; ++d) out[3 * i + d] -= mean[d] / mtot;
}

// Separation x_{c(l)} - x_{c(k)} (k < l) from chain vectors c.
inline void span(const double* c, int k, int l, double d[3]) {
  d[0] = d[1] = d[2] = 0.0;
  for (int j = k; j < l; ++j)
    for (int e = 0; e < 3; ++e) d[e] += c[3 * j + e];
}

double kinetic(const std::vector<double>& y, Workspace& w) {
  if (w.n == 2) {
    // mu W^2 / 2, W the relative velocity: no body velocities needed.
    const std::vector<double>& m = *w.m;
    const double* v = &y[w.vx()];
    return 0.5 * (m[0] * m[1] / (m[0] + m[1])) * (v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  }
  unchain(&y[w.vx()], w.u, w);
  double t = 0.0;
  for (int i = 0; i < w.n; ++i) {
    const double* v = &w.u[3 * i];
    t += 0.5 * (*w.m)[i] * (v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  }
  return t;
}

// Internal accelerations of the bodies into w.a; returns U.
double forces(const std::vector<double>& y, Workspace& w) {
  const std::vector<double>& m = *w.m;
  std::fill(w.a.begin(), w.a.end(), 0.0);
  double u = 0.0;
  for (int k = 0; k < w.n; ++k) {
    for (int l = k + 1; l < w.n; ++l) {
      double d[3];
      span(&y[kX], k, l, d);
      const int i = w.chain[k], j = w.chain[l];
      const double r2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
      const double rinv = 1.0 / std::sqrt(r2);
      const double rinv3 = rinv * rinv * rinv;
      u += m[i] * m[j] * rinv;
      for (int e = 0; e < 3; ++e) {
        w.a[3 * i + e] += m[j] * d[e] * rinv3;
        w.a[3 * j + e] -= m[i] * d[e] * rinv3;
      }
    }
  }
  ++w.evaluations;
  return u;
}

// The perturbation at the state's time and positions into w.acc, its
// mass-weighted mean removed.
void perturbation(const std::vector<double>& y, Workspace& w) {
  unchain(&y[kX], w.q, w);
  for (int i = 0; i < w.n; ++i) {
    w.xs[i] = {w.q[3 * i], w.q[3 * i + 1], w.q[3 * i + 2]};
    w.acc[i] = {0.0, 0.0, 0.0};
  }
  w.p->tidal(w.t_base + y[kT], w.xs, w.acc);
  double mtot = 0.0;
  Vec3 mean{0.0, 0.0, 0.0};
  for (int i = 0; i < w.n; ++i) {
    mtot += (*w.m)[i];
    for (int k = 0; k < 3; ++k) mean[k] += (*w.m)[i] * w.acc[i][k];
  }
  for (int i = 0; i < w.n; ++i)
    for (int k = 0; k < 3; ++k) w.acc[i][k] -= mean[k] / mtot;
}

void drift(std::vector<double>& y, double h, Workspace& w) {
  const double dt = h / (kinetic(y, w) + y[kB]);
  const int v0 = w.vx();
  for (int i = 0; i < 3 * w.links(); ++i) y[kX + i] += y[v0 + i] * dt;
  y[kT] += dt;
}

// Chain vectors of the body accelerations in `a` (3n) added to W times dt.
void kick_chain(std::vector<double>& y, const std::vector<double>& a, double dt,
                const Workspace& w) {
  const int v0 = w.vx();
  for (int k = 0; k < w.links(); ++k) {
    const int i = w.chain[k], j = w.chain[k + 1];
    for (int e = 0; e < 3; ++e) y[v0 + 3 * k + e] += (a[3 * j + e] - a[3 * i + e]) * dt;
  }
}

void kick(std::vector<double>& y, double h, Workspace& w) {
  const double dt = h / forces(y, w);
  if (!w.p->active()) {
    kick_chain(y, w.a, dt, w);
    return;
  }
  perturbation(y, w);
  // Power of the perturbation on the mean of the velocities before and
  // after the kick: sum m f . (v + v') / 2.
  unchain(&y[w.vx()], w.u, w);
  double power = 0.0;
  for (int i = 0; i < w.n; ++i)
    for (int e = 0; e < 3; ++e) {
      const double f = w.acc[i][e];
      power += (*w.m)[i] * f * (w.u[3 * i + e] + 0.5 * (w.a[3 * i + e] + f) * dt);
      w.a[3 * i + e] += f;
    }
  kick_chain(y, w.a, dt, w);
  y[kB] -= power * dt;
}

void leapfrog(const std::vector<double>& y0, double big_h, int substeps, std::vector<double>& y,
              Workspace& w) {
  y = y0;
  const double h = big_h / substeps;
  drift(y, 0.5 * h, w);
  for (int i = 0; i < substeps; ++i) {
    kick(y, h, w);
    drift(y, i + 1 == substeps ? 0.5 * h : h, w);
  }
}

// Error of a against the lower-order b, relative as described at the top.
// Differences below the rounding of the separations themselves (about
// `noise` roundings of the chain vectors summed) do not count, so that a
// tolerance below what the coordinates can hold does not shrink the step
// without end.
double step_error(const std::vector<double>& a, const std::vector<double>& b, double u0,
                  double noise, const Workspace& w) {
  const std::vector<double>& m = *w.m;
  const int v0 = w.vx();
  const double eps = noise * std::numeric_limits<double>::epsilon();
  double err = std::fabs(a[kT] - b[kT]) / std::fabs(a[kT]);
  err = std::max(err, std::fabs(a[kB] - b[kB]) / u0);
  for (int k = 0; k < w.n; ++k) {
    for (int l = k + 1; l < w.n; ++l) {
      double r[3], rb[3], vv[3], vb[3];
      span(&a[kX], k, l, r);
      span(&b[kX], k, l, rb);
      span(&a[v0], k, l, vv);
      span(&b[v0], k, l, vb);
      double floor_r = 0.0, floor_v = 0.0;
      for (int j = k; j < l; ++j) {
        floor_r += std::sqrt(a[kX + 3 * j] * a[kX + 3 * j] + a[kX + 3 * j + 1] * a[kX + 3 * j + 1] +
                             a[kX + 3 * j + 2] * a[kX + 3 * j + 2]);
        floor_v += std::sqrt(a[v0 + 3 * j] * a[v0 + 3 * j] + a[v0 + 3 * j + 1] * a[v0 + 3 * j + 1] +
                             a[v0 + 3 * j + 2] * a[v0 + 3 * j + 2]);
      }
      double r2 = 0.0, w2 = 0.0, dr2 = 0.0, dw2 = 0.0;
      for (int e = 0; e < 3; ++e) {
        r2 += r[e] * r[e];
        w2 += vv[e] * vv[e];
        dr2 += (r[e] - rb[e]) * (r[e] - rb[e]);
        dw2 += (vv[e] - vb[e]) * (vv[e] - vb[e]);
      }
      const int i = w.chain[k], j = w.chain[l];
      const double vscale = std::sqrt(std::max(w2, (m[i] + m[j]) / std::sqrt(r2)));
      err = std::max(err, std::max(0.0, std::sqrt(dr2) - eps * floor_r) / std::sqrt(r2));
      err = std::max(err, std::max(0.0, std::sqrt(dw2) - eps * floor_v) / vscale);
    }
  }
  return std::isfinite(err) ? err : std::numeric_limits<double>::infinity();
}

// One extrapolated step of size big_h from y0 (whose time y0[kT] is 0: time
// is counted from the start of the step, so that its error is not swamped
// by the rounding of a large absolute time) into y1. Returns the number of
// rows used (>= 3) when the tolerance is met, 0 otherwise.
int gbs_step(const std::vector<double>& y0, double big_h, std::vector<double>& y1, double u0,
             Workspace& w, const ArSettings& settings) {
  const int kmax = std::max(3, settings.max_columns);
  w.row.resize(kmax);
  w.prev.resize(kmax);
  for (int k = 0; k < kmax; ++k) {
    const int nk = 2 * (k + 1);
    leapfrog(y0, big_h, nk, w.row[0], w);
    for (int j = 1; j <= k; ++j) {
      const double ratio = static_cast<double>(nk) / (2 * (k - j + 1));
      const double denom = ratio * ratio - 1.0;
      std::vector<double>& r = w.row[j];
      const std::vector<double>& lo = w.row[j - 1];
      const std::vector<double>& up = w.prev[j - 1];
      r.resize(lo.size());
      for (std::size_t i = 0; i < lo.size(); ++i) r[i] = lo[i] + (lo[i] - up[i]) / denom;
    }
    if (k >= 2) {
      const double err = step_error(w.row[k], w.row[k - 1], u0, 4.0 * nk, w);
      if (err <= settings.tolerance) {
        y1 = w.row[k];
        return k + 1;
      }
    }
    std::swap(w.row, w.prev);
  }
  return 0;
}

// The chain through the bodies: the closest pair first, then at either end
// the body closest to that end, until all are in. dist2(i, j) is the squared
// separation of bodies i and j.
template <typename Dist2>
std::vector<int> build_chain(int n, Dist2 dist2) {
  int bi = 0, bj = 1;
  double best = std::numeric_limits<double>::infinity();
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j)
      if (dist2(i, j) < best) {
        best = dist2(i, j);
        bi = i;
        bj = j;
      }
  std::vector<int> chain{bi, bj};
  std::vector<bool> used(n, false);
  used[bi] = used[bj] = true;
  while (static_cast<int>(chain.size()) < n) {
    int pick = -1;
    bool at_front = false;
    double nearest = std::numeric_limits<double>::infinity();
    for (int r = 0; r < n; ++r) {
      if (used[r]) continue;
      const double front = dist2(r, chain.front()), back = dist2(r, chain.back());
      if (front < nearest) {
        nearest = front;
        pick = r;
        at_front = true;
      }
      if (back < nearest) {
        nearest = back;
        pick = r;
        at_front = false;
      }
    }
    used[pick] = true;
    if (at_front)
      chain.insert(chain.begin(), pick);
    else
      chain.push_back(pick);
  }
  return chain;
}

// Rebuilds the chain of y when the closest pairs are no longer its links.
// The new chain vectors are sums of the old ones, so that no separation is
// taken from centre-of-mass coordinates. Returns true when it changed.
bool renew_chain(std::vector<double>& y, Workspace& w) {
  const int n = w.n;
  std::vector<int> where(n);
  for (int k = 0; k < n; ++k) where[w.chain[k]] = k;
  // Separation x_j - x_i from chain vectors c.
  auto sep = [&](const double* c, int i, int j, double d[3]) {
    const int ki = where[i], kj = where[j];
    if (ki < kj) {
      span(c, ki, kj, d);
    } else {
      span(c, kj, ki, d);
      for (int e = 0; e < 3; ++e) d[e] = -d[e];
    }
  };
  auto dist2 = [&](int i, int j) {
    double d[3];
    sep(&y[kX], i, j, d);
    return d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
  };
  std::vector<int> next = build_chain(n, dist2);
  std::vector<int> reversed(next.rbegin(), next.rend());
  if (next == w.chain || reversed == w.chain) return false;
  std::vector<double> z = y;
  for (int k = 0; k + 1 < n; ++k) {
    sep(&y[kX], next[k], next[k + 1], &z[kX + 3 * k]);
    sep(&y[w.vx()], next[k], next[k + 1], &z[w.vx() + 3 * k]);
  }
  y = z;
  w.chain = next;
  return true;
}

// A first step in s: a tenth of the shortest pair time scale, times U.
double initial_step(const std::vector<double>& y, Workspace& w) {
  const std::vector<double>& m = *w.m;
  const int v0 = w.vx();
  double tmin = std::numeric_limits<double>::infinity();
  for (int k = 0; k < w.n; ++k) {
    for (int l = k + 1; l < w.n; ++l) {
      double d[3], vv[3];
      span(&y[kX], k, l, d);
      span(&y[v0], k, l, vv);
      const double r = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      const double speed = std::sqrt(vv[0] * vv[0] + vv[1] * vv[1] + vv[2] * vv[2]);
      tmin = std::min(tmin, r / (speed + std::sqrt((m[w.chain[k]] + m[w.chain[l]]) / r)));
    }
  }
  return 0.1 * tmin * forces(y, w);
}

}  // namespace

void ar_advance(Subsystem& s, double t_target, const Perturbation& p, const ArSettings& settings) {
  check_subsystem(s);
  if (!std::isfinite(t_target) || t_target < s.t)
    throw std::invalid_argument("encounters: ar_advance target time " + std::to_string(t_target) +
                                " lies before the subsystem's time " + std::to_string(s.t));
  if (!(settings.tolerance > 0.0))
    throw std::invalid_argument("encounters: the extrapolation tolerance must be positive");
  if (t_target == s.t) return;
  const int n = static_cast<int>(s.m.size());
  if (settings.kepler_shortcut && n == 2 && !p.active()) {
    kepler_drift(s, t_target - s.t);
    s.t = t_target;
    return;
  }

  Workspace w;
  w.n = n;
  w.m = &s.m;
  w.p = &p;
  w.xs.resize(n);
  w.acc.resize(n);
  w.a.resize(3 * n);
  w.q.resize(3 * n);
  w.u.resize(3 * n);
  w.chain = build_chain(n, [&](int i, int j) {
    const Vec3 d = sub(s.x[j], s.x[i]);
    return dot(d, d);
  });

  std::vector<double> y(2 + 6 * (n - 1)), y1, trial;
  for (int k = 0; k + 1 < n; ++k) {
    const int i = w.chain[k], j = w.chain[k + 1];
    for (int e = 0; e < 3; ++e) {
      y[kX + 3 * k + e] = s.x[j][e] - s.x[i][e];
      y[w.vx() + 3 * k + e] = s.v[j][e] - s.v[i][e];
    }
  }
  y[kT] = 0.0;
  y[kB] = forces(y, w) - kinetic(y, w);
  const double b_start = y[kB];

  double t_now = s.t;  // time of y; y[kT] is 0 between steps
  double h = s.ds > 0.0 ? s.ds : initial_step(y, w);
  std::int64_t steps = 0;
  int halvings = 0;
  const double kEps = std::numeric_limits<double>::epsilon();
  auto commit = [&]() {
    // Back to centre-of-mass coordinates (which also takes out any drift
    // of the centre of mass by rounding).
    unchain(&y[kX], w.q, w);
    unchain(&y[w.vx()], w.u, w);
    for (int i = 0; i < n; ++i)
      for (int k = 0; k < 3; ++k) {
        s.x[i][k] = w.q[3 * i + k];
        s.v[i][k] = w.u[3 * i + k];
      }
    s.work += b_start - y[kB];
    s.force_evaluations += w.evaluations;
    w.evaluations = 0;
    s.t = t_now;
  };
  auto fail = [&](const std::string& what) {
    commit();
    throw std::runtime_error("encounters: ar_advance " + what + " at t = " + std::to_string(t_now) +
                             " (target " + std::to_string(t_target) + ")");
  };

  for (;;) {
    if (++steps > settings.max_steps)
      fail("exceeded " + std::to_string(settings.max_steps) + " steps");
    w.t_base = t_now;
    const double remaining = t_target - t_now;
    const double u0 = forces(y, w);
    // What is left so small that the Taylor step closes it to rounding
    // (tiny calls, or a last step just short of the target).
    if (remaining <= 1e-8 * (h / u0)) break;
    // A step whose time, dt ~ h / U, would clearly pass the target goes
    // straight to the landing (no step computed only to be refused).
    const bool past_by_estimate = h > 1.5 * remaining * u0;
    int rows = 0;
    if (!past_by_estimate) {
      rows = gbs_step(y, h, y1, u0, w, settings);
      if (rows == 0 || !(y1[kT] > 0.0)) {
        ++s.rejected;
        h *= 0.5;
        if (++halvings > 60) fail("step collapsed");
        continue;
      }
      halvings = 0;
    }
    // Landing tolerance: a few roundings of the target time.
    const double t_tol = 8.0 * kEps * std::max(std::fabs(t_target), remaining);
    if (past_by_estimate || y1[kT] > remaining + t_tol) {
      // Past the target: iterate the step length so that the step ends on
      // it, Newton's method on t(h) with dt/ds = 1/(T + B) at the end,
      // kept inside the bracket [lo, hi] (hi's time unknown when the step
      // was only estimated to pass).
      double lo = 0.0, t_lo = 0.0, hi = 2.0 * h;  // by the estimate, hi passes with room
      double t_hi = std::numeric_limits<double>::quiet_NaN();
      double hn = remaining * u0;
      if (!past_by_estimate) {
        ++s.rejected;
        hi = h;
        t_hi = y1[kT];
        hn = lo + (hi - lo) * (remaining - t_lo) / (t_hi - t_lo);
      }
      bool landed = false;
      for (int it = 0; it < 60 && !landed; ++it) {
        const int r = gbs_step(y, hn, trial, u0, w, settings);
        if (r == 0 || !(trial[kT] > 0.0)) {
          hi = hn;  // too long a step to converge: shorten
          t_hi = std::numeric_limits<double>::quiet_NaN();
          hn = 0.5 * (lo + hi);
          continue;
        }
        const double miss = trial[kT] - remaining;
        // Close enough when the Taylor step that closes the gap (error
        // ~ jerk gap^3) is far below the tolerance: a gap of 1e-8 of the
        // step's time, a small part of the local dynamical time.
        if (std::fabs(miss) <= std::max(t_tol, 1e-8 * trial[kT])) {
          landed = true;
          break;
        }
        if (miss > 0.0) {
          hi = hn;
          t_hi = trial[kT];
        } else {
          lo = hn;
          t_lo = trial[kT];
        }
        double next = hn - miss * (kinetic(trial, w) + trial[kB]);
        if (!(next > lo && next < hi)) next = lo + (hi - lo) * (remaining - t_lo) / (t_hi - t_lo);
        if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
        hn = next;
      }
      if (!landed) {
        // No landing from here: take the part of the interval that converged
        // as an ordinary step and try again from there.
        if (lo > 0.0 && gbs_step(y, lo, trial, u0, w, settings) > 0) {
          t_now += trial[kT];
          y = trial;
          y[kT] = 0.0;
          ++s.steps;
          h = lo;
          continue;
        }
        fail("could not land on the target time");
      }
      y = trial;
      ++s.steps;
      break;
    }
    const bool arrived = std::fabs(y1[kT] - remaining) <= t_tol;
    y = y1;
    ++s.steps;
    if (arrived) break;
    t_now += y[kT];
    y[kT] = 0.0;
    renew_chain(y, w);
    // Step control: aim at convergence with 5 rows (n up to 10).
    if (rows <= 3)
      h *= 1.5;
    else if (rows == 4)
      h *= 1.2;
    else if (rows > 5)
      h *= 0.7;
  }
  // The last step ends within a few roundings of the target; close the gap
  // by a Taylor step so that the state belongs to t_target itself.
  const double gap = (t_target - t_now) - y[kT];
  if (gap != 0.0) {
    forces(y, w);
    if (p.active()) {
      perturbation(y, w);
      for (int i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k) w.a[3 * i + k] += w.acc[i][k];
    }
    for (int k = 0; k + 1 < n; ++k) {
      const int i = w.chain[k], j = w.chain[k + 1];
      for (int e = 0; e < 3; ++e) {
        const double da = w.a[3 * j + e] - w.a[3 * i + e];
        y[kX + 3 * k + e] += gap * (y[w.vx() + 3 * k + e] + 0.5 * gap * da);
        y[w.vx() + 3 * k + e] += gap * da;
      }
    }
  }
  t_now = t_target;
  commit();
  s.ds = h;
}

}  // namespace encounters
