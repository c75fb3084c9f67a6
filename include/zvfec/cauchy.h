/* Cauchy Reed-Solomon block codec over GF(256).
 *
 * A group of k original blocks of BlockBytes bytes yields m recovery blocks of
 * the same size; any k of the k + m blocks restore the k originals. Originals
 * carry indices 0 .. k-1, recovery block r carries index k + r, k + m <= 256.
 * cm256_init_(2) must have run once in the process before the first encode or
 * decode. */
#ifndef ZVFEC_CAUCHY_H
#define ZVFEC_CAUCHY_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct cm256_encoder_params_t {
  int OriginalCount; /* k, number of original blocks */
  int RecoveryCount; /* m, number of recovery blocks */
  int BlockBytes;    /* bytes in every block */
} cm256_encoder_params;

typedef struct cm256_block_t {
  void *Block;           /* the block's BlockBytes bytes */
  unsigned char Index;   /* 0 .. k-1 original, k .. k+m-1 recovery block */
  unsigned char fecflag; /* the caller's own marker; the codec never touches it */
} cm256_block;

/* Builds the process-wide GF(256) tables once; safe to call from several
 * threads at once. Returns -10 when version is not 2, otherwise 0 (or -2 on a
 * big-endian machine, -3 when the tables fail their self-test, both only on
 * the first call; later calls return 0). */
int cm256_init_(int version);

/* Computes the m recovery blocks of a group. originals[j] points to original j
 * (BlockBytes readable bytes), recoveryBlocks[r] to BlockBytes writable bytes
 * that receive recovery block r (index k + r). Returns 0; -1 when a count or
 * BlockBytes is <= 0, -2 when k + m > 256, -3 when an array is NULL; on failure
 * nothing is written. Block pointers and sizes are the caller's guarantee. */
int zvfec_encode(cm256_encoder_params params, void **originals, void **recoveryBlocks);

/* The same encoder with the originals as k descriptors in index order (their
 * Index is not read) and the recovery blocks in one area of m * BlockBytes
 * bytes, block r at byte r * BlockBytes. Same codes as zvfec_encode. */
int cm256_encode(cm256_encoder_params params, cm256_block *originals, void *recoveryBlocks);

/* Restores the missing originals of a group in place from exactly k
 * descriptors, originals and recovery blocks in any order, each Block holding
 * BlockBytes writable bytes. On 0 every recovery block given has been
 * overwritten with one missing original and its Index names that original;
 * originals given are untouched and fecflag is never touched. Returns -1 when
 * a count or BlockBytes is <= 0 (prints "para err"), -2 when k + m > 256, -3
 * when blocks is NULL, -4 when the working memory cannot be allocated, -5 when
 * an index occurs twice or a recovery index is not below k + m (prints "para
 * err"). On failure no block is changed. */
int zvfec_decode(cm256_encoder_params params, cm256_block *blocks);

#ifdef __cplusplus
}
#endif

#endif /* ZVFEC_CAUCHY_H */
