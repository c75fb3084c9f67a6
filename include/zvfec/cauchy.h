/* Cauchy Reed-Solomon block codec over GF(256). */
#ifndef ZVFEC_CAUCHY_H
#define ZVFEC_CAUCHY_H

#ifdef __cplusplus
extern "C" {
#endif

/* Sets up the codec's process-wide tables; version must be 2. */
int cm256_init_(int version);

#ifdef __cplusplus
}
#endif

#endif /* ZVFEC_CAUCHY_H */
