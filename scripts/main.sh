#!/usr/bin/env bash
# The main job: builds the library and the zvfec tool in release mode and runs
# the default scenario (video and audio streams over a random-loss and a burst
# channel, every wire variant, residual loss against the ideal code's bound).
# Extra arguments go to `zvfec simulate` (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target zvfec_cli >/dev/null
./build/release/tools/zvfec/zvfec simulate "$@"
