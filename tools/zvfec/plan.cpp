#include "plan.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <fmt/format.h>

#include "command.h"
#include "plot.h"
#include "report.h"
#include "variant.h"

namespace zvtool {
namespace {

// Delays are compared with this slack, so that a budget of exactly
// (k - 1) / packets_per_s admits k whatever the rounding.
constexpr double kDelaySlackMs = 1e-9;

// Less overhead first: r / k compared exactly, since every FEC packet of a
// plan has the same size; equal overhead, less delay (smaller k) first.
bool cheaper(const PlanChoice &a, const PlanChoice &b) {
  const auto lhs = static_cast<std::int64_t>(a.r) * b.k, rhs = static_cast<std::int64_t>(b.r) * a.k;
  return lhs != rhs ? lhs < rhs : a.k < b.k;
}

// The half-open range of frontier indices to show: `rows` of them holding the
// best, with two cheaper ones in front of it where the frontier has them.
std::pair<std::size_t, std::size_t> window(const Plan &plan, std::size_t rows) {
  const std::size_t n = plan.frontier.size(), best = plan.best.value_or(0);
  std::size_t from = best >= 2 ? best - 2 : 0;
  if (n > rows) from = std::min(from, n - rows);
  return {from, std::min(n, from + rows)};
}

bool meets(const Plan &plan, const PlanChoice &c) { return c.residual <= plan.request.target; }

std::string note(const Plan &plan, std::size_t i) {
  if (plan.best && i == *plan.best)
    return plan.met ? "cheapest meeting the target" : "closest to the target";
  return meets(plan, plan.frontier[i]) ? "meets the target" : "misses the target";
}

std::string describe_choice(const PlanChoice &c) {
  return fmt::format(
      "k={} r={}: {:.1f}% overhead ({:.1f} kbit/s of FEC), residual loss {:.3g}, {:.1f} ms added "
      "delay",
      c.k, c.r, c.overhead * 100, c.fec_bytes_per_s * 8 / 1e3, c.residual, c.delay_ms);
}

std::string budget(const PlanRequest &req) {
  std::string out = fmt::format("within {:g} ms", req.max_delay_ms);
  if (std::isfinite(req.max_overhead))
    out += fmt::format(" and {:g}% overhead", req.max_overhead * 100);
  return out;
}

nlohmann::json choice_json(const Plan &plan, const PlanChoice &c) {
  return {{"k", c.k},
          {"r", c.r},
          {"overhead", c.overhead},
          {"fec_bytes_per_s", c.fec_bytes_per_s},
          {"residual_loss", c.residual},
          {"added_delay_ms", c.delay_ms},
          {"decode_bytes_per_s", c.decode_bytes_per_s},
          {"meets_target", meets(plan, c)}};
}

}  // namespace

std::string check_plan_request(const PlanRequest &req) {
  if (!(req.packets_per_s > 0) || !std::isfinite(req.packets_per_s))
    return "the stream must have a positive packet rate";
  const auto info = describe_variant(req.variant);
  if (req.packet_bytes < static_cast<int>(info.min_media_len) ||
      req.packet_bytes > static_cast<int>(info.max_media_len))
    return fmt::format("the packet size must be {}..{} bytes (an RTP packet, header included)",
                       info.min_media_len, info.max_media_len);
  if (!(req.target > 0 && req.target < 1)) return "--target must be in (0, 1)";
  if (!(req.max_delay_ms >= 0) || !std::isfinite(req.max_delay_ms))
    return "--max-delay must be a number of milliseconds >= 0";
  if (!(req.max_overhead > 0)) return "--max-overhead must be > 0";
  return {};
}

Plan make_plan(const PlanRequest &req) {
  Plan plan;
  plan.request = req;
  const auto info = describe_variant(req.variant);
  const std::size_t s = zvfec_stream_symbol_len(static_cast<std::size_t>(req.packet_bytes));
  plan.fec_packet_bytes = zvfec_stream_fec_size(req.variant, s);
  const auto fec_bytes = static_cast<double>(plan.fec_packet_bytes);
  const auto media_bytes = static_cast<double>(req.packet_bytes);

  const MdsResidualTable table(req.channel, info.max_k, info.max_r);
  std::vector<PlanChoice> within;
  for (int k = 1; k <= info.max_k; ++k)
    for (int r = 1; r <= info.max_r; ++r) {
      if (zvfec_stream_check_shape(req.variant, k, r) != 0) continue;
      ++plan.shapes;
      PlanChoice c;
      c.k = k;
      c.r = r;
      c.delay_ms = (k - 1) * 1e3 / req.packets_per_s;
      c.overhead = r * fec_bytes / (k * media_bytes);
      if (c.delay_ms > req.max_delay_ms + kDelaySlackMs || c.overhead > req.max_overhead) continue;
      const auto m = table.at(k, r);
      c.residual = m.mean;
      c.residual_variance = m.variance;
      c.fec_bytes_per_s = req.packets_per_s / k * r * fec_bytes;
      // Media lost per packet sent, less what stays lost: what the decoder
      // brings back.
      const double recovered_per_s = req.packets_per_s * std::max(req.channel.rate - m.mean, 0.0);
      c.decode_bytes_per_s = recovered_per_s * k * static_cast<double>(s);
      within.push_back(c);
    }
  plan.within_budget = static_cast<int>(within.size());
  std::sort(within.begin(), within.end(), cheaper);

  for (const auto &c : within)
    if (plan.frontier.empty() || c.residual < plan.frontier.back().residual)
      plan.frontier.push_back(c);
  if (plan.frontier.empty()) return plan;
  // The frontier's residual loss falls along it: the first to meet the target
  // is the cheapest that does, and the last the closest when none does.
  const auto hit = std::find_if(plan.frontier.begin(), plan.frontier.end(),
                                [&](const PlanChoice &c) { return meets(plan, c); });
  plan.met = hit != plan.frontier.end();
  plan.best =
      static_cast<std::size_t>((plan.met ? hit : plan.frontier.end() - 1) - plan.frontier.begin());
  return plan;
}

std::optional<double> parse_bit_rate(std::string_view text) {
  double scale = 1;
  if (!text.empty()) {
    switch (text.back()) {
      case 'k':
      case 'K':
        scale = 1e3;
        break;
      case 'M':
        scale = 1e6;
        break;
      case 'G':
        scale = 1e9;
        break;
      default:
        break;
    }
    if (scale != 1) text.remove_suffix(1);
  }
  const auto v = parse_double(text);
  if (!v || !(*v > 0)) return std::nullopt;
  return *v * scale;
}

std::string plan_text(const Plan &plan, std::size_t rows) {
  const auto &req = plan.request;
  std::string out = fmt::format(
      "{} on {}: {:.4g} packets/s of {} bytes, residual loss target {:g}, added delay <= {:g} "
      "ms{}\n",
      variant_name(req.variant), req.channel.describe(), req.packets_per_s, req.packet_bytes,
      req.target, req.max_delay_ms,
      std::isfinite(req.max_overhead) ? fmt::format(", overhead <= {:g}%", req.max_overhead * 100)
                                      : "");
  out += fmt::format("searched all {} shapes (k, r) of {}; {} fit the budget\n", plan.shapes,
                     variant_name(req.variant), plan.within_budget);
  if (!plan.best) return out + fmt::format("no shape fits {}\n", budget(req));
  const auto &best = plan.frontier[*plan.best];
  if (plan.met)
    out += fmt::format("cheapest: {}\n", describe_choice(best));
  else
    out += fmt::format("no shape {} reaches {:g}; the closest: {}\n", budget(req), req.target,
                       describe_choice(best));

  out += fmt::format("\n  {:>3} {:>3} {:>9} {:>10} {:>13} {:>8} {:>11}\n", "k", "r", "overhead%",
                     "FEC kbit/s", "residual loss", "delay ms", "decode MB/s");
  const auto [from, to] = window(plan, rows);
  for (std::size_t i = from; i < to; ++i) {
    const auto &c = plan.frontier[i];
    out += fmt::format("{} {:>3} {:>3} {:>9.2f} {:>10.1f} {:>13.3g} {:>8.1f} {:>11.3g}  {}\n",
                       i == plan.best ? '>' : ' ', c.k, c.r, c.overhead * 100,
                       c.fec_bytes_per_s * 8 / 1e3, c.residual, c.delay_ms,
                       c.decode_bytes_per_s / 1e6, note(plan, i));
  }
  return out;
}

nlohmann::json plan_json(const Plan &plan, std::size_t rows) {
  const auto &req = plan.request;
  nlohmann::json j{
      {"variant", variant_name(req.variant)},      {"channel", channel_json(req.channel)},
      {"packets_per_s", req.packets_per_s},        {"packet_bytes", req.packet_bytes},
      {"fec_packet_bytes", plan.fec_packet_bytes}, {"target", req.target},
      {"max_delay_ms", req.max_delay_ms},          {"shapes", plan.shapes},
      {"within_budget", plan.within_budget},       {"met", plan.met}};
  if (std::isfinite(req.max_overhead)) j["max_overhead"] = req.max_overhead;
  j["choice"] = plan.best ? choice_json(plan, plan.frontier[*plan.best]) : nlohmann::json();
  nlohmann::json list = nlohmann::json::array();
  const auto [from, to] = window(plan, rows);
  for (std::size_t i = from; i < to; ++i) list.push_back(choice_json(plan, plan.frontier[i]));
  j["choices"] = list;
  return j;
}

std::optional<PlanCommand> parse_plan(const PlanArgs &a, std::string *why) {
  PlanCommand cmd;
  PlanRequest &req = cmd.request;
  const auto variant = variant_from_name(a.variant);
  if (!variant) {
    *why = fmt::format("unknown variant '{}' ({})", a.variant, variant_list());
    return std::nullopt;
  }
  req.variant = *variant;
  const auto channel = channel_from_options(a.loss, a.burst, why);
  if (!channel) return std::nullopt;
  req.channel = *channel;
  req.packet_bytes = a.packet;
  if (a.pps.has_value() == !a.rate.empty()) {
    *why = "give the stream as --pps N or as --rate BITS (with --packet BYTES)";
    return std::nullopt;
  }
  if (a.pps) {
    req.packets_per_s = *a.pps;
  } else {
    const auto bits = parse_bit_rate(a.rate);
    if (!bits) {
      *why = fmt::format("--rate '{}' must be a bit rate such as 2.5M or 64k", a.rate);
      return std::nullopt;
    }
    req.packets_per_s = *bits / (8.0 * a.packet);
  }
  req.target = a.target;
  req.max_delay_ms = a.max_delay;
  if (a.max_overhead) req.max_overhead = *a.max_overhead;
  if (auto e = check_plan_request(req); !e.empty()) {
    *why = e;
    return std::nullopt;
  }
  cmd.json = a.json;
  cmd.plot = a.plot;
  return cmd;
}

PlanReport run_plan(const PlanCommand &cmd) {
  PlanReport report{make_plan(cmd.request), {}};
  if (cmd.plot.empty()) return report;
  for (double f : {0.25, 0.5, 1.0, 2.0}) {
    PlanRequest r = cmd.request;
    r.max_delay_ms = cmd.request.max_delay_ms * f;
    if (f == 1.0)
      report.budgets.push_back(report.plan);
    else if (r.max_delay_ms > 0)
      report.budgets.push_back(make_plan(r));
  }
  return report;
}

int print_plan(const PlanCommand &cmd, const PlanReport &report) {
  if (cmd.json)
    fmt::print("{}\n", plan_json(report.plan).dump(2));
  else
    fmt::print("{}", plan_text(report.plan));
  if (!cmd.plot.empty()) {
    if (auto e = plot_plans(report.budgets, report.plan, cmd.plot); !e.empty())
      return command_error("plan", e);
    if (!cmd.json) fmt::print("plot written to {}\n", cmd.plot);
  }
  return 0;
}

int plan_command(const PlanArgs &args) {
  std::string why;
  const auto cmd = parse_plan(args, &why);
  if (!cmd) return command_error("plan", why);
  return print_plan(*cmd, run_plan(*cmd));
}

}  // namespace zvtool
