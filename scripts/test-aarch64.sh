#!/usr/bin/env bash
# Cross-builds the library, the tests and the examples for aarch64 Linux
# (warnings as errors) and runs the whole suite under qemu-user twice: with the
# best kernel set the emulated processor offers, and with the scalar reference
# forced.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh base aarch64
start=$SECONDS
cmake --workflow --preset aarch64
echo "test-aarch64: built and tested after $((SECONDS - start)) s"
ZVFEC_GF_KERNELS=scalar ctest --preset aarch64
echo "test-aarch64: tested on the scalar kernels after $((SECONDS - start)) s"
