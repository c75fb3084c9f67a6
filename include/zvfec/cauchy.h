/* Cauchy Reed-Solomon block codec over GF(256).
 *
 * A group of k original blocks of BlockBytes bytes yields m recovery blocks of
 * the same size; any k of the k + m blocks restore the k originals. Originals
 * carry indices 0 .. k-1, recovery block r carries index k + r, k + m <= 256.
 * cm256_init_(2) must have run once in the process before the first encode or
 * decode. */
#pragma once

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
 * when blocks is NULL, -5 when an index occurs twice or a recovery index is
 * not below k + m (prints "para err"). On failure no block is changed. The
 * decoder allocates nothing; -4, once the code for working memory that could
 * not be allocated, is no longer returned. */
int zvfec_decode(cm256_encoder_params params, cm256_block *blocks);

/* One group of the grouped recovery-packet scheme. The encoder takes the k
 * originals in slots 0 .. k-1 and writes recovery packets into the buffers of
 * slots k .. k+m-1; the decoder takes the k received blocks, originals and
 * recovery blocks in any order, in slots 0 .. k-1. */
typedef struct ZVFEC_BLOCK {
  int datanum;                /* k, original packets in the group */
  int checknum;               /* m, recovery packets */
  unsigned short length[256]; /* bytes of each slot's data */
  unsigned char *pdata[256];  /* each slot's buffer */
  int index[256];             /* each slot's block index (decoder side) */
} ZVFEC_BLOCK;

/* A 32-bit word of group bookkeeping, fields from the least significant bit.
 * The library neither fills nor reads it. */
typedef struct _ZVFEC_ExtData {
  unsigned int group_seq : 4;
  unsigned int group_mat_no : 4;
  unsigned int group_lastmark : 1;
  unsigned int group_pkt_mark : 2;
  unsigned int group_pkt_seq : 4;
  unsigned int group_end : 1;
  unsigned int group_chk_mask : 16;
} ZVFEC_EXT_DATA;

/* Writes the m recovery packets of a group. Reads datanum, checknum, length[0
 * .. k-1] and the originals, each taken as maxlen bytes (maxlen = the largest
 * length; bytes of a shorter original beyond its length enter the code as they
 * stand, so every original must be readable for maxlen bytes). The buffer of
 * slot k + i receives packet i, P + maxlen + 5 bytes with P = (maxlen + 2) /
 * 255 + 1: 0x06 0xAC, the size maxlen + 2 coded as P - 1 bytes 0xFF and one
 * byte of the rest, recovery block i, then k, m and the index k + i (low 8 bits
 * each). length and index of those slots are not set. Returns 0, or -1 after
 * printing "fec enc err
" on standard output when k or m is not within 1 .. 64,
 * maxlen is not within 1 .. 1500 or a slot's buffer is NULL; on failure no
 * recovery buffer is written. */
int zvfec_encoder_sei(ZVFEC_BLOCK *block);

/* Restores the missing originals of a group in place. Slot i (i < k) holds the
 * block with index index[i] (0 .. k-1 an original, k .. k+m-1 a recovery block
 * with header and trailer removed), length[i] bytes at pdata[i]. The block size
 * is the length of the last recovery slot (of slot 0 when none is present).
 * Only length[i] bytes of a slot are ever read or written: a shorter original
 * counts as zeros beyond its length, and a recovery slot shorter than the block
 * size is refused. On 0 each recovery slot holds a missing original in its
 * first block-size bytes and index[i] names it; length is left unchanged.
 * Returns the codes of zvfec_decode: -1 when a count or the block size is <= 0
 * or a recovery slot is too short, -2 when k + m > 256, -3 when block or a
 * slot's buffer is NULL, -4 when working memory cannot be allocated, -5 when an
 * index occurs twice or is outside 0 .. k+m-1 ("para err" printed for -1 and
 * -5). On failure no slot is changed. */
int zvfec_decode_sei(ZVFEC_BLOCK *block);

#ifdef __cplusplus
}
#endif
