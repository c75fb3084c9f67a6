#!/usr/bin/env bash
# Cross-builds zv_rsfec.dll, its import library, the tests and the example for
# Windows x86-64 with mingw-w64 (warnings as errors) and runs the whole test
# suite under Wine. Needs no display and asks nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh base windows
prefix="$PWD/build/windows/wine-prefix"
start=$SECONDS
# Wine's first start builds its prefix, which takes a while: once, here, rather
# than inside the first test's time limit.
cmake/wine-run.sh "$prefix" --boot
echo "test-windows: Wine prefix ready after $((SECONDS - start)) s"
# Leave no Wine server of this prefix running behind the suite.
trap 'WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
cmake --workflow --preset windows
echo "test-windows: built and tested after $((SECONDS - start)) s"
