// One group at a time on the media core, for hosts that keep their groups
// themselves (zvfec_stream_codec of zvfec/stream.h): RTP packets in, FEC
// packets out, and back. Everything a host got from the network is checked
// here, once, before the media core sees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <zvfec/stream.h>

#include "media/coding.h"
#include "stream/containers.h"
#include "stream/rebuild.h"

namespace zv::stream {

class Codec {
 public:
  explicit Codec(int variant);
  int variant() const { return static_cast<int>(layout_.variant); }

  // See zvfec_stream_codec_encode; the arguments are not null.
  int encode(const uint8_t *const *media, const size_t *media_len, int k, int r,
             uint8_t *const *fec, size_t fec_cap, size_t *fec_len);

  // See zvfec_stream_codec_decode; the arrays are not null where counts are
  // not zero, null packets are left out.
  int decode(const zvfec_stream_fec_header &group, uint32_t ssrc, const uint8_t *const *media,
             const size_t *media_len, size_t media_count, const uint8_t *const *fec,
             const size_t *fec_len, size_t fec_count, uint8_t *const *out, size_t out_cap,
             size_t *out_len, int *out_count, int *rejected);

 private:
  // Stages RTP packet p as media buffer i (prefix, packet, and for the session
  // code zeros up to S).
  void stage(size_t i, const uint8_t *p, size_t len, int symbol_len);

  const FecLayout &layout_;
  std::vector<Buffer> staged_;   // media buffers
  std::vector<Buffer> rebuilt_;  // rebuilt media buffers
  std::vector<SourceSymbol> sources_;
  std::vector<uint8_t *> repair_;
  std::vector<HeldMedia> held_;
  std::vector<uint8_t *> out_;
  std::vector<Candidate> candidates_;
  Rebuilder rebuilder_;
};

}  // namespace zv::stream
