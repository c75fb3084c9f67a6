// Synthetic RTP media streams for the simulator: random payload bytes with the
// sizes and timing of a real encoder's output.
#pragma once

#include <cstdint>
#include <vector>

#include "bytes.h"

namespace zvtool {

// A video stream of `bitrate` bit/s at `fps` frames/s for `seconds`: every
// fps-th frame is a key frame four times the size of the others, frame sizes
// vary by +-20 %, and each frame is split into RTP packets of at most
// max_packet bytes (header included); the last packet of a frame has the marker.
std::vector<Bytes> synthetic_video(double seconds, double bitrate, int fps, int max_packet,
                                   std::uint64_t seed);

// An audio stream of packets_per_s packets of 100..200 bytes (about 60 kbit/s,
// like a speech codec at 20 ms frames) for `seconds`.
std::vector<Bytes> synthetic_audio(double seconds, int packets_per_s, std::uint64_t seed);

}  // namespace zvtool
