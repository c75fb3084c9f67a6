// Iterative (peeling) decoding of the binary codecs: every symbol that
// arrives or is recovered is substituted into the equations that hold it, and
// an equation left with a single unknown yields that symbol.
#pragma once

#include <cstdint>

#include "binary/of_linear_binary_code.h"

// Feeds symbol new_symbol_esi (< n) to a decoder block. A source symbol is
// kept by reference (it must stay valid and unchanged until the session is
// released); a repair symbol is copied. A known ESI is ignored. Recovered
// symbols are substituted in turn, in the order a depth-first recursion
// would, but with the pending work on the heap so that chains of any length
// fit; a recovered source symbol goes into the buffer that
// decoded_source_symbol_callback returns (or one of ours when it returns none
// or is not set), and decoded_repair_symbol_callback is told of each
// recovered repair symbol. Processing stops as soon as decoding is complete.
// OF_STATUS_OK; OF_STATUS_ERROR when the block has no matrix or no decoder
// tables (parameters not set, decoder role missing, or the matrix consumed by
// the maximum-likelihood stage); OF_STATUS_FATAL_ERROR when memory runs out,
// the state then consistent up to the failing step and releasable.
of_status_t of_linear_binary_code_decode_with_new_symbol(of_linear_binary_code_cb *ofcb,
                                                         const void *new_symbol,
                                                         uint32_t new_symbol_esi);
