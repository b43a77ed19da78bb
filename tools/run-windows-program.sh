#!/bin/sh
# Runs a Windows program under wine, quietly and in a private wine prefix, and
# passes its exit status on.
#   tools/run-windows-program.sh PREFIX-DIR PROGRAM.exe [ARGS...]
# The first call creates the prefix (wineboot, a few seconds); concurrent calls
# wait for it under a lock.
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

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$wine" wineboot -i >/dev/null 2>&1 || true
      wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
      "$wineserver" -w 2>/dev/null || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi

exec "$wine" "$@"
