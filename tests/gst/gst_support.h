// GStreamer set-up for the plugin's tests: the elements registered in
// process (no plugin file is loaded), and buffers to and from byte vectors.
#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <vector>

#include "zvfec_common.h"

namespace zvtest {

using Bytes = std::vector<std::uint8_t>;

// Initialises GStreamer once and registers zvfecenc and zvfecdec.
inline void gst_setup() {
  static const bool done = [] {
    gst_init(nullptr, nullptr);
    return gst_plugin_register_static(
        GST_VERSION_MAJOR, GST_VERSION_MINOR, "zvfec", "zvfec elements, registered by the tests",
        zvfec_gst_register_elements, "1.0", "unknown", "zv_rsfec", "zv_rsfec", "zv_rsfec");
  }();
  (void)done;
}

inline GstBuffer *to_buffer(const Bytes &b) {
  return b.empty() ? gst_buffer_new() : gst_buffer_new_memdup(b.data(), b.size());
}

inline Bytes from_buffer(GstBuffer *b) {
  Bytes out(gst_buffer_get_size(b));
  gst_buffer_extract(b, 0, out.data(), out.size());
  return out;
}

}  // namespace zvtest
