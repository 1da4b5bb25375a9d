// Stars in the fields through the integrator, on a backend with no mutual
// forces: a star on an epicycle of Hill's field against the analytic
// solution (the Jacobi energy over 100 orbits, convergence of each order
// with one shared step), and stars on regular orbits in each galaxy
// component and a sum, in the frame of a reference orbit, against a
// separately written Runge-Kutta integration of the galactic orbits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "comm.h"
#include "field.h"
#include "integrator.h"
#include "orbit.h"
#include "potentials.h"

namespace fields_test {
namespace {

using fields::Vec3;

// A lone star: no mutual forces, no potential.
struct NoForces {
  void forces(const std::vector<int>& list, const hermite::Predicted&, Vec3* out) {
    (void)list, (void)out;
  }
  void potential(const std::vector<Vec3>&, double* pot) { pot[0] = 0.0; }
};

struct Star {
  Vec3 x, v;
};

template <int K>
class Lone {
 public:
  Lone(fields::Field& f, const Star& s, double eta, double dt_max, double shared_dt) {
    model_.mass = {1.0};
    model_.pos = {s.x};
    model_.vel = {s.v};
    settings_.eta = eta;
    settings_.dt_max = dt_max;
    settings_.shared_dt = shared_dt;
    settings_.field = &f;
    integ_ = std::make_unique<hermite::Integrator<K, NoForces>>(model_, settings_, backend_, comm_,
                                                                0, 1);
    integ_->start();
  }
  Star at(double t) {
    integ_->advance_to(t);
    return {integ_->positions()[0], integ_->velocities()[0]};
  }
  long long steps() const { return integ_->counters().particle_steps; }

 private:
  hermite::Model model_;
  hermite::Settings settings_;
  NoForces backend_;
  hermite::Comm comm_;
  std::unique_ptr<hermite::Integrator<K, NoForces>> integ_;
};

// The epicycle about the centre of Hill's field: x = A cos wt,
// y = -2A sin wt, z = B cos wt.
Star epicycle(double w, double a, double b, double t) {
  const double c = std::cos(w * t), s = std::sin(w * t);
  return {{a * c, -2.0 * a * s, b * c}, {-a * w * s, -2.0 * a * w * c, -b * w * s}};
}

double distance(const Vec3& p, const Vec3& q) {
  return std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]);
}

// Jacobi energy per unit mass in Hill's field, written from the formula.
double jacobi_energy(double w, const Star& s) {
  return 0.5 * (s.v[0] * s.v[0] + s.v[1] * s.v[1] + s.v[2] * s.v[2]) +
         w * w * (-1.5 * s.x[0] * s.x[0] + 0.5 * s.x[2] * s.x[2]);
}

template <int K>
double hill_energy_error(double eta, long long* steps) {
  const double w = 2.0 * M_PI, a = 0.3, b = 0.2;  // one orbit per unit of time
  auto field = fields::make_hill_field(w);
  Lone<K> run(*field, epicycle(w, a, b, 0.0), eta, 1.0 / 16, 0.0);
  const double e0 = jacobi_energy(w, epicycle(w, a, b, 0.0));
  double worst = 0.0;
  for (int t = 1; t <= 100; ++t) {
    worst = std::fmax(worst, std::fabs(jacobi_energy(w, run.at(t)) - e0) / (w * w * a * a));
  }
  *steps = run.steps();
  return worst;
}

// The accuracy parameters are far below the programs' defaults: a lone star
// takes its steps from the field's own time scale, 1 / omega, where the
// defaults give some 30 to 60 steps an orbit (and order 8, whose stability
// limit is relaxed away from two-body motion, steps of omega h = 0.2 at
// times, where the Coriolis term makes it unstable; see fields/README.md).
TEST(HillField, JacobiEnergyOfAnEpicycleOver100Orbits) {
  long long n4, n6, n8;
  const double eta4 = 1e-3, eta6 = 3e-4, eta8 = 1e-2;
  const double e4 = hill_energy_error<2>(eta4, &n4);
  const double e6 = hill_energy_error<3>(eta6, &n6);
  const double e8 = hill_energy_error<4>(eta8, &n8);
  std::printf(
      "|dE_J| / (omega^2 A^2) over 100 orbits: order 4 (eta %g) %.2e in %lld steps, "
      "order 6 (eta %g) %.2e in %lld, order 8 (eta %g) %.2e in %lld\n",
      eta4, e4, n4, eta6, e6, n6, eta8, e8, n8);
  EXPECT_LT(e4, 1e-7);
  EXPECT_LT(e6, 1e-10);
  EXPECT_LT(e8, 1e-10);
}

struct Errors {
  double plane = 0.0, z = 0.0;  // the epicycle in the plane, the vertical oscillation
};

// Position errors after 2.25 orbits (of period 2) with one shared step h.
template <int K>
Errors hill_shared_error(double h) {
  const double w = M_PI, a = 0.3, b = 0.2, t = 4.5;
  auto field = fields::make_hill_field(w);
  Lone<K> run(*field, epicycle(w, a, b, 0.0), 0.01, 0.5, h);
  const Vec3 got = run.at(t).x, want = epicycle(w, a, b, t).x;
  return {std::hypot(got[0] - want[0], got[1] - want[1]), std::fabs(got[2] - want[2])};
}

template <int K>
Errors slopes(double h) {
  const Errors e1 = hill_shared_error<K>(h), e2 = hill_shared_error<K>(h / 2);
  return {std::log2(e1.plane / e2.plane), std::log2(e1.z / e2.z)};
}

// With the Coriolis term the corrector runs twice (P(EC)^2). The vertical
// oscillation converges at the scheme's order; the epicycle in the plane,
// where the Coriolis term acts, at least as fast (measured: 6.0, 7.8 and
// 9.9 for orders 4, 6 and 8).
TEST(HillField, SharedStepsConvergeAtTheSchemesOrders) {
  const Errors s4 = slopes<2>(1.0 / 32), s6 = slopes<3>(1.0 / 16);
  // Order 8: z from omega h = 0.2 (at 0.1 its error after the run is near
  // the rounding), the plane from 0.1 (at 0.2 the Coriolis term makes the
  // scheme unstable).
  const Errors s8{slopes<4>(1.0 / 32).plane, slopes<4>(1.0 / 16).z};
  std::printf(
      "slopes in the plane and in z: order 4 %.2f %.2f, order 6 %.2f %.2f, order 8 "
      "%.2f %.2f\n",
      s4.plane, s4.z, s6.plane, s6.z, s8.plane, s8.z);
  EXPECT_NEAR(s4.z, 4.0, 0.3);
  EXPECT_NEAR(s6.z, 6.0, 0.3);
  EXPECT_GT(s8.z, 7.7);  // measured 9.3
  EXPECT_GT(s4.plane, 3.7);
  EXPECT_GT(s6.plane, 5.7);
  EXPECT_GT(s8.plane, 7.7);
}

// The reference: classical Runge-Kutta on the galactic orbit with the
// gradient of the potentials written again, on n and 2n steps and
// extrapolated (error of order 5 in the step).
Star rk4(const std::vector<Potential>& phi, const Star& s0, double t, int n) {
  auto rk = [&](int steps) {
    Star s = s0;
    const double h = t / steps;
    for (int k = 0; k < steps; ++k) {
      Vec3 kx[4], kv[4];
      Star p = s;
      for (int st = 0; st < 4; ++st) {
        if (st > 0) {
          const double c = st == 3 ? h : 0.5 * h;
          for (int i = 0; i < 3; ++i) {
            p.x[i] = s.x[i] + c * kx[st - 1][i];
            p.v[i] = s.v[i] + c * kv[st - 1][i];
          }
        }
        kx[st] = p.v;
        kv[st] = gradient_acceleration(phi, p.x);
      }
      for (int i = 0; i < 3; ++i) {
        s.x[i] += h / 6 * (kx[0][i] + 2 * kx[1][i] + 2 * kx[2][i] + kx[3][i]);
        s.v[i] += h / 6 * (kv[0][i] + 2 * kv[1][i] + 2 * kv[2][i] + kv[3][i]);
      }
    }
    return s;
  };
  const Star a = rk(n), b = rk(2 * n);
  Star out;
  for (int i = 0; i < 3; ++i) {
    out.x[i] = b.x[i] + (b.x[i] - a.x[i]) / 15.0;
    out.v[i] = b.v[i] + (b.v[i] - a.v[i]) / 15.0;
  }
  return out;
}

TEST(OrbitField, StarsOnGalacticOrbitsMatchAnIndependentIntegration) {
  for (const Case& k : cases()) {
    // An inclined, mildly eccentric orbit at the case's radius.
    const double r = k.radius;
    const Vec3 g = gradient_acceleration(k.phi, Vec3{r, 0.0, 0.0});
    const double vc = std::sqrt(-g[0] * r), period = 2.0 * M_PI * r / vc;
    const Star centre{{r, 0.0, 0.05 * r}, {0.05 * vc, 0.85 * vc, 0.3 * vc}};
    const Star rel{{0.01 * r, -0.006 * r, 0.004 * r}, {0.004 * vc, 0.01 * vc, -0.003 * vc}};
    const double dt_max = std::ldexp(1.0, static_cast<int>(std::floor(std::log2(period / 64))));
    const double t_end = std::ceil(10.0 * period / dt_max) * dt_max;

    auto field = fields::make_orbit_field(k.galaxy, centre.x, centre.v);
    // eta 0.02: at the default 0.08 the star that crosses the thin disc
    // (Miyamoto-Nagai, b = 0.3) ends 6e-8 of r from the reference.
    Lone<4> run(*field, rel, 0.02, dt_max, 0.0);
    const double e0 = 0.5 * (rel.v[0] * rel.v[0] + rel.v[1] * rel.v[1] + rel.v[2] * rel.v[2]) +
                      field->potential(0.0, rel.x);
    const Star end = run.at(t_end);

    Star star0;
    for (int i = 0; i < 3; ++i) {
      star0.x[i] = centre.x[i] + rel.x[i];
      star0.v[i] = centre.v[i] + rel.v[i];
    }
    const int n = static_cast<int>(std::ceil(t_end / period)) * 1000;
    const Star c_ref = rk4(k.phi, centre, t_end, n), s_ref = rk4(k.phi, star0, t_end, n);
    Vec3 want;
    for (int i = 0; i < 3; ++i) want[i] = s_ref.x[i] - c_ref.x[i];
    const double err = distance(end.x, want);
    // The reference orbit itself.
    fields::Orbit orbit(*k.galaxy, centre.x, centre.v);
    Vec3 oc, ov;
    orbit.at(t_end, oc, ov);
    const double err_c = distance(oc, c_ref.x);
    // Energy less the work of the changing tide.
    const double e1 = 0.5 * (end.v[0] * end.v[0] + end.v[1] * end.v[1] + end.v[2] * end.v[2]) +
                      field->potential(t_end, end.x);
    // The star drifts from the centre along the orbit; its energy and the
    // work grow with the tide it meets.
    const double balance = std::fabs(e1 - field->work() - e0) / std::fabs(field->work());
    std::printf(
        "%s: 10 orbits to t = %g, star %.2e, centre %.2e of r; balance %.2e of "
        "the work %.2e\n",
        k.name.c_str(), t_end, err / r, err_c / r, balance, field->work());
    EXPECT_LT(err, 1e-8 * r) << k.name;
    EXPECT_LT(err_c, 1e-8 * r) << k.name;
    EXPECT_LT(balance, 1e-6) << k.name;
  }
}

}  // namespace
}  // namespace fields_test
