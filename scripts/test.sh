#!/usr/bin/env bash
# Builds with warnings as errors and runs the whole test suite.
# With --sanitize the suite runs in an AddressSanitizer + UBSan build instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
preset=dev
[ "${1:-}" = "--sanitize" ] && preset=asan
cmake --workflow --preset "$preset"
