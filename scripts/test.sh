#!/usr/bin/env bash
# Builds with warnings as errors and runs the whole test suite, the GStreamer
# plugin's unit and end-to-end tests included.
# With --sanitize the suite runs in an AddressSanitizer + UBSan build instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh base gst
preset=dev
[ "${1:-}" = "--sanitize" ] && preset=asan
cmake --workflow --preset "$preset"
