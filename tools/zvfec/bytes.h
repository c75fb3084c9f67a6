// The byte buffers the tool passes around.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace zvtool {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

}  // namespace zvtool
