/* nbforce6: softened gravitational acceleration, jerk and snap for
 * sixth-order Hermite integrators. Positions are double-single (hi + lo
 * floats), all other device arithmetic single precision; results come back
 * as doubles. */
#ifndef NBFORCE6_H
#define NBFORCE6_H

#include "nbforce_common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One predicted particle, 64 bytes. The i-particle's mass is not read. */
typedef struct __attribute__((aligned(16))) Predictor {
  float posH[3]; /* position, high parts */
  float mass;
  float posL[3]; /* position, low parts: x = posH + posL */
  float unused0;
  float vel[3];
  float unused1;
  float acc[3]; /* predicted acceleration */
  float unused2;
} Predictor;

/* One result, 72 bytes. */
typedef struct Force {
  double acc[3];
  double jrk[3];
  double snp[3];
} Force;

/* calc_force(int ni, int nj, const Predictor* ipred, const Predictor* jpred,
 *            Force* force, float eps2, double* jp_stamp, double* ip_time,
 *            double* fo_time):
 * forces on the ni particles of ipred due to the nj particles of jpred with
 * Plummer softening eps2. *jp_stamp receives wtime() after the j-copy;
 * *ip_time and *fo_time are increased by the seconds spent copying
 * i-predictors in and results out. */
void calc_force(NBFORCE_CALC_FORCE_PARAMS(Predictor, Force));

/* nbf_resident_force(double t, int js, int je, int ni, const int* index,
 *                    float eps2, Force* force): see nbforce_common.h. */
void nbf_resident_force(NBFORCE_RESIDENT_FORCE_PARAMS(Force));

#ifdef __cplusplus
}
#endif

#endif
