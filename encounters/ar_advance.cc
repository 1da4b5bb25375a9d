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
// The state is in centre-of-mass coordinates (no chain): the rounding of the
// separation of the closest pair is that of the positions, adequate for
// pericentres down to ~1e-4 of the group's size.
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "subsystem.h"
#include "vec3.h"

namespace encounters {

namespace {

// y = (t, B, x_0..x_{n-1}, v_0..v_{n-1}), 2 + 6n doubles.
constexpr int kT = 0;
constexpr int kB = 1;
constexpr int kX = 2;

struct Workspace {
  int n = 0;
  const std::vector<double>* m = nullptr;
  const Perturbation* p = nullptr;
  std::vector<Vec3> xs, acc;                   // positions and perturbation handed to the callback
  std::vector<double> a;                       // internal accelerations, 3n
  std::vector<std::vector<double>> row, prev;  // extrapolation rows
  std::int64_t evaluations = 0;
  double t_base = 0.0;  // absolute time at the start of the step; y[kT] is the time since
  int vx() const { return kX + 3 * n; }
};

double kinetic(const std::vector<double>& y, const Workspace& w) {
  double t = 0.0;
  const int v0 = w.vx();
  for (int i = 0; i < w.n; ++i) {
    const double* v = &y[v0 + 3 * i];
    t += 0.5 * (*w.m)[i] * (v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  }
  return t;
}

// Internal accelerations into w.a; returns U.
double forces(const std::vector<double>& y, Workspace& w) {
  const std::vector<double>& m = *w.m;
  std::fill(w.a.begin(), w.a.end(), 0.0);
  double u = 0.0;
  for (int i = 0; i < w.n; ++i) {
    for (int j = i + 1; j < w.n; ++j) {
      const double dx = y[kX + 3 * j] - y[kX + 3 * i];
      const double dy = y[kX + 3 * j + 1] - y[kX + 3 * i + 1];
      const double dz = y[kX + 3 * j + 2] - y[kX + 3 * i + 2];
      const double r2 = dx * dx + dy * dy + dz * dz;
      const double rinv = 1.0 / std::sqrt(r2);
      const double rinv3 = rinv * rinv * rinv;
      u += m[i] * m[j] * rinv;
      w.a[3 * i] += m[j] * dx * rinv3;
      w.a[3 * i + 1] += m[j] * dy * rinv3;
      w.a[3 * i + 2] += m[j] * dz * rinv3;
      w.a[3 * j] -= m[i] * dx * rinv3;
      w.a[3 * j + 1] -= m[i] * dy * rinv3;
      w.a[3 * j + 2] -= m[i] * dz * rinv3;
    }
  }
  ++w.evaluations;
  return u;
}

// The perturbation at the state's time and positions into w.acc, its
// mass-weighted mean removed.
void perturbation(const std::vector<double>& y, Workspace& w) {
  for (int i = 0; i < w.n; ++i) {
    w.xs[i] = {y[kX + 3 * i], y[kX + 3 * i + 1], y[kX + 3 * i + 2]};
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

void drift(std::vector<double>& y, double h, const Workspace& w) {
  const double dt = h / (kinetic(y, w) + y[kB]);
  const int v0 = w.vx();
  for (int i = 0; i < 3 * w.n; ++i) y[kX + i] += y[v0 + i] * dt;
  y[kT] += dt;
}

void kick(std::vector<double>& y, double h, Workspace& w) {
  const double dt = h / forces(y, w);
  const int v0 = w.vx();
  if (!w.p->active()) {
    for (int i = 0; i < 3 * w.n; ++i) y[v0 + i] += w.a[i] * dt;
    return;
  }
  perturbation(y, w);
  double power = 0.0;  // sum m f . (v + v') / 2
  for (int i = 0; i < w.n; ++i) {
    for (int k = 0; k < 3; ++k) {
      const double f = w.acc[i][k];
      const double before = y[v0 + 3 * i + k];
      const double after = before + (w.a[3 * i + k] + f) * dt;
      y[v0 + 3 * i + k] = after;
      power += (*w.m)[i] * f * 0.5 * (before + after);
    }
  }
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
// Differences below the rounding of the coordinates themselves (about
// `noise` roundings of each body's position and velocity) do not count:
// a tight pair far from the centre of mass cannot be resolved better than
// its coordinates are, and a tolerance below that must not shrink the step
// without end.
double step_error(const std::vector<double>& a, const std::vector<double>& b, double u0,
                  double noise, const Workspace& w) {
  const std::vector<double>& m = *w.m;
  const int v0 = w.vx();
  const double eps = noise * std::numeric_limits<double>::epsilon();
  double err = std::fabs(a[kT] - b[kT]) / std::fabs(a[kT]);
  err = std::max(err, std::fabs(a[kB] - b[kB]) / u0);
  auto len = [&](int base, int i) {
    const double* p = &a[base + 3 * i];
    return std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
  };
  for (int i = 0; i < w.n; ++i) {
    for (int j = i + 1; j < w.n; ++j) {
      double r2 = 0.0, w2 = 0.0, dr2 = 0.0, dw2 = 0.0;
      for (int k = 0; k < 3; ++k) {
        const double r = a[kX + 3 * j + k] - a[kX + 3 * i + k];
        const double dr = r - (b[kX + 3 * j + k] - b[kX + 3 * i + k]);
        const double vv = a[v0 + 3 * j + k] - a[v0 + 3 * i + k];
        const double dv = vv - (b[v0 + 3 * j + k] - b[v0 + 3 * i + k]);
        r2 += r * r;
        dr2 += dr * dr;
        w2 += vv * vv;
        dw2 += dv * dv;
      }
      const double vscale = std::sqrt(std::max(w2, (m[i] + m[j]) / std::sqrt(r2)));
      const double floor_r = eps * (len(kX, i) + len(kX, j));
      const double floor_v = eps * (len(v0, i) + len(v0, j));
      err = std::max(err, std::max(0.0, std::sqrt(dr2) - floor_r) / std::sqrt(r2));
      err = std::max(err, std::max(0.0, std::sqrt(dw2) - floor_v) / vscale);
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

// A first step in s: a tenth of the shortest pair time scale, times U.
double initial_step(const std::vector<double>& y, Workspace& w) {
  const std::vector<double>& m = *w.m;
  const int v0 = w.vx();
  double tmin = std::numeric_limits<double>::infinity();
  for (int i = 0; i < w.n; ++i) {
    for (int j = i + 1; j < w.n; ++j) {
      double r2 = 0.0, w2 = 0.0;
      for (int k = 0; k < 3; ++k) {
        const double r = y[kX + 3 * j + k] - y[kX + 3 * i + k];
        const double vv = y[v0 + 3 * j + k] - y[v0 + 3 * i + k];
        r2 += r * r;
        w2 += vv * vv;
      }
      const double r = std::sqrt(r2);
      tmin = std::min(tmin, r / (std::sqrt(w2) + std::sqrt((m[i] + m[j]) / r)));
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

  std::vector<double> y(2 + 6 * n), y1, trial;
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k) {
      y[kX + 3 * i + k] = s.x[i][k];
      y[w.vx() + 3 * i + k] = s.v[i][k];
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
    // Rounding moves the centre of mass off the origin by a random walk
    // (the leapfrog conserves momentum exactly only in exact arithmetic):
    // put it back, so that the record keeps its contract.
    double mtot = 0.0;
    Vec3 xc{0.0, 0.0, 0.0}, vc{0.0, 0.0, 0.0};
    for (int i = 0; i < n; ++i) {
      mtot += s.m[i];
      for (int k = 0; k < 3; ++k) {
        xc[k] += s.m[i] * y[kX + 3 * i + k];
        vc[k] += s.m[i] * y[w.vx() + 3 * i + k];
      }
    }
    for (int i = 0; i < n; ++i)
      for (int k = 0; k < 3; ++k) {
        s.x[i][k] = y[kX + 3 * i + k] - xc[k] / mtot;
        s.v[i][k] = y[w.vx() + 3 * i + k] - vc[k] / mtot;
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
    const int rows = gbs_step(y, h, y1, u0, w, settings);
    if (rows == 0 || !(y1[kT] > 0.0)) {
      ++s.rejected;
      h *= 0.5;
      if (++halvings > 60) fail("step collapsed");
      continue;
    }
    halvings = 0;
    // Landing tolerance: a few roundings of the target time.
    const double t_tol = 8.0 * kEps * std::max(std::fabs(t_target), y1[kT]);
    if (y1[kT] > remaining + t_tol) {
      // Past the target: iterate the step length so that the step ends on
      // it, Newton's method on t(h) with dt/ds = 1/(T + B) at the end,
      // kept inside the bracket [lo, hi].
      ++s.rejected;
      double lo = 0.0, t_lo = 0.0, hi = h, t_hi = y1[kT];
      double hn = lo + (hi - lo) * (remaining - t_lo) / (t_hi - t_lo);
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
        if (std::fabs(miss) <= t_tol) {
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
    for (int i = 0; i < 3 * n; ++i) {
      y[kX + i] += gap * (y[w.vx() + i] + 0.5 * gap * w.a[i]);
      y[w.vx() + i] += gap * w.a[i];
    }
  }
  t_now = t_target;
  commit();
  s.ds = h;
}

}  // namespace encounters
