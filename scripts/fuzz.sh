#!/usr/bin/env bash
# Builds one fuzz target under AddressSanitizer + UndefinedBehaviorSanitizer with libFuzzer
# (clang, in build/fuzz) and runs it for SECONDS on its corpus: the seeds of
# tests/fuzz/corpus/TARGET are read, new inputs go to build/fuzz/corpus/TARGET, a failing input
# to build/fuzz/artifacts/TARGET/. Prints the execution count at the end; the exit status is the
# fuzzer's (non-zero on a finding).
#
#   scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]
#   scripts/fuzz.sh merge_fuzz 600 -max_len=8192
#   scripts/fuzz.sh merge_fuzz 5400 -max_len=4096 -rss_limit_mb=16000 -malloc_limit_mb=2048
#
# merge_fuzz starts two threads per input. Under AddressSanitizer its resident memory grows by
# about 400 bytes per input (the plain build stays at 6 MB over the same inputs and LeakSanitizer
# finds nothing; under ASan a bare program that only starts and joins 800 000 threads reaches 420
# MB), so after about five million inputs it passes libFuzzer's default limit of 2048 MB and stops
# as if out of memory. A long campaign raises -rss_limit_mb and keeps the limit for one allocation
# with -malloc_limit_mb.
#
# One fuzzing process on one core (the same as -jobs=1). Two targets may run side by side on two
# cores: their builds take turns.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ $# -lt 2 ]]; then
  echo "usage: $0 TARGET SECONDS [libFuzzer options...]" >&2
  echo "targets: $(cd tests/fuzz && ls ./*_fuzz.cpp | sed 's|./||; s|\.cpp$||' | tr '\n' ' ')" >&2
  exit 2
fi
target=$1
seconds=$2
shift 2
if [[ ! -f tests/fuzz/$target.cpp ]]; then
  echo "no fuzz target tests/fuzz/$target.cpp" >&2
  exit 2
fi

dir=build/fuzz
build_target() {
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DQV_SANITIZE=ON -DQV_FUZZ=ON >/dev/null
  cmake --build "$dir" -j2 --target "$target" >/dev/null
}
mkdir -p "$dir"
if command -v flock >/dev/null 2>&1; then
  # Two runs started side by side would configure the same tree at once and break it.
  exec 9>"$dir/.build-lock"
  flock 9
  build_target
  flock -u 9
  exec 9>&-
else
  build_target
fi

work=$dir/corpus/$target
artifacts=$dir/artifacts/$target
mkdir -p "$work" "$artifacts"
seeds=()
[[ -d tests/fuzz/corpus/$target ]] && seeds=("tests/fuzz/corpus/$target")
log=$dir/artifacts/$target.log

started=$SECONDS
set +e
"$dir/tests/fuzz/$target" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "$@" "$work" "${seeds[@]}" 2>&1 | tee "$log" |
  grep -E '^(#[0-9]+ +(pulse|DONE|INITED)|Done |==[0-9]+==|SUMMARY|property failed|artifact_prefix|Test unit written|stat::)'
status=${PIPESTATUS[0]}
set -e
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
echo "$target: ${runs:-?} executions in $((SECONDS - started)) s (exit status $status; full log $log)"
exit "$status"
