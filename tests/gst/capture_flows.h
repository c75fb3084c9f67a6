// The UDP payloads of one flow of a capture, read with the tool's capture
// module, for comparing the elements with the zvfec tool.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture.h"

namespace zvtest {

// In capture order, the payloads of the UDP datagrams sent to port dport.
inline std::vector<zvtool::Bytes> flow_payloads(const std::string &path, std::uint16_t dport) {
  std::string why;
  const auto cap = zvtool::read_capture(path, &why);
  EXPECT_TRUE(cap) << why;
  std::vector<zvtool::Bytes> out;
  if (!cap) return out;
  for (const auto &f : cap->frames) {
    const auto v = zvtool::dissect_udp(cap->linktype, f);
    if (!v || v->flow.dport != dport) continue;
    const auto at = f.data.begin() + static_cast<std::ptrdiff_t>(v->payload_off);
    out.emplace_back(at, at + static_cast<std::ptrdiff_t>(v->payload_len));
  }
  return out;
}

}  // namespace zvtest
