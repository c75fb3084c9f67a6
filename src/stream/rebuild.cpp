#include "stream/rebuild.h"

#include <algorithm>
#include <bitset>
#include <cstring>

#include "media/coding.h"
#include "stream/framing.h"

namespace zv::stream {

namespace {

// Choices of FEC packets tried once the first one fails its check, and the
// steps spent looking for them among choices that repeat an index.
constexpr int kMaxChoices = 24;
constexpr int kMaxSteps = 4096;

// The next m-element choice of indices out of n in lexicographic order; false
// after the last.
bool next_choice(std::vector<int> &pick, int n) {
  const int m = static_cast<int>(pick.size());
  int i = m;
  while (i > 0 && pick[static_cast<size_t>(i - 1)] == n - m + i - 1) --i;
  if (i == 0) return false;
  ++pick[static_cast<size_t>(i - 1)];
  for (int j = i; j < m; ++j) pick[static_cast<size_t>(j)] = pick[static_cast<size_t>(j - 1)] + 1;
  return true;
}

// The symbol indices of the candidates chosen.
std::bitset<kHeaderIndices> indices_of(std::span<const Candidate> c, std::span<const int> pick) {
  std::bitset<kHeaderIndices> seen;
  for (int p : pick) seen[static_cast<size_t>(c[static_cast<size_t>(p)].esi)] = true;
  return seen;
}

bool uses_suspect(std::span<const Candidate> c, std::span<const int> pick) {
  for (int p : pick)
    if (c[static_cast<size_t>(p)].suspect) return true;
  return false;
}

bool distinct_indices(std::span<const Candidate> c, const std::vector<int> &pick) {
  std::bitset<kHeaderIndices> seen;
  for (int p : pick) {
    const auto esi = static_cast<size_t>(c[static_cast<size_t>(p)].esi);
    if (seen[esi]) return false;
    seen[esi] = true;
  }
  return true;
}

}  // namespace

Rebuilder::Result Rebuilder::rebuild(const GroupView &g, const HeldMedia *media,
                                     uint8_t *const *out, std::span<const Candidate> candidates) {
  const auto k = static_cast<size_t>(g.k);
  const auto s = static_cast<size_t>(g.symbol_len);
  need_.clear();
  missing_.assign(k, false);
  for (size_t i = 0; i < k; ++i) {
    if (media[i].data == nullptr) {
      missing_[i] = true;
      need_.push_back(static_cast<int>(i));
    } else if (media[i].len > g.symbol_len) {
      need_.push_back(static_cast<int>(i));
    }
  }
  if (need_.empty()) return {Outcome::kRebuilt, 0};
  std::bitset<kHeaderIndices> seen;
  size_t distinct = 0;
  for (const Candidate &c : candidates)
    if (!seen[static_cast<size_t>(c.esi)]) seen[static_cast<size_t>(c.esi)] = true, ++distinct;
  if (k - need_.size() + distinct < k) return {Outcome::kTooFew, 0};

  // Where each position is rebuilt: the caller's buffer for a missing one,
  // scratch for one whose held packet is too long to serve.
  target_.resize(need_.size());
  size_t scratch = 0;
  for (size_t p = 0; p < need_.size(); ++p) {
    const auto i = static_cast<size_t>(need_[p]);
    if (missing_[i]) {
      target_[p] = out[i];
      continue;
    }
    if (scratch_.size() <= scratch) scratch_.resize(scratch + 1);
    scratch_[scratch].reserve(s);
    target_[p] = scratch_[scratch++].data();
  }

  // The first choice: the candidates in order of preference, one per index.
  std::vector<int> &pick = choice_;
  pick.clear();
  seen.reset();
  for (size_t c = 0; c < candidates.size() && pick.size() < need_.size(); ++c) {
    const auto esi = static_cast<size_t>(candidates[c].esi);
    if (seen[esi]) continue;
    seen[esi] = true;
    pick.push_back(static_cast<int>(c));
  }
  int rejected = 0;
  if (attempt(g, media, candidates, pick, &rejected)) {
    const Candidate *spare = spare_for(candidates, pick);
    if (spare != nullptr ? confirms(g, media, *spare) : !uses_suspect(candidates, pick))
      return {Outcome::kRebuilt, rejected};
  }

  // Some symbol is not what it claims: look for the choices that rebuild a
  // group that fits, and hand out only what they agree on.
  const int n = static_cast<int>(candidates.size());
  const auto m = need_.size();
  if (agreed_.size() < m) agreed_.resize(m);
  bool have_agreed = false;
  int tried = 0;
  for (size_t p = 0; p < m; ++p) pick[p] = static_cast<int>(p);
  for (int step = 0; step < kMaxSteps && tried < kMaxChoices; ++step) {
    if (distinct_indices(candidates, pick)) {
      ++tried;
      if (attempt(g, media, candidates, pick, &rejected) &&
          (!uses_suspect(candidates, pick) || accepted(g, media, candidates, pick))) {
        if (!have_agreed) {
          for (size_t q = 0; q < m; ++q) {
            agreed_[q].reserve(s);
            std::memcpy(agreed_[q].data(), target_[q], s);
          }
          have_agreed = true;
        } else {
          for (size_t q = 0; q < m; ++q)
            if (missing_[static_cast<size_t>(need_[q])] &&
                std::memcmp(agreed_[q].data(), target_[q], s) != 0)
              return {Outcome::kConflict, rejected};
        }
      }
    }
    if (!next_choice(pick, n)) break;
  }
  if (!have_agreed) return {Outcome::kImplausible, rejected};
  for (size_t q = 0; q < m; ++q) std::memcpy(target_[q], agreed_[q].data(), s);
  return {Outcome::kRebuilt, rejected};
}

bool Rebuilder::attempt(const GroupView &g, const HeldMedia *media,
                        std::span<const Candidate> candidates, std::span<const int> choice,
                        int *rejected) {
  const auto s = static_cast<size_t>(g.symbol_len);
  GroupSymbol symbols[kHeaderIndices];
  int n = 0;
  for (int i = 0; i < g.k; ++i) {
    const HeldMedia &h = media[i];
    if (h.data == nullptr || h.len > g.symbol_len) continue;
    symbols[n++] = {h.data, g.layout->cauchy ? h.len : g.symbol_len, i};
  }
  for (size_t p = 0; p < choice.size(); ++p) {
    const Candidate &c = candidates[static_cast<size_t>(choice[p])];
    std::memcpy(target_[p], c.symbol, s);
    symbols[n++] = {target_[p], g.symbol_len, c.esi};
  }
  if (decode_group(*g.layout, g.r, g.symbol_len, {symbols, static_cast<size_t>(n)}) != 0)
    return false;
  bool fits = true;
  for (size_t p = 0; p < need_.size(); ++p) {
    const int i = need_[p];
    if (!missing_[static_cast<size_t>(i)]) continue;
    const uint8_t *b = target_[p];
    if (!rebuilt_fits(b + kMediaPrefixSize, media_prefix(b), g.ssrc,
                      static_cast<uint16_t>(g.base_seq + i), g.symbol_len)) {
      ++*rejected;
      fits = false;
    }
  }
  return fits;
}

const Candidate *Rebuilder::spare_for(std::span<const Candidate> candidates,
                                      std::span<const int> choice) {
  const auto chosen = indices_of(candidates, choice);
  const Candidate *fallback = nullptr;
  for (const Candidate &c : candidates)
    if (!chosen[static_cast<size_t>(c.esi)]) {
      if (!c.suspect) return &c;
      if (fallback == nullptr) fallback = &c;
    }
  if (fallback != nullptr) return fallback;
  // A second packet of a chosen index disagrees with one of the two in any
  // case, which sends the rebuild to the search.
  for (size_t c = 0; c < candidates.size(); ++c)
    if (std::find(choice.begin(), choice.end(), static_cast<int>(c)) == choice.end())
      return &candidates[c];
  return nullptr;
}

bool Rebuilder::accepted(const GroupView &g, const HeldMedia *media,
                         std::span<const Candidate> candidates, std::span<const int> choice) {
  const auto chosen = indices_of(candidates, choice);
  for (const Candidate &c : candidates)
    if (!chosen[static_cast<size_t>(c.esi)] && confirms(g, media, c)) return true;
  return false;
}

bool Rebuilder::confirms(const GroupView &g, const HeldMedia *media, const Candidate &spare) {
  SourceSymbol sources[kHeaderIndices];
  size_t p = 0;
  for (int i = 0; i < g.k; ++i) {
    const HeldMedia &h = media[i];
    if (p < need_.size() && need_[p] == i) {
      sources[i] = {target_[p++], g.symbol_len};
      continue;
    }
    sources[i] = {h.data, g.layout->cauchy ? h.len : g.symbol_len};
  }
  const auto s = static_cast<size_t>(g.symbol_len);
  row_.reserve(s);
  if (encode_row(*g.layout, g.r, g.symbol_len, {sources, static_cast<size_t>(g.k)}, spare.esi,
                 row_.data()) != 0)
    return false;
  return std::memcmp(row_.data(), spare.symbol, s) == 0;
}

}  // namespace zv::stream
