// How the stream layer frames and reads FEC packets as RTP: the groups each
// variant takes, the validation of a received FEC header, and the FEC SSRC
// that protects a media SSRC. The byte layouts themselves are the media
// core's (media/wire.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include <zvfec/stream.h>

#include "media/wire.h"

namespace zv::stream {

// The layout of a variant, or null for an unknown one.
const FecLayout *layout_of(int variant);

// 0 when (k, r) is a group the variant both encodes and rebuilds, else
// ZVFEC_STREAM_E_K, _R, _N (or _ARG for an unknown variant).
int check_shape(int variant, int k, int r);

// S for a group whose longest RTP packet has `longest` bytes.
inline size_t symbol_len(size_t longest) {
  return static_cast<size_t>(symbol_length_for(static_cast<int64_t>(longest) + kMediaPrefixSize));
}

// Bytes of an FEC packet of the variant with an S-byte symbol; 0 for an
// unknown variant.
size_t fec_size(int variant, size_t symbol_len);

// True when hdr describes a group that its variant takes, with a symbol length
// a group of RTP packets can have.
bool describes_group(const zvfec_stream_fec_header &hdr);

// Reads and validates the FEC header of a whole FEC packet (see
// zvfec_stream_parse_fec). Returns 0 and fills out, or a ZVFEC_STREAM_E_ code.
int parse_fec(const uint8_t *packet, size_t len, zvfec_stream_fec_header &out);

// The FEC SSRC that protects media SSRC s unless told otherwise; the
// derivation is its own inverse.
inline uint32_t derived_fec_ssrc(uint32_t ssrc) { return ssrc ^ 0x0FEC0FECu; }

// True when the RTP packet of `len` bytes rebuilt at index `index` of the group
// is what the sender protected there: an RTP packet of the stream's SSRC that
// carries the group's sequence number for that index and fits the symbol.
bool rebuilt_fits(const uint8_t *rtp, size_t len, uint32_t ssrc, uint16_t seq, int symbol_len);

}  // namespace zv::stream
