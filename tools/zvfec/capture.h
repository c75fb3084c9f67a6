// Packet captures: reading and writing pcap files through libpcap, finding the
// UDP payload behind the link and IP layers, and building new UDP frames that
// are addressed like an existing one.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "bytes.h"

namespace zvtool {

struct Frame {
  std::int64_t ts_ns = 0;
  Bytes data;                  // the captured bytes
  std::uint32_t orig_len = 0;  // length on the wire (more than data.size() when cut by snaplen)
};

struct Capture {
  int linktype = 0;
  std::vector<Frame> frames;
  std::string warning;  // set when the file ended in the middle of a record
};

// Reads a whole capture. Returns nullopt with *error set when the file cannot
// be read as a capture at all; a file that breaks off after some packets is
// returned with those packets and a warning.
std::optional<Capture> read_capture(const std::string &path, std::string *error);

// The same from a stream open for reading, which it always closes; `name`
// stands for the stream in messages.
std::optional<Capture> read_capture(std::FILE *stream, const std::string &name, std::string *error);

// Reads the capture a command works on and checks that this tool reads its
// link type. Returns nullopt with the reason in *error when the file cannot be
// read as a capture or has another link type; *warning receives the warning
// about a damaged file (empty if none) in either case.
std::optional<Capture> read_supported_capture(const std::string &path, std::string *warning,
                                              std::string *error);

// Writes frames as a pcap with nanosecond timestamps. Returns an empty string
// or the reason for failure.
std::string write_capture(const std::string &path, int linktype, const std::vector<Frame> &frames);

// Ethernet (with one optional VLAN tag), Linux cooked v1/v2, BSD loopback and
// raw IP link types.
bool linktype_supported(int linktype);

struct FlowKey {
  std::uint8_t ip_version = 0;
  std::array<std::uint8_t, 16> src{}, dst{};  // IPv4 addresses use the first 4 bytes
  std::uint16_t sport = 0, dport = 0;
  auto operator<=>(const FlowKey &) const = default;
};

std::string flow_name(const FlowKey &f);

struct UdpView {
  FlowKey flow;
  std::size_t l3_off = 0, l4_off = 0, payload_off = 0, payload_len = 0;
};

// Finds a complete, unfragmented UDP datagram over IPv4 or IPv6 in a captured
// frame; nullopt for anything else (other protocols, fragments, frames cut
// short by the capture, lengths that do not add up).
std::optional<UdpView> dissect_udp(int linktype, const Frame &frame);

// A frame like `tmpl` (whose dissection is v) carrying `payload` between the
// given ports instead: link and IP headers copied, lengths and checksums
// recomputed. Empty when the payload does not fit an IP packet.
Bytes build_udp_frame(const Frame &tmpl, const UdpView &v, std::uint16_t sport, std::uint16_t dport,
                      ByteView payload);

}  // namespace zvtool
