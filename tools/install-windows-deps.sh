#!/bin/sh
# Installs what the Windows build needs when it is missing: the MinGW-w64 cross
# compiler (POSIX thread model), wine to run the test programs, and the
# GoogleTest sources that the cross build compiles (through install-deps.sh,
# which also brings the Linux build's packages).
set -e
TAVRIX_EXTRA_PACKAGES="g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64" \
  exec sh "$(dirname "$0")/install-deps.sh"
