#include "capture.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fmt/format.h>
#include <pcap/pcap.h>

#include "rtp.h"

namespace zvtool {
namespace {

constexpr std::uint16_t kEtherIpv4 = 0x0800, kEtherIpv6 = 0x86DD, kEtherVlan = 0x8100;

// Where the IP header starts and which IP version the link layer announces
// (0: let the IP header tell).
struct LinkInfo {
  std::size_t l3_off;
  int ip_version;
};

int version_of_ethertype(std::uint16_t t) { return t == kEtherIpv4 ? 4 : t == kEtherIpv6 ? 6 : -1; }

std::optional<LinkInfo> link_layer(int linktype, ByteView d) {
  switch (linktype) {
    case DLT_EN10MB: {
      if (d.size() < 14) return std::nullopt;
      std::size_t off = 12;
      std::uint16_t t = load_be16(&d[off]);
      if (t == kEtherVlan) {
        if (d.size() < 18) return std::nullopt;
        off += 4;
        t = load_be16(&d[off]);
      }
      const int v = version_of_ethertype(t);
      if (v < 0) return std::nullopt;
      return LinkInfo{off + 2, v};
    }
    case DLT_LINUX_SLL:
      if (d.size() < 16) return std::nullopt;
      if (const int v = version_of_ethertype(load_be16(&d[14])); v > 0) return LinkInfo{16, v};
      return std::nullopt;
    case DLT_LINUX_SLL2:
      if (d.size() < 20) return std::nullopt;
      if (const int v = version_of_ethertype(load_be16(&d[0])); v > 0) return LinkInfo{20, v};
      return std::nullopt;
    case DLT_NULL:
    case DLT_LOOP: {
      // The address family, in the capturing host's byte order for DLT_NULL:
      // accept either order. IPv6 is 10, 24, 28 or 30 depending on the system.
      if (d.size() < 4) return std::nullopt;
      const std::uint32_t be = load_be32(&d[0]);
      const std::uint32_t le =
          (be >> 24) | ((be >> 8) & 0xFF00) | ((be << 8) & 0xFF0000) | (be << 24);
      for (std::uint32_t af : {be, le}) {
        if (af == 2) return LinkInfo{4, 4};
        if (af == 10 || af == 24 || af == 28 || af == 30) return LinkInfo{4, 6};
      }
      return std::nullopt;
    }
    case DLT_RAW:
#ifdef DLT_IPV4
    case DLT_IPV4:
    case DLT_IPV6:
#endif
      return LinkInfo{0, 0};
    default:
      return std::nullopt;
  }
}

std::uint32_t sum16(const std::uint8_t *p, std::size_t n, std::uint32_t acc = 0) {
  for (std::size_t i = 0; i + 1 < n; i += 2) acc += load_be16(p + i);
  if (n & 1) acc += static_cast<std::uint32_t>(p[n - 1]) << 8;
  return acc;
}

std::uint16_t fold(std::uint32_t acc) {
  while (acc >> 16) acc = (acc & 0xFFFF) + (acc >> 16);
  return static_cast<std::uint16_t>(~acc & 0xFFFF);
}

}  // namespace

bool linktype_supported(int linktype) {
  switch (linktype) {
    case DLT_EN10MB:
    case DLT_LINUX_SLL:
    case DLT_LINUX_SLL2:
    case DLT_NULL:
    case DLT_LOOP:
    case DLT_RAW:
#ifdef DLT_IPV4
    case DLT_IPV4:
    case DLT_IPV6:
#endif
      return true;
    default:
      return false;
  }
}

std::string flow_name(const FlowKey &f) {
  if (f.ip_version == 4)
    return fmt::format("{}.{}.{}.{}:{} -> {}.{}.{}.{}:{}", f.src[0], f.src[1], f.src[2], f.src[3],
                       f.sport, f.dst[0], f.dst[1], f.dst[2], f.dst[3], f.dport);
  auto v6 = [](const std::array<std::uint8_t, 16> &a) {
    std::string s;
    for (std::size_t i = 0; i < 16; i += 2)
      s += fmt::format("{}{:x}", i ? ":" : "", load_be16(&a[i]));
    return s;
  };
  return fmt::format("[{}]:{} -> [{}]:{}", v6(f.src), f.sport, v6(f.dst), f.dport);
}

std::optional<Capture> read_capture(const std::string &path, std::string *error) {
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *error = fmt::format("cannot read '{}' as a packet capture: {}", path, std::strerror(errno));
    return std::nullopt;
  }
  return read_capture(f, path, error);
}

std::optional<Capture> read_capture(std::FILE *stream, const std::string &name,
                                    std::string *error) {
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  // On success the capture owns the stream and pcap_close closes it.
  pcap_t *p = pcap_fopen_offline_with_tstamp_precision(stream, PCAP_TSTAMP_PRECISION_NANO, errbuf);
  if (!p) {
    std::fclose(stream);
    *error = fmt::format("cannot read '{}' as a packet capture: {}", name, errbuf);
    return std::nullopt;
  }
  Capture cap;
  cap.linktype = pcap_datalink(p);
  for (;;) {
    pcap_pkthdr *h = nullptr;
    const u_char *data = nullptr;
    const int rc = pcap_next_ex(p, &h, &data);
    if (rc == PCAP_ERROR_BREAK) break;  // end of file
    if (rc != 1) {
      cap.warning = fmt::format("'{}' is damaged after {} packets ({}); using those packets", name,
                                cap.frames.size(), pcap_geterr(p));
      break;
    }
    Frame f;
    f.ts_ns = static_cast<std::int64_t>(h->ts.tv_sec) * 1000000000 +
              static_cast<std::int64_t>(h->ts.tv_usec);
    f.data.assign(data, data + h->caplen);
    f.orig_len = h->len;
    cap.frames.push_back(std::move(f));
  }
  pcap_close(p);
  return cap;
}

std::optional<Capture> read_supported_capture(const std::string &path, std::string *warning,
                                              std::string *error) {
  warning->clear();
  auto cap = read_capture(path, error);
  if (!cap) return std::nullopt;
  *warning = cap->warning;
  if (!linktype_supported(cap->linktype)) {
    *error =
        fmt::format("'{}' has link type {}, which this tool does not read", path, cap->linktype);
    return std::nullopt;
  }
  return cap;
}

std::string write_capture(const std::string &path, int linktype, const std::vector<Frame> &frames) {
  pcap_t *p = pcap_open_dead_with_tstamp_precision(linktype, 262144, PCAP_TSTAMP_PRECISION_NANO);
  if (!p) return "cannot set up a capture writer";
  pcap_dumper_t *d = pcap_dump_open(p, path.c_str());
  if (!d) {
    std::string why = fmt::format("cannot write '{}': {}", path, pcap_geterr(p));
    pcap_close(p);
    return why;
  }
  for (const auto &f : frames) {
    pcap_pkthdr h{};
    h.ts.tv_sec = static_cast<decltype(h.ts.tv_sec)>(f.ts_ns / 1000000000);
    h.ts.tv_usec = static_cast<decltype(h.ts.tv_usec)>(f.ts_ns % 1000000000);
    h.caplen = static_cast<bpf_u_int32>(f.data.size());
    h.len = std::max<bpf_u_int32>(f.orig_len, h.caplen);
    pcap_dump(reinterpret_cast<u_char *>(d), &h, f.data.data());
  }
  const bool ok = pcap_dump_flush(d) == 0;
  pcap_dump_close(d);
  pcap_close(p);
  return ok ? std::string{} : fmt::format("error while writing '{}'", path);
}

std::optional<UdpView> dissect_udp(int linktype, const Frame &frame) {
  const ByteView d = frame.data;
  if (d.size() != frame.orig_len) return std::nullopt;  // cut by snaplen
  const auto link = link_layer(linktype, d);
  if (!link || link->l3_off >= d.size()) return std::nullopt;
  UdpView v;
  v.l3_off = link->l3_off;
  const std::uint8_t *ip = d.data() + v.l3_off;
  const std::size_t avail = d.size() - v.l3_off;
  const int version = ip[0] >> 4;
  if (link->ip_version != 0 && version != link->ip_version) return std::nullopt;
  std::size_t ip_end = 0;  // end of the IP packet within the frame
  if (version == 4) {
    const std::size_t ihl = static_cast<std::size_t>(ip[0] & 0x0F) * 4;
    if (avail < 20 || ihl < 20 || ihl > avail) return std::nullopt;
    const std::size_t total = load_be16(ip + 2);
    if (total < ihl || total > avail || ip[9] != 17) return std::nullopt;
    if ((load_be16(ip + 6) & 0x3FFF) != 0) return std::nullopt;  // a fragment
    v.flow.ip_version = 4;
    std::memcpy(v.flow.src.data(), ip + 12, 4);
    std::memcpy(v.flow.dst.data(), ip + 16, 4);
    v.l4_off = v.l3_off + ihl;
    ip_end = v.l3_off + total;
  } else if (version == 6) {
    if (avail < 40) return std::nullopt;
    const std::size_t total = 40 + std::size_t{load_be16(ip + 4)};
    if (total > avail) return std::nullopt;
    std::uint8_t next = ip[6];
    std::size_t off = 40;
    // Hop-by-hop, routing and destination options may precede UDP; a fragment
    // header or anything else means no whole datagram here.
    while (next == 0 || next == 43 || next == 60) {
      if (off + 8 > total) return std::nullopt;
      const std::size_t len = (std::size_t{ip[off + 1]} + 1) * 8;
      next = ip[off];
      off += len;
    }
    if (next != 17 || off > total) return std::nullopt;
    v.flow.ip_version = 6;
    std::memcpy(v.flow.src.data(), ip + 8, 16);
    std::memcpy(v.flow.dst.data(), ip + 24, 16);
    v.l4_off = v.l3_off + off;
    ip_end = v.l3_off + total;
  } else {
    return std::nullopt;
  }
  if (v.l4_off + 8 > ip_end) return std::nullopt;
  const std::uint8_t *udp = d.data() + v.l4_off;
  const std::size_t udp_len = load_be16(udp + 4);
  if (udp_len < 8 || v.l4_off + udp_len > ip_end) return std::nullopt;
  v.flow.sport = load_be16(udp);
  v.flow.dport = load_be16(udp + 2);
  v.payload_off = v.l4_off + 8;
  v.payload_len = udp_len - 8;
  return v;
}

Bytes build_udp_frame(const Frame &tmpl, const UdpView &v, std::uint16_t sport, std::uint16_t dport,
                      ByteView payload) {
  const std::size_t udp_len = 8 + payload.size();
  const std::size_t ip_len = v.l4_off - v.l3_off + udp_len;
  if (udp_len > 0xFFFF || (v.flow.ip_version == 4 && ip_len > 0xFFFF) ||
      (v.flow.ip_version == 6 && ip_len - 40 > 0xFFFF))
    return {};
  Bytes out(tmpl.data.begin(), tmpl.data.begin() + static_cast<std::ptrdiff_t>(v.payload_off));
  out.insert(out.end(), payload.begin(), payload.end());
  std::uint8_t *ip = out.data() + v.l3_off;
  std::uint8_t *udp = out.data() + v.l4_off;
  store_be16(udp, sport);
  store_be16(udp + 2, dport);
  store_be16(udp + 4, static_cast<std::uint16_t>(udp_len));
  store_be16(udp + 6, 0);
  std::uint32_t pseudo = 0;
  if (v.flow.ip_version == 4) {
    const std::size_t ihl = v.l4_off - v.l3_off;
    store_be16(ip + 2, static_cast<std::uint16_t>(ip_len));
    store_be16(ip + 10, 0);
    store_be16(ip + 10, fold(sum16(ip, ihl)));
    pseudo = sum16(ip + 12, 8) + 17 + static_cast<std::uint32_t>(udp_len);
  } else {
    store_be16(ip + 4, static_cast<std::uint16_t>(ip_len - 40));
    pseudo = sum16(ip + 8, 32) + 17 + static_cast<std::uint32_t>(udp_len);
  }
  std::uint16_t sum = fold(sum16(udp, udp_len, pseudo));
  if (sum == 0) sum = 0xFFFF;
  store_be16(udp + 6, sum);
  return out;
}

}  // namespace zvtool
