// Maximum-likelihood decoding of the binary codecs: the known symbols are
// substituted into the equations once more, which can recover further
// symbols by peeling, and what is left is solved by inactivation
// (of_inactivation.h).
#pragma once

#include <cstdint>

#include "binary/of_linear_binary_code.h"

// Finishes a decoding with the symbols received so far. First every known
// symbol is substituted again (source symbols in ESI order, then the known
// repair symbols in an order shuffled with the standard library's rand(),
// never seeded here), peeling as it goes: symbols found so are announced
// through the callbacks as in iterative decoding. The substitution is
// followed on index arrays, and a symbol's value is only computed when an
// equation yields it. If decoding is not complete then, the equations left
// are solved by inactivation; the symbols found there go straight into
// encoding_symbols_tab (a source symbol into a buffer of ours, owned by the
// application once handed out; a repair symbol is not kept).
//
// OF_STATUS_OK when decoding is complete. OF_STATUS_FAILURE when the
// equations left cannot determine the unknown symbols: with no unknown left
// in any equation or fewer equations than unknowns (reported on standard
// output when of_verbosity is set), the equations are left as the
// substitution made them, fit for iterative decoding to resume; when their
// rank is too low, elimination has begun, and what peeling recovered stays.
// OF_STATUS_FATAL_ERROR when memory runs out or the source callback gives no
// buffer; OF_STATUS_ERROR without a matrix or decoder tables. Once
// elimination has begun, and after a fatal error, the matrix is consumed: the
// block is then fit only for reading the source symbols and for release.
of_status_t of_linear_binary_code_finish_decoding_with_ml(of_linear_binary_code_cb *ofcb);
