#include "variant.h"

namespace zvtool {

std::vector<zvfec_stream_variant> known_variants() {
  // The stream layer numbers its variants from 0 without gaps.
  std::vector<zvfec_stream_variant> out;
  zvfec_stream_variant_info info{};
  for (int v = 0; zvfec_stream_variant_describe(v, &info) == 0; ++v)
    out.push_back(static_cast<zvfec_stream_variant>(v));
  return out;
}

zvfec_stream_variant_info describe_variant(zvfec_stream_variant v) {
  zvfec_stream_variant_info info{};
  zvfec_stream_variant_describe(v, &info);
  return info;
}

std::string_view variant_name(zvfec_stream_variant v) {
  const char *name = describe_variant(v).name;
  return name ? name : "";
}

std::optional<zvfec_stream_variant> variant_from_name(std::string_view name) {
  for (const auto v : known_variants())
    if (variant_name(v) == name) return v;
  return std::nullopt;
}

std::string variant_list() {
  std::string out;
  for (const auto v : known_variants()) {
    if (!out.empty()) out += ", ";
    out += variant_name(v);
  }
  return out;
}

GroupShape default_shape(zvfec_stream_variant v) {
  // Audio comes some 50 packets a second: a group of 10 would hold a lost
  // packet back for almost 200 ms before its FEC arrives.
  return v == ZVFEC_STREAM_AUDIO_V2 ? GroupShape{5, 2} : GroupShape{10, 4};
}

std::string shape_error(zvfec_stream_variant v, int k, int r) {
  const auto info = describe_variant(v);
  switch (zvfec_stream_check_shape(v, k, r)) {
    case 0:
      return {};
    case ZVFEC_STREAM_E_K:
      return "k must be 1.." + std::to_string(info.max_k);
    case ZVFEC_STREAM_E_R:
      return "r must be 1.." + std::to_string(info.max_r);
    default:
      return "k + r must be at most " + std::to_string(info.max_n);
  }
}

}  // namespace zvtool
