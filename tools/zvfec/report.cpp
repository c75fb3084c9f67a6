#include "report.h"

#include <fmt/format.h>

#include "variant.h"

namespace zvtool {
namespace {

std::string pct(double x) { return fmt::format("{:.4g}", x * 100); }

std::string rate(double mbps) { return mbps > 0 ? fmt::format("{:.0f}", mbps) : "-"; }

nlohmann::json result_json(const SimResult &r) {
  nlohmann::json j;
  j["variant"] = variant_name(r.c.variant);
  j["k"] = r.c.k;
  j["r"] = r.c.r;
  j["channel"] = channel_json(r.c.channel);
  if (!r.error.empty()) {
    j["error"] = r.error;
    return j;
  }
  j["groups"] = r.groups;
  j["media_packets"] = r.media;
  j["media_bytes"] = r.media_bytes;
  j["fec_bytes"] = r.fec_bytes;
  j["overhead"] = r.overhead;
  j["lost"] = r.lost;
  j["recovered"] = r.recovered;
  j["residual_loss"] = r.residual;
  j["mds_residual_loss"] = r.mds;
  j["mds_stderr"] = r.mds_stderr;
  j["failed_groups"] = r.failed_groups;
  j["corrupt"] = r.corrupt;
  j["encode_mb_per_s"] = r.encode_mbps;
  j["decode_mb_per_s"] = r.decode_mbps;
  j["group_latency_us"] = {{"p50", r.latency_p50_us}, {"p99", r.latency_p99_us}};
  return j;
}

}  // namespace

nlohmann::json channel_json(const LossModel &m) {
  nlohmann::json j{{"kind", m.burst ? "burst" : "random"}, {"loss", m.rate}};
  if (m.burst) j["mean_burst"] = m.mean_burst;
  return j;
}

std::string results_table(const std::vector<SimResult> &rs) {
  std::string out = fmt::format(
      "{:<9} {:<18} {:>3} {:>3} {:>9} {:>7} {:>6} {:>9} {:>10} {:>10} {:>8} {:>8} {:>8} {:>8}\n",
      "variant", "channel", "k", "r", "overhead%", "media", "lost", "recovered", "residual%",
      "MDS%", "enc MB/s", "dec MB/s", "p50 us", "p99 us");
  for (const auto &r : rs) {
    const auto name = variant_name(r.c.variant);
    if (!r.error.empty()) {
      out += fmt::format("{:<9} {:<18} {:>3} {:>3} error: {}\n", name, r.c.channel.describe(),
                         r.c.k, r.c.r, r.error);
      continue;
    }
    out += fmt::format(
        "{:<9} {:<18} {:>3} {:>3} {:>9.1f} {:>7} {:>6} {:>9} {:>10} {:>10} {:>8} {:>8} {:>8.1f} "
        "{:>8.1f}\n",
        name, r.c.channel.describe(), r.c.k, r.c.r, r.overhead * 100, r.media, r.lost, r.recovered,
        pct(r.residual), pct(r.mds), rate(r.encode_mbps), rate(r.decode_mbps), r.latency_p50_us,
        r.latency_p99_us);
  }
  return out;
}

std::string results_csv(const std::vector<SimResult> &rs) {
  std::string out =
      "variant,channel,loss,mean_burst,k,r,overhead,media,lost,recovered,"
      "residual,mds_residual,mds_stderr,encode_mb_s,decode_mb_s,latency_p50_us,"
      "latency_p99_us,failed_groups,corrupt,error\n";
  for (const auto &r : rs)
    out += fmt::format("{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{}\n",
                       variant_name(r.c.variant), r.c.channel.burst ? "burst" : "random",
                       r.c.channel.rate, r.c.channel.mean_burst, r.c.k, r.c.r, r.overhead, r.media,
                       r.lost, r.recovered, r.residual, r.mds, r.mds_stderr, r.encode_mbps,
                       r.decode_mbps, r.latency_p50_us, r.latency_p99_us, r.failed_groups,
                       r.corrupt, r.error);
  return out;
}

nlohmann::json results_json(const std::vector<SimResult> &rs) {
  nlohmann::json j = nlohmann::json::array();
  for (const auto &r : rs) j.push_back(result_json(r));
  return {{"results", j}};
}

std::string sweep_table(const std::vector<SweepPoint> &sweep) {
  if (sweep.empty()) return {};
  std::string out = fmt::format("{:>7}", "loss%");
  for (const auto &r : sweep.front().results) {
    const auto name = variant_name(r.c.variant);
    out += fmt::format(" {:>16} {:>16}", fmt::format("{} {}/{}", name, r.c.k, r.c.r), "MDS%");
  }
  out += "\n";
  for (const auto &p : sweep) {
    out += fmt::format("{:>7.3g}", p.loss * 100);
    for (const auto &r : p.results)
      out += r.error.empty() ? fmt::format(" {:>16} {:>16}", pct(r.residual), pct(r.mds))
                             : fmt::format(" {:>33}", "error: " + r.error);
    out += "\n";
  }
  return out;
}

std::string sweep_csv(const std::vector<SweepPoint> &sweep) {
  std::vector<SimResult> all;
  for (const auto &p : sweep) all.insert(all.end(), p.results.begin(), p.results.end());
  return results_csv(all);
}

nlohmann::json sweep_json(const std::vector<SweepPoint> &sweep) {
  nlohmann::json pts = nlohmann::json::array();
  for (const auto &p : sweep) {
    nlohmann::json rs = nlohmann::json::array();
    for (const auto &r : p.results) rs.push_back(result_json(r));
    pts.push_back({{"loss", p.loss}, {"results", rs}});
  }
  return {{"sweep", pts}};
}

}  // namespace zvtool
