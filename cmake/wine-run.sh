#!/bin/sh
# wine-run.sh PREFIX PROGRAM [ARGS...]
# wine-run.sh PREFIX --boot
# Runs a Windows program under 64-bit Wine and exits with its exit code; with
# --boot, only makes sure that the prefix exists. Wine runs headless and never
# asks anything: no display, no Mono or Gecko installers, no debug chatter.
# PREFIX is a Wine prefix of the caller's own (the build tree keeps one); it is
# created on first use, once, even when several tests start together.
set -eu
[ $# -ge 2 ] || { echo "usage: wine-run.sh PREFIX PROGRAM [ARGS...] | PREFIX --boot" >&2; exit 2; }
prefix=$1
shift
case $prefix in
  /*) ;;
  *) prefix=$PWD/$prefix ;;
esac

export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# Debian's wine64 package puts its loader beside wineserver under /usr/lib/wine;
# the wine package adds launchers on PATH.
wine=
for w in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
  if [ -n "$w" ] && [ -x "$w" ]; then
    wine=$w
    break
  fi
done
[ -n "$wine" ] || { echo "wine-run.sh: no Wine found (Debian package wine64)" >&2; exit 127; }

if [ ! -f "$prefix/.booted" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/.booted" ]; then
      "$wine" wineboot --init </dev/null >/dev/null 2>&1 || true
      server=$(dirname "$wine")/wineserver
      [ -x "$server" ] || server=wineserver
      # The registry is complete once the server that wrote it has exited.
      WINEPREFIX="$prefix" "$server" -w || true
      [ -f "$prefix/system.reg" ] || { echo "wine-run.sh: wineboot failed in $prefix" >&2; exit 1; }
      touch "$prefix/.booted"
    fi
  ) 9>"$prefix.lock"
fi

[ "$1" != --boot ] || exit 0
exec "$wine" "$@" </dev/null
