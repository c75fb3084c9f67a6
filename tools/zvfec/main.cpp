// zvfec: what forward error correction buys on a lossy network, shown with the
// zv_rsfec library on simulated streams and on real RTP captures.
//
// Here the command line is declared; each command's own module parses what it
// gave, runs the command and prints the result.
#include <string>
#include <vector>

#include <zv_rsfec.h>
#include <CLI/CLI.hpp>

#include "lossy.h"
#include "plan.h"
#include "protect.h"
#include "recover.h"
#include "simulate.h"
#include "variant.h"

namespace {

using namespace zvtool;

// --loss P or --burst P:MEANLEN, one of them.
void add_channel_options(CLI::App *cmd, std::string &loss, std::string &burst) {
  auto *l = cmd->add_option("--loss", loss, "random loss with probability P")->type_name("P");
  auto *b =
      cmd->add_option("--burst", burst, "Gilbert-Elliott burst loss: rate P, mean burst length")
          ->type_name("P:MEANLEN");
  l->excludes(b);
}

std::vector<std::string> variant_names() {
  std::vector<std::string> out;
  for (const auto v : known_variants()) out.emplace_back(variant_name(v));
  return out;
}

CLI::App *add_simulate(CLI::App &app, SimulateArgs &a) {
  auto *s = app.add_subcommand("simulate",
                               "Protect synthetic streams, send them over a lossy "
                               "channel and compare the residual loss with an ideal code");
  s->add_option("--variant", a.variant, variant_list() + " or all")->capture_default_str();
  s->add_option("-k", a.k, "media packets per group (default per variant)");
  s->add_option("-r", a.r, "FEC packets per group (default per variant)");
  // Unlike the other commands, simulate takes both: each is one more channel.
  s->add_option("--loss", a.loss, "random loss with probability P")->type_name("P");
  s->add_option("--burst", a.burst, "Gilbert-Elliott burst loss: rate P, mean burst length")
      ->type_name("P:MEANLEN");
  s->add_option("--duration", a.duration, "seconds of media per stream")->capture_default_str();
  s->add_option("--seed", a.seed, "random seed")->capture_default_str();
  s->add_option("--sweep", a.sweep, "residual loss over channel loss rates")
      ->type_name("FROM:TO:STEP");
  s->add_option("--csv", a.csv, "also write the results as CSV")->type_name("FILE");
  s->add_flag("--json", a.json, "print JSON instead of the table");
  s->add_option("--plot", a.plot,
                "plot residual loss against channel loss (sweeps 0:0.3:0.02 "
                "unless --sweep is given)")
      ->type_name("FILE.png|FILE.svg");
  return s;
}

CLI::App *add_protect(CLI::App &app, ProtectArgs &a) {
  auto *p = app.add_subcommand("protect", "Add FEC packets to the RTP streams of a capture");
  p->add_option("IN", a.in, "input capture")->required();
  p->add_option("OUT", a.out, "output capture")->required();
  p->add_option("--variant", a.variant, "FEC variant")
      ->required()
      ->check(CLI::IsMember(variant_names()));
  p->add_option("-k", a.k, "media packets per group")->required();
  p->add_option("-r", a.r, "FEC packets per group")->required();
  p->add_option("--fec-pt", a.fec_pt, "RTP payload type of the FEC packets")
      ->check(CLI::Range(0, 127))
      ->capture_default_str();
  p->add_option("--fec-port-offset", a.port_offset, "FEC port = media port + offset")
      ->check(CLI::Range(1, 65535))
      ->capture_default_str();
  return p;
}

CLI::App *add_lossy(CLI::App &app, LossyArgs &a) {
  auto *l = app.add_subcommand("lossy", "Drop packets of a capture, media and FEC alike");
  l->add_option("IN", a.in, "input capture")->required();
  l->add_option("OUT", a.out, "output capture")->required();
  add_channel_options(l, a.loss, a.burst);
  l->add_option("--seed", a.seed, "random seed")->capture_default_str();
  return l;
}

CLI::App *add_recover(CLI::App &app, RecoverCommand &c) {
  auto *r =
      app.add_subcommand("recover", "Recover lost media packets of a capture from its FEC packets");
  r->add_option("IN", c.in, "input capture")->required();
  r->add_option("OUT", c.out, "output capture: the media streams")->required();
  r->add_option("--fec-port-offset", c.opts.port_offset, "FEC port = media port + offset")
      ->check(CLI::Range(1, 65535))
      ->capture_default_str();
  r->add_option("--fec-pt", c.opts.fec_pt, "RTP payload type of the FEC packets")
      ->check(CLI::Range(0, 127))
      ->capture_default_str();
  return r;
}

CLI::App *add_plan(CLI::App &app, PlanArgs &a) {
  auto *pl = app.add_subcommand(
      "plan", "The cheapest k and r that bring a channel's loss down to a target within a delay");
  add_channel_options(pl, a.loss, a.burst);
  auto *pps = pl->add_option("--pps", a.pps, "media packets per second")->type_name("N");
  auto *rate =
      pl->add_option("--rate", a.rate, "media bit rate; packets/s = rate / (8 * packet size)")
          ->type_name("BITS[k|M|G]");
  pps->excludes(rate);
  pl->add_option("--packet", a.packet, "media packet size in bytes, RTP header included")
      ->capture_default_str();
  pl->add_option("--target", a.target, "residual media loss to reach, e.g. 1e-4")->required();
  pl->add_option("--max-delay", a.max_delay, "added latency the receiver accepts")
      ->type_name("MS")
      ->required();
  pl->add_option("--variant", a.variant, "FEC variant: sets the limits on k and r")
      ->check(CLI::IsMember(variant_names()))
      ->capture_default_str();
  pl->add_option("--max-overhead", a.max_overhead, "most FEC bytes per media byte, e.g. 0.25")
      ->type_name("FRACTION");
  pl->add_flag("--json", a.json, "print JSON instead of the table");
  pl->add_option("--plot", a.plot,
                 "plot residual loss against overhead for 1/4, 1/2, 1 and 2 times --max-delay")
      ->type_name("FILE.png|FILE.svg");
  pl->footer(
      "Every (k, r) the variant allows is searched with the exact residual loss of an ideal\n"
      "code (the MDS% of `zvfec simulate`). Cheapest means the fewest FEC bytes per media\n"
      "byte; between equal overheads, the smaller k (less delay) wins.\n"
      "Added delay: (k - 1) / packets per second. The FEC packets follow the group's last\n"
      "media packet at once, so a lost first packet is back once the rest of the group is.\n"
      "Decode MB/s: k * S bytes of GF(256) multiply-add for every media packet recovered\n"
      "(S: the packet size plus 2, rounded up to 4), times the packets recovered per second.\n"
      "The table shows the choices around the answer that are cheapest for their residual\n"
      "loss. When no shape meets the target, the closest one (least residual loss) is shown.");
  return pl;
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app{
      "zvfec: forward error correction for RTP media, simulated on lossy networks, planned "
      "for them and applied to packet captures"};
  app.set_version_flag("--version", std::string(zv_rsfec_version()));
  app.require_subcommand(1);

  SimulateArgs sim;
  ProtectArgs prot;
  LossyArgs lossy;
  RecoverCommand rec;
  PlanArgs plan;
  auto *s = add_simulate(app, sim);
  auto *p = add_protect(app, prot);
  auto *l = add_lossy(app, lossy);
  add_recover(app, rec);
  auto *pl = add_plan(app, plan);

  CLI11_PARSE(app, argc, argv);

  if (s->parsed()) return simulate_command(sim);
  if (pl->parsed()) return plan_command(plan);
  if (p->parsed()) return protect_command(prot);
  if (l->parsed()) return lossy_command(lossy);
  return recover_command(rec);
}
