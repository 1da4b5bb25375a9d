/* Two bodies through nbforce4 from C: the force and potential of a pair at
 * unit distance, checked against the closed-form values. Exits 1 on a
 * mismatch, so it doubles as a check that an installed package works. */
#include <math.h>
#include <nbforce4.h>
#include <stdio.h>
#include <string.h>

/* Fills a predictor at x = (x, 0, 0), velocity (0, vy, 0). */
static void place(Predictor* p, double x, double vy, float mass) {
  memset(p, 0, sizeof *p);
  nbforce_split(x, &p->posH[0], &p->posL[0]);
  p->mass = mass;
  p->vel[1] = (float)vy;
}

static int close_to(const char* what, double got, double want) {
  int ok = fabs(got - want) <= 1e-6 * fabs(want);
  printf("%-6s %.9f (expected %.9f)%s\n", what, got, want, ok ? "" : "  MISMATCH");
  return ok;
}

int main(void) {
  const float mass = 0.5f, eps2 = 0.01f;
  Predictor pred[2];
  place(&pred[0], 0.0, 0.0, mass);
  place(&pred[1], 1.0, 1.0, mass);

  CUDA_MPI_Init(0);
  Force force[2];
  double stamp = 0, ip_time = 0, fo_time = 0;
  calc_force(2, 2, pred, pred, force, eps2, &stamp, &ip_time, &fo_time);

  Posm posm[2];
  memset(posm, 0, sizeof posm);
  for (int i = 0; i < 2; ++i) {
    for (int k = 0; k < 3; ++k)
      nbforce_split(pred[i].posH[k], &posm[i].pos[k].x, &posm[i].pos[k].y);
    posm[i].mass = mass;
  }
  double pot[2];
  calc_pot(2, 0, 2, eps2, posm, pot);

  /* Body 0 at the origin, body 1 at distance 1 moving along y: the pull is
   * m / (1 + eps2)^(3/2) along x, and since the motion is perpendicular the
   * jerk is the same magnitude along y. */
  const double r2 = 1.0 + (double)eps2;
  const double pull = mass / (r2 * sqrt(r2));
  int ok = 1;
  ok &= close_to("acc.x", force[0].acc[0], pull);
  ok &= close_to("jrk.y", force[0].jrk[1], pull);
  ok &= close_to("acc.x", force[1].acc[0], -pull);
  ok &= close_to("jrk.y", force[1].jrk[1], -pull);
  ok &= close_to("pot", pot[0], -mass / sqrt(r2));
  ok &= close_to("pot", pot[1], -mass / sqrt(r2));
  ok &= force[0].acc[1] == 0.0 && force[0].acc[2] == 0.0;
  puts(ok ? "two_body: ok" : "two_body: FAILED");
  return ok ? 0 : 1;
}
