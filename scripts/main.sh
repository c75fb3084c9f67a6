#!/usr/bin/env bash
# The main job: builds the library in release mode and runs the example that
# protects a group of RTP packets per wire variant, loses some and recovers them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --workflow --preset release >/dev/null
./build/release/examples/zv_example
