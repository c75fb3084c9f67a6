// Grouped recovery packets: the packet layout byte for byte, the encoder's
// refusals, and decoding from the blocks a receiver cuts out of the packets,
// including forged slots that must be refused without touching memory outside
// the given buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "zvfec/cauchy.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A group as the sender holds it. Every buffer has exactly the size that the
// contract allows, so a sanitizer build flags any access beyond it.
struct Group {
  int k, m, maxlen;
  std::vector<Bytes> originals;  // maxlen bytes each, data then the tail given
  std::vector<Bytes> packets;    // packet_bytes each
  std::vector<int> lengths;

  // Originals of the given lengths hold random bytes; beyond its length each
  // holds zeros, or random bytes when junk_tails is set.
  Group(int m_, std::vector<int> lengths_, size_t packet_bytes, uint32_t seed, bool junk_tails)
      : k(static_cast<int>(lengths_.size())),
        m(m_),
        maxlen(*std::max_element(lengths_.begin(), lengths_.end())),
        lengths(std::move(lengths_)) {
    std::mt19937 rng(seed);
    for (int i = 0; i < k; ++i) {
      Bytes b(static_cast<size_t>(maxlen));
      for (int j = 0; j < maxlen; ++j) {
        b[j] = j < lengths[i] || junk_tails ? static_cast<uint8_t>(rng()) : 0;
      }
      originals.push_back(std::move(b));
    }
    packets.assign(m, Bytes(packet_bytes, 0x5A));
  }

  ZVFEC_BLOCK record() {
    ZVFEC_BLOCK b{};
    b.datanum = k;
    b.checknum = m;
    for (int i = 0; i < k; ++i) {
      b.length[i] = static_cast<unsigned short>(lengths[i]);
      b.pdata[i] = originals[i].data();
    }
    for (int i = 0; i < m; ++i) b.pdata[k + i] = packets[i].data();
    return b;
  }

  int encode() {
    ZVFEC_BLOCK b = record();
    return zvfec_encoder_sei(&b);
  }

  // Recovery block r as the codec computes it over the full original buffers.
  Bytes expected_block(int r) const {
    std::vector<void *> o, out;
    std::vector<Bytes> blocks(m, Bytes(maxlen));
    for (const Bytes &b : originals) o.push_back(const_cast<uint8_t *>(b.data()));
    for (Bytes &b : blocks) out.push_back(b.data());
    EXPECT_EQ(zvfec_encode({k, m, maxlen}, o.data(), out.data()), 0);
    return blocks[r];
  }
};

class GroupedFec : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(cm256_init_(2), 0); }
};

TEST_F(GroupedFec, PacketLayoutByteForByte) {
  struct Case {
    int maxlen;
    Bytes head;  // NAL header, payload type and size bytes
    size_t total;
  };
  const Case cases[] = {
      {100, {0x06, 0xAC, 0x66}, 106},
      {252, {0x06, 0xAC, 0xFE}, 258},
      {253, {0x06, 0xAC, 0xFF, 0x00}, 260},
      {1500, {0x06, 0xAC, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xE3}, 1511},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.maxlen);
    // The tails of the shorter originals hold junk: it enters the code as it
    // stands, so the blocks must match the codec over the whole buffers.
    Group g(2, {c.maxlen / 2, c.maxlen, 1}, c.total, 7u + static_cast<uint32_t>(c.maxlen), true);
    ASSERT_EQ(g.encode(), 0);
    for (int r = 0; r < 2; ++r) {
      const Bytes &p = g.packets[r];
      const Bytes block = g.expected_block(r);
      EXPECT_EQ(Bytes(p.begin(), p.begin() + c.head.size()), c.head);
      EXPECT_EQ(Bytes(p.begin() + c.head.size(), p.end() - 3), block);
      EXPECT_EQ(Bytes(p.end() - 3, p.end()), (Bytes{3, 2, static_cast<uint8_t>(3 + r)}));
    }
    // The packets differ: the second block is not a copy of the XOR block.
    EXPECT_NE(g.packets[0], g.packets[1]);
  }
}

TEST_F(GroupedFec, EncoderRefusesWithoutWriting) {
  struct Case {
    const char *name;
    int k, m;
    std::vector<int> lengths;  // of the originals that exist
    bool null_packet;
  };
  const Case cases[] = {
      {"m = 0", 3, 0, {10, 20, 30}, false},
      {"m < 0", 3, -1, {10, 20, 30}, false},
      {"k = 0", 0, 2, {}, false},
      {"k above 64", 65, 2, std::vector<int>(65, 10), false},
      {"m above 64", 3, 65, {10, 20, 30}, false},
      {"original above 1500 bytes", 3, 2, {10, 1501, 30}, false},
      {"all originals empty", 3, 2, {0, 0, 0}, false},
      {"recovery buffer missing", 3, 2, {10, 20, 30}, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const int slots = std::clamp(c.k, 0, 256) + std::clamp(c.m, 0, 256);
    std::vector<Bytes> buffers(static_cast<size_t>(slots), Bytes(1600, 0x5A));
    ZVFEC_BLOCK b{};
    b.datanum = c.k;
    b.checknum = c.m;
    for (size_t i = 0; i < c.lengths.size(); ++i) {
      b.length[i] = static_cast<unsigned short>(c.lengths[i]);
    }
    for (int i = 0; i < slots; ++i) b.pdata[i] = buffers[i].data();
    if (c.null_packet) b.pdata[c.k + 1] = nullptr;
    // A buffer past the group: m = 0 must not write it either.
    Bytes spare(1600, 0x5A);
    if (c.m <= 0) b.pdata[c.k] = spare.data();

    ::testing::internal::CaptureStdout();
    EXPECT_EQ(zvfec_encoder_sei(&b), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "fec enc err\n");
    for (const Bytes &buf : buffers) EXPECT_EQ(buf, Bytes(1600, 0x5A));
    EXPECT_EQ(spare, Bytes(1600, 0x5A));
  }
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(zvfec_encoder_sei(nullptr), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "fec enc err\n");
}

// The receiver's side of a group: slots cut out of the arrived originals and
// packets, each buffer exactly as long as the slot's length says.
struct Received {
  std::vector<Bytes> data;
  ZVFEC_BLOCK record{};

  // Takes block index `arrived[i]` into slot i: an original with its length,
  // or the block of a recovery packet without header and trailer.
  Received(const Group &g, const std::vector<int> &arrived) {
    const size_t offset = g.packets[0].size() - 3 - static_cast<size_t>(g.maxlen);
    for (int index : arrived) {
      if (index < g.k) {
        const Bytes &o = g.originals[index];
        data.emplace_back(o.begin(), o.begin() + g.lengths[index]);
      } else {
        const Bytes &p = g.packets[index - g.k];
        data.emplace_back(p.begin() + offset, p.end() - 3);
      }
    }
    record.datanum = g.k;
    record.checknum = g.m;
    for (size_t i = 0; i < arrived.size(); ++i) {
      record.length[i] = static_cast<unsigned short>(data[i].size());
      record.pdata[i] = data[i].data();
      record.index[i] = arrived[i];
    }
  }
};

// Slot i holds original index[i] in its first maxlen bytes (zeros beyond the
// original's length), or the untouched original that arrived there.
void expect_restored(const Group &g, const Received &r, const std::vector<int> &arrived) {
  std::vector<bool> seen(g.k);
  for (int i = 0; i < g.k; ++i) {
    const int index = r.record.index[i];
    ASSERT_GE(index, 0);
    ASSERT_LT(index, g.k);
    EXPECT_FALSE(seen[index]) << "index " << index << " twice";
    seen[index] = true;
    EXPECT_EQ(r.record.length[i], r.data[i].size()) << "length changed";
    const Bytes &o = g.originals[index];
    if (arrived[i] < g.k) {
      EXPECT_EQ(r.data[i], Bytes(o.begin(), o.begin() + g.lengths[index]));
    } else {
      EXPECT_EQ(r.data[i], o) << "slot " << i;
    }
  }
}

TEST_F(GroupedFec, DecodesTwoLostOriginalsFromSlotsZeroAndTwo) {
  Group g(2, {40, 100, 70}, 106, 3, false);
  ASSERT_EQ(g.encode(), 0);
  // Originals 0 and 2 are lost; the packets' blocks (indices 3 and 4) sit in
  // slots 0 and 2, and the shorter original 1 is readable only for 100 bytes.
  const std::vector<int> arrived{4, 1, 3};
  Received r(g, arrived);
  ASSERT_EQ(zvfec_decode_sei(&r.record), 0);
  EXPECT_EQ(r.record.index[0], 0);
  EXPECT_EQ(r.record.index[1], 1);
  EXPECT_EQ(r.record.index[2], 2);
  expect_restored(g, r, arrived);
}

TEST_F(GroupedFec, AnyKOfTheGroupRestoresEveryOriginal) {
  std::mt19937 rng(11);
  for (int round = 0; round < 40; ++round) {
    // Round 0 is the largest group the encoder takes.
    const int k = round == 0 ? 64 : 1 + static_cast<int>(rng() % 64);
    const int m = round == 0 ? 64 : 1 + static_cast<int>(rng() % 64);
    std::vector<int> lengths(k);
    for (int &l : lengths) l = 1 + static_cast<int>(rng() % 1500);
    if (round == 0) lengths[k / 2] = 1500;
    const int maxlen = *std::max_element(lengths.begin(), lengths.end());
    Group g(m, lengths, static_cast<size_t>(maxlen + (maxlen + 2) / 255 + 6), rng(), false);
    ASSERT_EQ(g.encode(), 0);
    std::vector<int> all(k + m);
    std::iota(all.begin(), all.end(), 0);
    std::shuffle(all.begin(), all.end(), rng);
    const std::vector<int> arrived(all.begin(), all.begin() + k);
    SCOPED_TRACE(::testing::Message() << "k=" << k << " m=" << m << " round " << round);
    Received r(g, arrived);
    ASSERT_EQ(zvfec_decode_sei(&r.record), 0);
    expect_restored(g, r, arrived);
  }
}

TEST_F(GroupedFec, NothingMissingReturnsZeroUnchanged) {
  // Slot 0 is the shortest original: its length is the block size then, and
  // the longer originals must not be refused for exceeding it.
  Group g(2, {5, 100, 70}, 106, 5, false);
  ASSERT_EQ(g.encode(), 0);
  const std::vector<int> arrived{0, 2, 1};
  Received r(g, arrived);
  const std::vector<Bytes> before = r.data;
  ASSERT_EQ(zvfec_decode_sei(&r.record), 0);
  EXPECT_EQ(r.data, before);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(r.record.index[i], arrived[i]);
}

TEST_F(GroupedFec, ForgedSlotsAreRefusedUntouched) {
  struct Case {
    const char *name;
    void (*forge)(ZVFEC_BLOCK &b);
    int code;
    const char *message;
  };
  // The valid group: k = 3, m = 2, maxlen 100, slots hold indices 4, 1, 3.
  const Case cases[] = {
      {"earlier recovery slot shorter than the block", [](ZVFEC_BLOCK &b) { b.length[0] = 99; }, -1,
       "para err 3,2,100\n"},
      {"last recovery slot empty", [](ZVFEC_BLOCK &b) { b.length[2] = 0; }, -1, "para err 3,2,0\n"},
      {"no recovery packets", [](ZVFEC_BLOCK &b) { b.checknum = 0; }, -1, "para err 3,0,100\n"},
      {"no originals", [](ZVFEC_BLOCK &b) { b.datanum = 0; }, -1, "para err 0,2,0\n"},
      {"negative index", [](ZVFEC_BLOCK &b) { b.index[1] = -1; }, -5, "para err 3,2,100\n"},
      {"index k + m", [](ZVFEC_BLOCK &b) { b.index[0] = 5; }, -5, "para err 3,2,100\n"},
      {"index whose low byte is valid", [](ZVFEC_BLOCK &b) { b.index[1] = 256 + 1; }, -5,
       "para err 3,2,100\n"},
      {"original twice", [](ZVFEC_BLOCK &b) { b.index[0] = 1; }, -5, "para err 3,2,100\n"},
      {"k + m above 256", [](ZVFEC_BLOCK &b) { b.checknum = 254; }, -2, ""},
      {"k beyond the record's slots", [](ZVFEC_BLOCK &b) { b.datanum = 300; }, -2, ""},
      {"counts that overflow their sum",
       [](ZVFEC_BLOCK &b) {
         b.datanum = INT_MAX;
         b.checknum = INT_MAX;
       },
       -2, ""},
      {"slot without a buffer", [](ZVFEC_BLOCK &b) { b.pdata[1] = nullptr; }, -3, ""},
  };
  Group g(2, {40, 100, 70}, 106, 9, false);
  ASSERT_EQ(g.encode(), 0);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Received r(g, {4, 1, 3});
    c.forge(r.record);
    // Shrink the buffers to what the forged lengths claim.
    for (int i = 0; i < 3; ++i) r.data[i].resize(r.record.length[i]);
    if (r.record.pdata[1] != nullptr) {
      for (int i = 0; i < 3; ++i) r.record.pdata[i] = r.data[i].data();
    }
    const ZVFEC_BLOCK forged = r.record;
    const std::vector<Bytes> before = r.data;

    ::testing::internal::CaptureStdout();
    EXPECT_EQ(zvfec_decode_sei(&r.record), c.code);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.message);
    EXPECT_EQ(r.data, before);
    EXPECT_EQ(std::memcmp(&r.record, &forged, sizeof forged), 0);
  }
  EXPECT_EQ(zvfec_decode_sei(nullptr), -3);
}

TEST_F(GroupedFec, ExtDataFieldsFromTheLeastSignificantBit) {
  static_assert(sizeof(ZVFEC_EXT_DATA) == 4);
  ZVFEC_EXT_DATA d{};
  d.group_seq = 0xA;
  d.group_mat_no = 0x5;
  d.group_lastmark = 1;
  d.group_pkt_mark = 2;
  d.group_pkt_seq = 0xC;
  d.group_end = 1;
  d.group_chk_mask = 0xBEEF;
  uint32_t word = 0;
  std::memcpy(&word, &d, sizeof word);
  EXPECT_EQ(word, 0xBEEFu << 16 | 1u << 15 | 0xCu << 11 | 2u << 9 | 1u << 8 | 0x5u << 4 | 0xAu);
}

}  // namespace
