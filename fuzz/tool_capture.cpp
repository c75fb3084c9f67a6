// The zvfec tool's capture reader on the fuzzer's bytes as a capture file,
// then every frame through the tool's UDP dissector and its RTP and FEC packet
// parsers (tool_support.h). Oracle: what the parsers accept is consistent with
// the frame, and a dissected datagram survives being rebuilt.
#include <cstdint>
#include <cstdio>
#include <string>

#include "capture.h"
#include "fuzz_support.h"
#include "tool_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;  // fmemopen refuses an empty buffer
  const zvfuzz::ExactBuf bytes(data, size);
  std::string error;
  const auto cap = zvtool::read_capture(zvfuzz::read_stream(bytes), "fuzz input", &error);
  if (!cap) {
    ZV_FUZZ_CHECK(!error.empty());
    return 0;
  }
  for (const zvtool::Frame &frame : cap->frames) zvfuzz::check_frame(cap->linktype, frame);
  return 0;
}
