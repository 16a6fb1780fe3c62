#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a normal build (g++), then an AddressSanitizer +
# UndefinedBehaviorSanitizer build (clang, with the fuzz targets under libFuzzer); then the tests
# that start threads under ThreadSanitizer (scripts/tsan.sh) and the Windows step.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --tests

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j2
  ctest --test-dir "$dir" -j2 --output-on-failure --timeout 300
}

echo "== normal build =="
run_suite build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== sanitizer build (address, undefined) =="
run_suite build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DQV_SANITIZE=ON -DQV_FUZZ=ON
echo "== thread sanitizer build (tests that start threads) =="
scripts/tsan.sh
scripts/test-windows.sh
