// Planning: the cheapest group shape (k, r) that brings a measured channel's
// loss down to a target within a latency budget, found by an exact search over
// every shape a variant allows; and the `plan` command that prints it.
#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include <zvfec/stream.h>

#include "loss_channel.h"
#include "variant.h"

namespace zvtool {

struct PlanRequest {
  zvfec_stream_variant variant = ZVFEC_STREAM_VIDEO_V2;
  LossModel channel;
  double packets_per_s = 0;
  int packet_bytes = 1200;  // RTP packet, header included
  double target = 1e-4;     // residual media loss to reach
  double max_delay_ms = 100;
  double max_overhead = std::numeric_limits<double>::infinity();  // FEC bytes / media bytes
};

// One group shape on the request's stream and channel.
//
// Added delay: protect sends a group's FEC packets right behind its last media
// packet, so a receiver missing the group's first media packet can have it back
// (k - 1) / packets_per_s after it was due, once the rest of the group is in.
// Decode work: recovering one media packet combines k received symbols of S
// bytes, k * S bytes of GF(256) multiply-add; the rate is that times the
// expected media packets recovered per second.
struct PlanChoice {
  int k = 0, r = 0;
  double overhead = 0;         // FEC bytes / media bytes
  double fec_bytes_per_s = 0;  // what the FEC packets add to the stream
  double residual = 0;         // exact expected residual media loss
  double residual_variance = 0;
  double delay_ms = 0;
  double decode_bytes_per_s = 0;
};

struct Plan {
  PlanRequest request;
  std::size_t fec_packet_bytes = 0;
  int shapes = 0;         // (k, r) the variant allows
  int within_budget = 0;  // of those, within the delay and overhead budgets
  // The shapes within budget ordered from cheapest (least overhead; equal
  // overhead: less delay), each kept only if its residual loss is below that
  // of every cheaper one: the cheapest way to each level of residual loss.
  std::vector<PlanChoice> frontier;
  // Index into frontier: the cheapest choice that meets the target, or when
  // none does the closest one (the least residual loss). Empty when no shape
  // fits the budget at all.
  std::optional<std::size_t> best;
  bool met = false;
};

// Empty when the request can be planned, else the reason.
std::string check_plan_request(const PlanRequest &req);

Plan make_plan(const PlanRequest &req);

// A bit rate such as "2500000", "2.5M" or "64k" (k, M, G: powers of 1000).
std::optional<double> parse_bit_rate(std::string_view text);

// The answer as text and as JSON: the request, the best choice, and the
// frontier around it (the `rows` nearest choices, the best among them).
std::string plan_text(const Plan &plan, std::size_t rows = 7);
nlohmann::json plan_json(const Plan &plan, std::size_t rows = 7);

// `zvfec plan` as the command line gives it.
struct PlanArgs {
  std::string variant = std::string(variant_name(ZVFEC_STREAM_VIDEO_V2));
  std::string loss, burst, rate, plot;
  std::optional<double> pps, max_overhead;
  int packet = 1200;
  double target = 0, max_delay = 0;
  bool json = false;
};

struct PlanCommand {
  PlanRequest request;
  bool json = false;
  std::string plot;  // the file to draw; empty: none
};

struct PlanReport {
  Plan plan;
  // With a plot: the plans for a quarter, a half, once and twice the delay
  // budget, `plan` itself among them; a budget of 0 ms leaves out the others.
  std::vector<Plan> budgets;
};

// The command, or nullopt with the reason in *why.
std::optional<PlanCommand> parse_plan(const PlanArgs &args, std::string *why);

PlanReport run_plan(const PlanCommand &cmd);

// Prints the plan as text or JSON and draws the plot asked for; returns the
// exit status (1 when the plot could not be drawn).
int print_plan(const PlanCommand &cmd, const PlanReport &report);

// parse, run and print; returns the exit status.
int plan_command(const PlanArgs &args);

}  // namespace zvtool
