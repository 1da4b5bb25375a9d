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
  w.p->tidal(y[kT], w.xs, w.acc);
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
double step_error(const std::vector<double>& y0, const std::vector<double>& a,
                  const std::vector<double>& b, double u0, const Workspace& w) {
  const std::vector<double>& m = *w.m;
  const int v0 = w.vx();
  double err = std::fabs(a[kT] - b[kT]) / std::fabs(a[kT] - y0[kT]);
  err = std::max(err, std::fabs(a[kB] - b[kB]) / u0);
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
      const double vscale2 = std::max(w2, (m[i] + m[j]) / std::sqrt(r2));
      err = std::max(err, std::sqrt(dr2 / r2));
      err = std::max(err, std::sqrt(dw2 / vscale2));
    }
  }
  return std::isfinite(err) ? err : std::numeric_limits<double>::infinity();
}

// One extrapolated step of size big_h from y0 into y1. Returns the number of
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
      const double err = step_error(y0, w.row[k], w.row[k - 1], u0, w);
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
  y[kT] = s.t;
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k) {
      y[kX + 3 * i + k] = s.x[i][k];
      y[w.vx() + 3 * i + k] = s.v[i][k];
    }
  y[kB] = forces(y, w) - kinetic(y, w);
  const double b_start = y[kB];

  double h = s.ds > 0.0 ? s.ds : initial_step(y, w);
  std::int64_t steps = 0;
  int halvings = 0;
  const double kEps = std::numeric_limits<double>::epsilon();
  auto commit = [&]() {
    for (int i = 0; i < n; ++i)
      for (int k = 0; k < 3; ++k) {
        s.x[i][k] = y[kX + 3 * i + k];
        s.v[i][k] = y[w.vx() + 3 * i + k];
      }
    // Rounding moves the centre of mass off the origin by a random walk
    // (the leapfrog conserves momentum exactly only in exact arithmetic):
    // put it back, so that the record keeps its contract.
    double mtot = 0.0;
    Vec3 xc{0.0, 0.0, 0.0}, vc{0.0, 0.0, 0.0};
    for (int i = 0; i < n; ++i) {
      mtot += s.m[i];
      for (int k = 0; k < 3; ++k) {
        xc[k] += s.m[i] * s.x[i][k];
        vc[k] += s.m[i] * s.v[i][k];
      }
    }
    for (int i = 0; i < n; ++i)
      for (int k = 0; k < 3; ++k) {
        s.x[i][k] -= xc[k] / mtot;
        s.v[i][k] -= vc[k] / mtot;
      }
    s.work += b_start - y[kB];
    s.force_evaluations += w.evaluations;
    w.evaluations = 0;
  };

  for (;;) {
    if (++steps > settings.max_steps) {
      commit();
      s.t = y[kT];
      throw std::runtime_error("encounters: ar_advance exceeded " +
                               std::to_string(settings.max_steps) + " steps");
    }
    const double u0 = forces(y, w);
    const int rows = gbs_step(y, h, y1, u0, w, settings);
    if (rows == 0 || !(y1[kT] > y[kT])) {
      ++s.rejected;
      h *= 0.5;
      if (++halvings > 60) {
        commit();
        s.t = y[kT];
        throw std::runtime_error("encounters: ar_advance step collapsed at t = " +
                                 std::to_string(y[kT]));
      }
      continue;
    }
    halvings = 0;
    const double t_tol = 8.0 * kEps * std::max(std::fabs(t_target), std::fabs(y1[kT] - y[kT]));
    if (y1[kT] > t_target + t_tol) {
      // Past the target: iterate the step length so that the step ends on
      // it, Newton's method on t(h) with dt/ds = 1/(T + B) at the end,
      // kept inside the bracket [lo, hi].
      ++s.rejected;
      double lo = 0.0, t_lo = y[kT], hi = h, t_hi = y1[kT];
      double hn = lo + (hi - lo) * (t_target - t_lo) / (t_hi - t_lo);
      bool landed = false;
      for (int it = 0; it < 60 && !landed; ++it) {
        const int r = gbs_step(y, hn, trial, u0, w, settings);
        if (r == 0 || !(trial[kT] > y[kT])) {
          hi = hn;  // too long a step to converge: shorten
          hn = 0.5 * (lo + hi);
          continue;
        }
        const double miss = trial[kT] - t_target;
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
        if (!(next > lo && next < hi)) next = lo + (hi - lo) * (t_target - t_lo) / (t_hi - t_lo);
        if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
        hn = next;
      }
      if (!landed) {
        // No landing from here: take the part of the interval that converged
        // as an ordinary step and try again from there.
        if (lo > 0.0 && gbs_step(y, lo, trial, u0, w, settings) > 0) {
          y = trial;
          ++s.steps;
          h = lo;
          continue;
        }
        commit();
        s.t = y[kT];
        throw std::runtime_error("encounters: ar_advance could not land on t = " +
                                 std::to_string(t_target));
      }
      y = trial;
      ++s.steps;
      break;
    }
    y = y1;
    ++s.steps;
    if (std::fabs(y[kT] - t_target) <= t_tol) break;
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
  const double gap = t_target - y[kT];
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
  commit();
  s.t = t_target;
  s.ds = h;
}

}  // namespace encounters
