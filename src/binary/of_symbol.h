// XOR of symbols: the one arithmetic operation of the binary codecs, used by
// their encoders and by every decoding stage, on the region arithmetic.
// Symbols are byte arrays with no alignment promise; sizes are in bytes.
#ifndef ZVFEC_BINARY_OF_SYMBOL_H
#define ZVFEC_BINARY_OF_SYMBOL_H

#include <cstdint>

// to ^= from over symbol_size bytes. The two may not overlap unless equal.
void of_add_to_symbol(void *to, const void *from, uint32_t symbol_size);

// to ^= from[i] for each of the from_size symbols, in one pass over `to` for
// up to 64 of them.
void of_add_from_multiple_symbols(void *to, const void *const *from, uint32_t from_size,
                                  uint32_t symbol_size);

// to[i] ^= from for each of the to_size symbols.
void of_add_to_multiple_symbols(void *const *to, const void *from, uint32_t to_size,
                                uint32_t symbol_size);

#endif  // ZVFEC_BINARY_OF_SYMBOL_H
