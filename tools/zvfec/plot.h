// Plots drawn by gnuplot fed over a pipe.
#pragma once

#include <string>
#include <vector>

#include "plan.h"
#include "report.h"

namespace zvtool {

// Writes a PNG or SVG (chosen by the path's extension) with one solid line per
// case and, in the same colour, the ideal code's bound dashed; the y axis is
// logarithmic, so zero residual loss leaves a gap. Returns an empty string on
// success, else the reason (gnuplot missing, unknown extension, gnuplot error).
std::string plot_sweep(const std::vector<SweepPoint> &sweep, const std::string &path);

// The frontier of each plan (residual loss against overhead; the plans differ
// in their delay budget), the target, and the best choice of `chosen`; the
// same formats and errors as plot_sweep.
std::string plot_plans(const std::vector<Plan> &plans, const Plan &chosen, const std::string &path);

}  // namespace zvtool
