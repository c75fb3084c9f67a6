#include "plot.h"

#include <cstdio>

#include <fmt/format.h>

#include "variant.h"

#ifdef _WIN32
#define ZV_POPEN _popen
#define ZV_PCLOSE _pclose
#define ZV_NULL_DEVICE "NUL"
#else
#define ZV_POPEN popen
#define ZV_PCLOSE pclose
#define ZV_NULL_DEVICE "/dev/null"
#endif

namespace zvtool {
namespace {

// gnuplot single-quoted strings double an embedded quote.
std::string quoted(const std::string &s) {
  std::string out = "'";
  for (char c : s) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

bool ends_with(const std::string &s, const std::string &suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A value on a logarithmic axis: zero leaves a gap.
std::string on_log_axis(double x) { return x > 0 ? fmt::format("{:.6g}", x) : "NaN"; }

std::string value(double x) { return on_log_axis(x * 100); }

bool have_gnuplot() {
  FILE *p = ZV_POPEN("gnuplot --version 2>" ZV_NULL_DEVICE, "r");
  if (!p) return false;
  char buf[128] = {};
  const bool got = std::fgets(buf, sizeof buf, p) != nullptr;
  const int rc = ZV_PCLOSE(p);
  return got && rc == 0 && std::string(buf).rfind("gnuplot", 0) == 0;
}

// Draws with gnuplot into path, a PNG or an SVG by its extension; `body` is
// the script after the terminal and the output file are set. Returns an empty
// string on success, else the reason.
std::string draw(const std::string &path, const std::string &body) {
  std::string terminal;
  if (ends_with(path, ".png"))
    terminal = "pngcairo size 1000,650 font 'sans,11'";
  else if (ends_with(path, ".svg"))
    terminal = "svg size 1000,650 dynamic font 'sans,11'";
  else
    return fmt::format("plot file '{}' must end in .png or .svg", path);
  if (!have_gnuplot()) return "gnuplot was not found; install gnuplot (Debian: gnuplot-nox)";

  const std::string script =
      fmt::format("set terminal {}\nset output {}\n", terminal, quoted(path)) +
      "set datafile missing 'NaN'\nset logscale y\nset format y "
      "'10^{%L}'\nset grid\nset key outside right top\n" +
      body + "set output\n";
  FILE *p = ZV_POPEN("gnuplot", "w");
  if (!p) return "could not start gnuplot";
  const bool written = std::fwrite(script.data(), 1, script.size(), p) == script.size();
  const int rc = ZV_PCLOSE(p);
  if (!written || rc != 0) return fmt::format("gnuplot failed to write '{}'", path);
  return {};
}

}  // namespace

std::string plot_sweep(const std::vector<SweepPoint> &sweep, const std::string &path) {
  if (sweep.empty() || sweep.front().results.empty()) return "nothing to plot";
  std::string script = "set xlabel 'channel loss (%)'\nset ylabel 'residual media loss (%)'\n";
  const auto &first = sweep.front().results.front().c.channel;
  script +=
      fmt::format("set title 'Residual loss after FEC, {} channel{} (dashed: ideal MDS code)'\n",
                  first.burst ? "burst" : "random",
                  first.burst ? fmt::format(", mean burst {:g}", first.mean_burst) : "");
  const std::size_t cases = sweep.front().results.size();
  for (std::size_t c = 0; c < cases; ++c) {
    script += fmt::format("$d{} << EOD\n", c);
    for (const auto &p : sweep)
      if (c < p.results.size() && p.results[c].error.empty())
        script += fmt::format("{:.6g} {} {}\n", p.loss * 100, value(p.results[c].residual),
                              value(p.results[c].mds));
    script += "EOD\n";
  }
  script += "plot ";
  for (std::size_t c = 0; c < cases; ++c) {
    const auto &r = sweep.front().results[c];
    const auto title = fmt::format("{} k={} r={}", variant_name(r.c.variant), r.c.k, r.c.r);
    script += fmt::format(
        "{}$d{} using 1:2 with linespoints lw 2 pt 7 ps 0.7 lc {} title {}, "
        "$d{} using 1:3 with lines dt 2 lw 2 lc {} title {}",
        c ? ", " : "", c, c + 1, quoted(title), c, c + 1, quoted(title + " MDS bound"));
  }
  // Without FEC the residual loss is the channel loss itself.
  script += ", x with lines dt 3 lw 1.5 lc 'dark-gray' title 'no FEC'\n";
  return draw(path, script);
}

std::string plot_plans(const std::vector<Plan> &plans, const Plan &chosen,
                       const std::string &path) {
  if (!chosen.best) return "nothing to plot";
  // The cheapest choice loses the most; when even it loses nothing, the
  // logarithmic axis has nothing to show.
  if (!(chosen.frontier.front().residual > 0)) return "nothing to plot: no choice loses anything";
  const auto &req = chosen.request;
  const auto &best = chosen.frontier[*chosen.best];
  // Below a thousandth of the target (or of the best residual loss) the
  // curves say nothing more: each stops at its first point under that floor.
  const double floor = std::min(req.target, best.residual) / 1e3;
  std::string script = fmt::format(
      "set xlabel 'FEC overhead (% of media bytes)'\nset ylabel 'residual media loss'\n"
      "set title {}\n",
      quoted(fmt::format("Cheapest residual loss by overhead: {} on {}, {:.4g} packets/s of {} "
                         "bytes",
                         variant_name(req.variant), req.channel.describe(), req.packets_per_s,
                         req.packet_bytes)));
  for (std::size_t i = 0; i < plans.size(); ++i) {
    script += fmt::format("$d{} << EOD\n", i);
    for (const auto &c : plans[i].frontier) {
      script += fmt::format("{:.6g} {}\n", c.overhead * 100, on_log_axis(c.residual));
      if (c.residual < floor) break;
    }
    script += "EOD\n";
  }
  script += fmt::format("$best << EOD\n{:.6g} {}\nEOD\n", best.overhead * 100,
                        on_log_axis(best.residual));
  script += "plot ";
  for (std::size_t i = 0; i < plans.size(); ++i)
    script += fmt::format(
        "$d{} with steps lw 2 lc {} title {}, $d{} with points pt 7 ps 0.4 lc {} notitle, ", i,
        i + 1, quoted(fmt::format("delay <= {:g} ms", plans[i].request.max_delay_ms)), i, i + 1);
  script += fmt::format(
      "{:.6g} with lines dt 2 lw 1.5 lc 'dark-gray' title 'target', $best with points pt 6 ps 2.5 "
      "lw 2 lc 'black' title {}\n",
      req.target, quoted(fmt::format("k={} r={}", best.k, best.r)));
  return draw(path, script);
}

}  // namespace zvtool
