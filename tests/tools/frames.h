// Capture frames assembled byte by byte for the tests, independently of the
// tool's own frame builder.
#pragma once

#include <pcap/pcap.h>

#include "capture.h"
#include "rtp.h"

namespace zvtool {

// Frames are assembled here byte by byte, independently of the code under test.
inline Bytes ip_udp(int ipv, ByteView payload, std::uint16_t sport, std::uint16_t dport,
                    std::uint8_t proto = 17) {
  Bytes udp(8 + payload.size());
  store_be16(&udp[0], sport);
  store_be16(&udp[2], dport);
  store_be16(&udp[4], static_cast<std::uint16_t>(udp.size()));
  std::copy(payload.begin(), payload.end(), udp.begin() + 8);
  Bytes ip;
  if (ipv == 4) {
    ip.assign(20, 0);
    ip[0] = 0x45;
    store_be16(&ip[2], static_cast<std::uint16_t>(20 + udp.size()));
    store_be16(&ip[4], 0x1234);
    ip[6] = 0x40;  // don't fragment
    ip[8] = 64;
    ip[9] = proto;
    ip[12] = 10, ip[15] = 1;  // 10.0.0.1
    ip[16] = 10, ip[19] = 2;  // 10.0.0.2
  } else {
    ip.assign(40, 0);
    ip[0] = 0x60;
    store_be16(&ip[4], static_cast<std::uint16_t>(udp.size()));
    ip[6] = proto;
    ip[7] = 64;
    ip[8] = 0x20, ip[9] = 0x01, ip[23] = 1;    // 2001::1
    ip[24] = 0x20, ip[25] = 0x01, ip[39] = 2;  // 2001::2
  }
  const std::size_t header = ip.size();
  ip.resize(header + udp.size());
  std::copy(udp.begin(), udp.end(), ip.begin() + static_cast<std::ptrdiff_t>(header));
  return ip;
}

inline Bytes link_header(int linktype, int ipv) {
  const std::uint16_t et = ipv == 4 ? 0x0800 : 0x86DD;
  switch (linktype) {
    case DLT_EN10MB: {
      Bytes h(14, 0);
      store_be16(&h[12], et);
      return h;
    }
    case DLT_LINUX_SLL: {
      Bytes h(16, 0);
      store_be16(&h[14], et);
      return h;
    }
    case DLT_LINUX_SLL2: {
      Bytes h(20, 0);
      store_be16(&h[0], et);
      return h;
    }
    case DLT_NULL:  // host order of a little-endian capturer; Linux's AF_INET6
      return {static_cast<std::uint8_t>(ipv == 4 ? 2 : 10), 0, 0, 0};
    case DLT_LOOP:  // network order; a BSD AF_INET6
      return {0, 0, 0, static_cast<std::uint8_t>(ipv == 4 ? 2 : 24)};
    default:
      return {};
  }
}

inline Frame frame(int linktype, int ipv, ByteView payload, std::uint16_t sport = 4000,
                   std::uint16_t dport = 5000) {
  Frame f;
  f.data = link_header(linktype, ipv);
  const auto ip = ip_udp(ipv, payload, sport, dport);
  f.data.insert(f.data.end(), ip.begin(), ip.end());
  f.orig_len = static_cast<std::uint32_t>(f.data.size());
  return f;
}

}  // namespace zvtool
