// Simulation results as a terminal table, CSV and JSON.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "simulate.h"

namespace zvtool {

// {"kind": "random" or "burst", "loss": rate[, "mean_burst": length]}
nlohmann::json channel_json(const LossModel &m);

std::string results_table(const std::vector<SimResult> &rs);
std::string results_csv(const std::vector<SimResult> &rs);
nlohmann::json results_json(const std::vector<SimResult> &rs);

std::string sweep_table(const std::vector<SweepPoint> &sweep);
std::string sweep_csv(const std::vector<SweepPoint> &sweep);
nlohmann::json sweep_json(const std::vector<SweepPoint> &sweep);

}  // namespace zvtool
