/* The host library's load-time instruction-set check (isa_check.c). */
#ifndef NBFORCE_ISA_CHECK_H
#define NBFORCE_ISA_CHECK_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Defined by the check, referenced by each library's kernels so that a
 * static link always brings the check in. */
extern const char nbforce_host_isa_checked;

/* 1 if this CPU has the feature (names as the compiler's CPU query knows
 * them: "avx2", "fma", "avx512f", ...), 0 if not, -1 for a name the check
 * does not know. */
int nbforce_cpu_supports(const char* feature);

/* The first name of the comma-separated list required for which supports()
 * returns 0, copied into missing; returns 1 then, else 0. Names it does not
 * know (-1) are skipped. */
int nbforce_first_missing(const char* required, int (*supports)(const char*), char* missing,
                          size_t size);

#ifdef __cplusplus
}
#endif

#endif
