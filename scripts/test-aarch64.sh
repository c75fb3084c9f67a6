#!/usr/bin/env bash
# Cross-builds the library, the tests, the examples and the benchmarks for aarch64 Linux
# (warnings as errors) and runs the whole suite under qemu-user three times:
# with the best kernel set the emulated processor offers (qemu's default
# processor has 512-bit SVE), with NEON, and with the scalar reference
# forced; then runs codec_bench briefly under the emulator, whose timings mean
# nothing there: it shows the benchmark builds and runs for aarch64.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh base aarch64
start=$SECONDS
cmake --workflow --preset aarch64
echo "test-aarch64: built and tested after $((SECONDS - start)) s"
ZVFEC_GF_KERNELS=neon ctest --preset aarch64
echo "test-aarch64: tested on the NEON kernels after $((SECONDS - start)) s"
ZVFEC_GF_KERNELS=scalar ctest --preset aarch64
echo "test-aarch64: tested on the scalar kernels after $((SECONDS - start)) s"
# The emulator as the toolchain file runs the tests.
qemu-aarch64 -L /usr/aarch64-linux-gnu -E LD_LIBRARY_PATH=/usr/aarch64-linux-gnu/lib \
  build/aarch64/bench/codec_bench \
  --benchmark_filter='k4_m2' --benchmark_min_time=0.01 >/dev/null
echo "test-aarch64: codec_bench ran under the emulator after $((SECONDS - start)) s"
