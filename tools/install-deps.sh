#!/bin/sh
# Installs the Debian packages the build needs when they are missing.
set -e
need=""
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }
# clang and libclang-rt-dev: the libFuzzer runtime behind `make fuzz`.
for p in cmake g++ make libgtest-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev libsndfile1-dev \
  libsoxr-dev clang libclang-rt-dev $TAVRIX_EXTRA_PACKAGES; do
  have "$p" || need="$need $p"
done
# The Python package and its tests (soundfile writes the WAV/FLAC files the tool and the package are
# compared on); pkg-config and dpkg-shlibdeps for the install test and `make package`;
# scipy and FFTW 3 as the references of `make bench-compare` (never linked into the library);
# guitarix-common (data only) for the real hall response the tests hold to a textbook analysis;
# libmysofa1 ships the measured KEMAR dummy-head responses the IACC test reads with h5py.
for p in python3-numpy python3-pytest python3-setuptools python3-pip python3-soundfile python3-pandas pkg-config dpkg-dev \
  python3-scipy libfftw3-dev guitarix-common libmysofa1 python3-h5py; do
  have "$p" || need="$need $p"
done
# PortAudio for `tavrix measure`; the JACK client library for its live tests' simulated room, and
# the JACK server they run it on (without its recommended desktop tools, hence a line of its own).
for p in portaudio19-dev libjack-jackd2-dev; do
  have "$p" || need="$need $p"
done
# Dask: tavrix.survey on a cluster (imported only when a client is given), and its tests.
for p in python3-dask python3-distributed; do
  have "$p" || need="$need $p"
done
jack=""
have jackd2 || jack=jackd2
[ -z "$need" ] && [ -z "$jack" ] && exit 0
echo "installing:$need $jack"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -qq
[ -z "$need" ] || DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $need
[ -z "$jack" ] || DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $jack
