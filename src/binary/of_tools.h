// Small helpers of the binary codecs: checked allocation, 4-byte integer file
// I/O and a byte-composition printer.
#pragma once

#include <cstdint>
#include <cstdio>

// of_calloc(n, size); when it fails, says so on standard error and returns none.
void *of_chk_alloc(uint32_t n, uint32_t size);

// Writes value least significant byte first.
void of_intio_write(FILE *f, int32_t value);

// Reads four bytes written as above; 0 when they cannot all be read (the
// stream's end-of-file or error flag then tells it apart from a stored 0).
int32_t of_intio_read(FILE *f);

// Prints the index of every non-zero byte of buf to standard output.
void of_print_composition(const void *buf, uint32_t size);
