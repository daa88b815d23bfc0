#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, with ASan and UBSan) and runs each for the given number of
# seconds (default 60), starting from the saved corpus. New inputs go to build/fuzz/corpus/, so
# the checkout stays clean; any finding is written to build/fuzz/findings/ and fails the run.
# Usage: bash fuzz/run.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target html_fuzzer doc_fuzzer
mkdir -p build/fuzz/findings
status=0
for name in html doc; do
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  cp -n fuzz/corpus/$name/* examples/pages/* "$corpus"/ 2>/dev/null || true
  echo "== fuzzing $name for $seconds s"
  if ! "build/fuzz/fuzz/${name}_fuzzer" "$corpus" -max_len=6000 -timeout=10 \
      -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="build/fuzz/findings/$name-" 2>"build/fuzz/$name.log"; then
    tail -n 40 "build/fuzz/$name.log"
    status=1
  fi
  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "build/fuzz/$name.log" || true
done
exit $status
