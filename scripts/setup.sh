#!/usr/bin/env bash
# Installs the Debian packages of the named groups (scripts/packages/<group>.txt;
# default: base), and only those that are missing. Run as root on Debian 12.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
groups=("$@")
((${#groups[@]})) || groups=(base)

missing=()
for g in "${groups[@]}"; do
  while read -r p; do
    p="${p%%#*}"
    p="${p//[[:space:]]/}"
    [ -n "$p" ] || continue
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done <"$here/packages/$g.txt"
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  # A package named with an architecture (name:arch) comes from that
  # architecture's archive, which dpkg must know first (multiarch).
  for p in "${missing[@]}"; do
    arch="${p#*:}"
    [ "$arch" != "$p" ] || continue
    dpkg --print-foreign-architectures | grep -qx "$arch" || $SUDO dpkg --add-architecture "$arch"
  done
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
