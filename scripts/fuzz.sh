#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each on its seed corpus for the given
# number of seconds (default 30). Fails on the first finding; the input that
# caused it is left in build-fuzz/findings/<target>/.
#
#   scripts/fuzz.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true

CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz -G Ninja >/dev/null
cmake --build build-fuzz
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets <build-fuzz/targets.txt
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in "${targets[@]}"; do
  [ -n "$target" ] || continue
  # New inputs go to a scratch corpus; the seeds in the repository stay as they are.
  work=build-fuzz/corpus/$target findings=build-fuzz/findings/$target
  mkdir -p "$work" "$findings"
  echo "== $target: ${seconds}s"
  if ! build-fuzz/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -max_len=4096 -print_final_stats=1 -artifact_prefix="$findings/" \
       "$work" "fuzz/corpus/$target" >"build-fuzz/$target.log" 2>&1; then
    tail -n 60 "build-fuzz/$target.log"
    echo "fuzz: $target found a fault; input in $findings/" >&2
    exit 1
  fi
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ *DONE)' "build-fuzz/$target.log" || true
done
