#!/bin/sh
# Installs what the Windows build needs when it is missing: the MinGW-w64 cross
# compiler (POSIX thread model), wine to run the test programs, and the
# GoogleTest sources that the cross build compiles.
set -e
need=""
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }
for p in cmake make g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 libgtest-dev; do
  have "$p" || need="$need $p"
done
[ -z "$need" ] && exit 0
echo "installing:$need"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $need
