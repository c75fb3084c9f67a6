#include "plot.h"

#include <cstdio>

#include <fmt/format.h>

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

std::string value(double x) { return x > 0 ? fmt::format("{:.6g}", x * 100) : "NaN"; }

bool have_gnuplot() {
  FILE *p = ZV_POPEN("gnuplot --version 2>" ZV_NULL_DEVICE, "r");
  if (!p) return false;
  char buf[128] = {};
  const bool got = std::fgets(buf, sizeof buf, p) != nullptr;
  const int rc = ZV_PCLOSE(p);
  return got && rc == 0 && std::string(buf).rfind("gnuplot", 0) == 0;
}

}  // namespace

std::string plot_sweep(const std::vector<SweepPoint> &sweep, const std::string &path) {
  std::string terminal;
  if (ends_with(path, ".png"))
    terminal = "pngcairo size 1000,650 font 'sans,11'";
  else if (ends_with(path, ".svg"))
    terminal = "svg size 1000,650 dynamic font 'sans,11'";
  else
    return fmt::format("plot file '{}' must end in .png or .svg", path);
  if (sweep.empty() || sweep.front().results.empty()) return "nothing to plot";
  if (!have_gnuplot()) return "gnuplot was not found; install gnuplot (Debian: gnuplot-nox)";

  std::string script = fmt::format("set terminal {}\nset output {}\n", terminal, quoted(path));
  script +=
      "set datafile missing 'NaN'\n"
      "set logscale y\nset format y '10^{%L}'\nset grid\n"
      "set key outside right top\n"
      "set xlabel 'channel loss (%)'\nset ylabel 'residual media loss (%)'\n";
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
    const auto title = fmt::format("{} k={} r={}", variant_info(r.c.variant).name, r.c.k, r.c.r);
    script += fmt::format(
        "{}$d{} using 1:2 with linespoints lw 2 pt 7 ps 0.7 lc {} title {}, "
        "$d{} using 1:3 with lines dt 2 lw 2 lc {} title {}",
        c ? ", " : "", c, c + 1, quoted(title), c, c + 1, quoted(title + " MDS bound"));
  }
  // Without FEC the residual loss is the channel loss itself.
  script += ", x with lines dt 3 lw 1.5 lc 'dark-gray' title 'no FEC'\nset output\n";

  FILE *p = ZV_POPEN("gnuplot", "w");
  if (!p) return "could not start gnuplot";
  const bool written = std::fwrite(script.data(), 1, script.size(), p) == script.size();
  const int rc = ZV_PCLOSE(p);
  if (!written || rc != 0) return fmt::format("gnuplot failed to write '{}'", path);
  return {};
}

}  // namespace zvtool
