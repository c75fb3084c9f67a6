// Layout of a grouped recovery packet, shaped like an SEI message (NAL unit
// type 6) so that it can travel in a video stream beside the media:
//
//   0      1      2 .. P      P+1       P+2 .. P+1+maxlen   +0  +1  +2
//  +------+------+----------+---------+-------------------+---+---+-----+
//  | 0x06 | 0xAC | 0xFF ... | S % 255 | recovery block i  | k | m | k+i |
//  +------+------+----------+---------+-------------------+---+---+-----+
//
// S = maxlen + 2 is coded in the SEI manner, one 0xFF per full 255 and then
// the rest, so P = S / 255 + 1 bytes carry it. S is maxlen + 2 although
// maxlen + 3 bytes follow the size; the format is fixed that way.
// No trailing bits and no emulation-prevention bytes are added.
#pragma once

#include <cstdint>

constexpr uint8_t kGroupedNalHeader = 0x06;
constexpr uint8_t kGroupedPayloadType = 0xAC;
// Fixed storage of the encoder: at most this many originals and recovery
// packets per group, each original at most this long.
constexpr int kGroupedMaxCount = 64;
constexpr int kGroupedMaxLength = 1500;

// Bytes that code the size S of a packet whose block is maxlen bytes.
constexpr int grouped_size_bytes(int maxlen) { return (maxlen + 2) / 255 + 1; }
// Offset of the recovery block in the packet.
constexpr int grouped_block_offset(int maxlen) { return 2 + grouped_size_bytes(maxlen); }
// Whole packet: NAL header, payload type, size, block and three trailer bytes.
constexpr int grouped_packet_bytes(int maxlen) { return grouped_block_offset(maxlen) + maxlen + 3; }
