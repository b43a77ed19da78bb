#!/bin/sh
# Runs a Windows program under wine, quietly and in a private wine prefix, and
# passes its exit status on.
#   tools/run-windows-program.sh PREFIX-DIR PROGRAM.exe [ARGS...]
# The first call creates the prefix (wineboot, a few seconds) and every call
# makes sure the prefix's wine server runs, under a lock that concurrent calls share.
set -e
prefix=$1
shift
WINEPREFIX=$(mkdir -p "$prefix" && cd "$prefix" && pwd)
# No debug channels, no Mono/Gecko installers, no desktop integration.
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES

wine=$(command -v wine || command -v wine64 || true)
if [ -z "$wine" ]; then
  echo "run-windows-program.sh: wine is not installed (tools/install-windows-deps.sh)" >&2
  exit 127
fi

wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot -i >/dev/null 2>&1 || true
    "$wineserver" -w 2>/dev/null || true
  fi
  # One server for all the programs of a test run, started here under the
  # lock: programs that start at the same moment would otherwise race to start
  # it, and the loser fails with "cannot connect". It lingers 30 s after the
  # last program ends (a running one makes this call a no-op); it must not
  # inherit the lock.
  "$wineserver" -p30 9>&- >/dev/null 2>&1 || true
) 9>"$WINEPREFIX.lock"

exec "$wine" "$@"
