// The FEC variants as the command line names and shapes them. What a variant
// is on the wire (its tag, header and limits) the tool asks the stream layer
// at run time (zvfec_stream_variant_describe); it adds only its own default
// group shapes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <zvfec/stream.h>

namespace zvtool {

// Every variant the stream layer describes, in its order.
std::vector<zvfec_stream_variant> known_variants();

// The stream layer's description of v, which must be one it knows.
zvfec_stream_variant_info describe_variant(zvfec_stream_variant v);

// The name by which the stream layer and the command line know v ("audio-v2", ...).
std::string_view variant_name(zvfec_stream_variant v);

std::optional<zvfec_stream_variant> variant_from_name(std::string_view name);

// The known variants' names as help and messages list them: "a, b, c".
std::string variant_list();

struct GroupShape {
  int k = 0, r = 0;
};

// The (k, r) a command uses for v unless told otherwise.
GroupShape default_shape(zvfec_stream_variant v);

// Empty when (k, r) fits v, else the reason as the commands print it.
std::string shape_error(zvfec_stream_variant v, int k, int r);

}  // namespace zvtool
