// Rebuilding the lost media packets of one group from what a receiver holds,
// and deciding whether the result may be handed out. Both the receiver and the
// group codec of zvfec/stream.h rebuild through here.
//
// A rebuilt packet is handed out only when it is what the sender protected at
// its place: an RTP packet of the stream's SSRC carrying the sequence number
// of that place. With an FEC packet to spare, the group is rebuilt from one
// choice of FEC packets and the spare packet's repair symbol is computed again
// from the completed group: a genuine group reproduces it byte for byte, so a
// forged or damaged symbol among those used shows at the cost of one row of
// the code. Only when that check fails are other choices tried (a bounded
// number), and then what they rebuild is handed out only if every choice that
// rebuilds a plausible group agrees.
//
// Candidates come in order of preference: the first choice takes them in that
// order, one per symbol index.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "media/wire.h"
#include "stream/containers.h"

namespace zv::stream {

// One group as a receiver knows it.
struct GroupView {
  const FecLayout *layout;
  int k, r, symbol_len;
  uint16_t base_seq;
  uint32_t ssrc;
};

// What is held at one media position of the group: a media buffer (length
// prefix and RTP packet, `len` bytes) or nothing (data null). For the session
// code a buffer that is used holds zeros from `len` up to S. A buffer longer
// than S cannot serve as the group's symbol; its position is rebuilt (and the
// result dropped) like a missing one.
struct HeldMedia {
  uint8_t *data;
  int len;
};

// An FEC packet that may serve the group: its symbol index and its S-byte
// repair symbol. A suspect one (its symbol also travels under another group's
// header, so it is genuine for at most one of them) serves only in a rebuild
// that another FEC packet confirms.
struct Candidate {
  int esi;
  const uint8_t *symbol;
  bool suspect;
};

enum class Outcome {
  kRebuilt,      // every missing packet is rebuilt and fits its place
  kTooFew,       // fewer than k distinct symbols
  kImplausible,  // what could be rebuilt does not fit the group's places
  kConflict,     // choices of FEC packets rebuild different packets
};

class Rebuilder {
 public:
  struct Result {
    Outcome outcome;
    int rejected;  // rebuilt packets that did not fit their place
  };

  // Rebuilds the group's missing positions: media[i] for i in 0..k-1, out[i]
  // for every missing i (S writable bytes, where its media buffer is
  // rebuilt), candidates in order of preference (several may share an
  // index). On kRebuilt every out[i] holds the media buffer (prefix, packet,
  // zeros) of position i.
  Result rebuild(const GroupView &group, const HeldMedia *media, uint8_t *const *out,
                 std::span<const Candidate> candidates);

 private:
  // Rebuilds from the candidates `choice` (one per position to rebuild, in
  // ascending position order); counts what does not fit. True when every
  // missing packet fits its place.
  bool attempt(const GroupView &g, const HeldMedia *media, std::span<const Candidate> candidates,
               std::span<const int> choice, int *rejected);
  // True when the spare candidate's symbol is what the completed group gives.
  bool confirms(const GroupView &g, const HeldMedia *media, const Candidate &spare);
  // The candidate to check a rebuild from `choice` with: one of another index
  // (one not suspect first), else any other; null when there is none.
  const Candidate *spare_for(std::span<const Candidate> candidates, std::span<const int> choice);
  // True when some candidate of an index not chosen confirms the rebuild.
  bool accepted(const GroupView &g, const HeldMedia *media, std::span<const Candidate> candidates,
                std::span<const int> choice);

  std::vector<int> need_;          // positions to rebuild, ascending
  std::vector<int> choice_;        // candidates chosen, one per position
  std::vector<bool> missing_;      // by position: nothing held
  std::vector<uint8_t *> target_;  // by rebuilt position: where it is rebuilt
  std::vector<Buffer> scratch_;    // positions held but too long, and checks
  std::vector<Buffer> agreed_;     // the first plausible rebuild of a search
  Buffer row_;
};

}  // namespace zv::stream
