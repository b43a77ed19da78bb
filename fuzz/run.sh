#!/bin/sh
# Runs every libFuzzer target for a bounded time: run.sh BUILD_DIR SECONDS.
# Each target starts from the seed corpus (fuzz/make_corpus.py) plus what
# earlier runs found, with the WAV dictionary. A crash, sanitizer report,
# leak, timeout or broken contract fails the run; the input that caused it is
# kept in BUILD_DIR/crashes/ and its path printed.
set -u
build=${1:?build directory}
seconds=${2:?seconds per target}
here=$(cd "$(dirname "$0")" && pwd)
python3 "$here/make_corpus.py" "$build/corpus/seeds" || exit 1
mkdir -p "$build/crashes"
# Every run writes its input to a scratch file: memory-backed storage makes
# the reader's target an order of magnitude faster.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  TMPDIR=/dev/shm
  export TMPDIR
fi
failed=""
for target in fuzz_wave_reader fuzz_file_exports fuzz_analyses fuzz_measure_survey; do
  # The layer's target needs its libraries; a build without them has none.
  if [ ! -x "$build/fuzz/$target" ]; then
    echo "== $target: not built"
    continue
  fi
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  echo "== $target: $seconds s"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$build/fuzz/$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -max_len=8192 \
    -dict="$here/wav.dict" -artifact_prefix="$build/crashes/$target-" -print_final_stats=1 \
    "$corpus" "$build/corpus/seeds" 2>"$build/$target.log"
  status=$?
  grep -E '^(stat::number_of_executed_units|stat::new_units_added|#[0-9]+ +DONE)' "$build/$target.log" || true
  if [ "$status" -ne 0 ]; then
    failed="$failed $target"
    tail -n 60 "$build/$target.log"
    echo "!! $target failed (exit $status); input kept:" $(ls "$build/crashes/$target-"* 2>/dev/null)
  fi
done
[ -z "$failed" ] || { echo "fuzzing failed:$failed"; exit 1; }
echo "fuzzing: no crash in any target"
