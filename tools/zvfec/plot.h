// Residual loss against channel loss, drawn by gnuplot fed over a pipe.
#pragma once

#include <string>
#include <vector>

#include "report.h"

namespace zvtool {

// Writes a PNG or SVG (chosen by the path's extension) with one solid line per
// case and, in the same colour, the ideal code's bound dashed; the y axis is
// logarithmic, so zero residual loss leaves a gap. Returns an empty string on
// success, else the reason (gnuplot missing, unknown extension, gnuplot error).
std::string plot_sweep(const std::vector<SweepPoint> &sweep, const std::string &path);

}  // namespace zvtool
