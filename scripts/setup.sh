#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need,
# and only those that are missing. Run as root (or with sudo) on Debian 12.
set -euo pipefail

packages=(
  cmake g++ make pkg-config binutils
  libgtest-dev libgmock-dev        # tests
  libbenchmark-dev libisal-dev     # benchmarks (ISA-L is the yardstick peer)
  clang-format
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
