// Yardstick (a): the direct sums in double precision as a careful user
// writes them, with no help from the library. Built twice (see
// bench_common.h); NBBENCH_PLAIN_NS names the copy.
#include <cmath>

#include "bench_common.h"

namespace nbbench {
namespace NBBENCH_PLAIN_NS {

void force4(const Cloud& c, int ni, int nj, double eps2, double* out) {
  const double* m = c.m.data();
  const double *x = c.x[0].data(), *y = c.x[1].data(), *z = c.x[2].data();
  const double *vx = c.v[0].data(), *vy = c.v[1].data(), *vz = c.v[2].data();
#pragma omp parallel for schedule(static)
  for (int i = 0; i < ni; ++i) {
    const double xi = x[i], yi = y[i], zi = z[i], vxi = vx[i], vyi = vy[i], vzi = vz[i];
    double ax = 0, ay = 0, az = 0, jx = 0, jy = 0, jz = 0;
    for (int j = 0; j < nj; ++j) {
      const double dx = x[j] - xi, dy = y[j] - yi, dz = z[j] - zi;
      const double dvx = vx[j] - vxi, dvy = vy[j] - vyi, dvz = vz[j] - vzi;
      const double r2 = dx * dx + dy * dy + dz * dz + eps2;
      const double rinv = 1.0 / std::sqrt(r2);
      const double rinv2 = rinv * rinv;
      const double mr3 = m[j] * rinv * rinv2;
      const double alpha3 = 3.0 * (dx * dvx + dy * dvy + dz * dvz) * rinv2;
      ax += mr3 * dx;
      ay += mr3 * dy;
      az += mr3 * dz;
      jx += mr3 * (dvx - alpha3 * dx);
      jy += mr3 * (dvy - alpha3 * dy);
      jz += mr3 * (dvz - alpha3 * dz);
    }
    double* o = out + 6L * i;
    o[0] = ax, o[1] = ay, o[2] = az, o[3] = jx, o[4] = jy, o[5] = jz;
  }
}

void force6(const Cloud& c, int ni, int nj, double eps2, double* out) {
  const double* m = c.m.data();
  const double *x = c.x[0].data(), *y = c.x[1].data(), *z = c.x[2].data();
  const double *vx = c.v[0].data(), *vy = c.v[1].data(), *vz = c.v[2].data();
  const double *ax_ = c.a[0].data(), *ay_ = c.a[1].data(), *az_ = c.a[2].data();
#pragma omp parallel for schedule(static)
  for (int i = 0; i < ni; ++i) {
    const double xi = x[i], yi = y[i], zi = z[i], vxi = vx[i], vyi = vy[i], vzi = vz[i];
    const double axi = ax_[i], ayi = ay_[i], azi = az_[i];
    double ax = 0, ay = 0, az = 0, jx = 0, jy = 0, jz = 0, sx = 0, sy = 0, sz = 0;
    for (int j = 0; j < nj; ++j) {
      const double dx = x[j] - xi, dy = y[j] - yi, dz = z[j] - zi;
      const double dvx = vx[j] - vxi, dvy = vy[j] - vyi, dvz = vz[j] - vzi;
      const double dax = ax_[j] - axi, day = ay_[j] - ayi, daz = az_[j] - azi;
      const double r2 = dx * dx + dy * dy + dz * dz + eps2;
      const double rinv = 1.0 / std::sqrt(r2);
      const double rinv2 = rinv * rinv;
      const double mr3 = m[j] * rinv * rinv2;
      const double alpha = (dx * dvx + dy * dvy + dz * dvz) * rinv2;
      const double beta =
          (dvx * dvx + dvy * dvy + dvz * dvz + dx * dax + dy * day + dz * daz) * rinv2 +
          alpha * alpha;
      const double tax = mr3 * dx, tay = mr3 * dy, taz = mr3 * dz;
      const double tjx = mr3 * dvx - 3.0 * alpha * tax;
      const double tjy = mr3 * dvy - 3.0 * alpha * tay;
      const double tjz = mr3 * dvz - 3.0 * alpha * taz;
      ax += tax, ay += tay, az += taz;
      jx += tjx, jy += tjy, jz += tjz;
      sx += mr3 * dax - 6.0 * alpha * tjx - 3.0 * beta * tax;
      sy += mr3 * day - 6.0 * alpha * tjy - 3.0 * beta * tay;
      sz += mr3 * daz - 6.0 * alpha * tjz - 3.0 * beta * taz;
    }
    double* o = out + 9L * i;
    o[0] = ax, o[1] = ay, o[2] = az, o[3] = jx, o[4] = jy, o[5] = jz;
    o[6] = sx, o[7] = sy, o[8] = sz;
  }
}

void force8(const Cloud& c, int ni, int nj, double eps2, double* out) {
  const double* m = c.m.data();
  const double *x = c.x[0].data(), *y = c.x[1].data(), *z = c.x[2].data();
  const double *vx = c.v[0].data(), *vy = c.v[1].data(), *vz = c.v[2].data();
  const double *ax_ = c.a[0].data(), *ay_ = c.a[1].data(), *az_ = c.a[2].data();
  const double *jx_ = c.j[0].data(), *jy_ = c.j[1].data(), *jz_ = c.j[2].data();
#pragma omp parallel for schedule(static)
  for (int i = 0; i < ni; ++i) {
    const double xi = x[i], yi = y[i], zi = z[i], vxi = vx[i], vyi = vy[i], vzi = vz[i];
    const double axi = ax_[i], ayi = ay_[i], azi = az_[i];
    const double jxi = jx_[i], jyi = jy_[i], jzi = jz_[i];
    double ax = 0, ay = 0, az = 0, jx = 0, jy = 0, jz = 0, sx = 0, sy = 0, sz = 0;
    double cx = 0, cy = 0, cz = 0;
    for (int j = 0; j < nj; ++j) {
      const double dx = x[j] - xi, dy = y[j] - yi, dz = z[j] - zi;
      const double dvx = vx[j] - vxi, dvy = vy[j] - vyi, dvz = vz[j] - vzi;
      const double dax = ax_[j] - axi, day = ay_[j] - ayi, daz = az_[j] - azi;
      const double djx = jx_[j] - jxi, djy = jy_[j] - jyi, djz = jz_[j] - jzi;
      const double r2 = dx * dx + dy * dy + dz * dz + eps2;
      const double rinv = 1.0 / std::sqrt(r2);
      const double rinv2 = rinv * rinv;
      const double mr3 = m[j] * rinv * rinv2;
      const double rv = dx * dvx + dy * dvy + dz * dvz;
      const double alpha = rv * rinv2;
      const double beta =
          (dvx * dvx + dvy * dvy + dvz * dvz + dx * dax + dy * day + dz * daz) * rinv2 +
          alpha * alpha;
      const double gamma =
          (3.0 * (dvx * dax + dvy * day + dvz * daz) + dx * djx + dy * djy + dz * djz) * rinv2 +
          alpha * (3.0 * beta - 4.0 * alpha * alpha);
      const double tax = mr3 * dx, tay = mr3 * dy, taz = mr3 * dz;
      const double tjx = mr3 * dvx - 3.0 * alpha * tax;
      const double tjy = mr3 * dvy - 3.0 * alpha * tay;
      const double tjz = mr3 * dvz - 3.0 * alpha * taz;
      const double tsx = mr3 * dax - 6.0 * alpha * tjx - 3.0 * beta * tax;
      const double tsy = mr3 * day - 6.0 * alpha * tjy - 3.0 * beta * tay;
      const double tsz = mr3 * daz - 6.0 * alpha * tjz - 3.0 * beta * taz;
      ax += tax, ay += tay, az += taz;
      jx += tjx, jy += tjy, jz += tjz;
      sx += tsx, sy += tsy, sz += tsz;
      cx += mr3 * djx - 9.0 * alpha * tsx - 9.0 * beta * tjx - 3.0 * gamma * tax;
      cy += mr3 * djy - 9.0 * alpha * tsy - 9.0 * beta * tjy - 3.0 * gamma * tay;
      cz += mr3 * djz - 9.0 * alpha * tsz - 9.0 * beta * tjz - 3.0 * gamma * taz;
    }
    double* o = out + 12L * i;
    o[0] = ax, o[1] = ay, o[2] = az, o[3] = jx, o[4] = jy, o[5] = jz;
    o[6] = sx, o[7] = sy, o[8] = sz, o[9] = cx, o[10] = cy, o[11] = cz;
  }
}

// pot[i] = -sum over j of m_j / sqrt(r^2 + eps2), leaving out a source at the
// target's own position.
void potential(const Cloud& c, int n, double eps2, double* pot) {
  const double* m = c.m.data();
  const double *x = c.x[0].data(), *y = c.x[1].data(), *z = c.x[2].data();
#pragma omp parallel for schedule(static)
  for (int i = 0; i < n; ++i) {
    const double xi = x[i], yi = y[i], zi = z[i];
    double p = 0;
    for (int j = 0; j < n; ++j) {
      const double dx = x[j] - xi, dy = y[j] - yi, dz = z[j] - zi;
      const double r2 = dx * dx + dy * dy + dz * dz;
      if (r2 > 0.0) p += m[j] / std::sqrt(r2 + eps2);
    }
    pot[i] = -p;
  }
}

}  // namespace NBBENCH_PLAIN_NS
}  // namespace nbbench
