#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a normal build (g++), then an AddressSanitizer +
# UndefinedBehaviorSanitizer build (clang, with the fuzz targets under libFuzzer); then the tests
# that start threads under ThreadSanitizer (scripts/tsan.sh) and the Windows step.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --tests

echo "== normal build (one file at a time) =="
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/test -j2
ctest --test-dir build/test -j2 --output-on-failure --timeout 300
echo "== sanitizer build (address, undefined) =="
# A unity build (scripts/unity-build.sh): half the build time of one file at a time.
source scripts/unity-build.sh
configure_unity build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DQV_SANITIZE=ON -DQV_FUZZ=ON
cmake --build build/sanitize -j2
ctest --test-dir build/sanitize -j2 --output-on-failure --timeout 300
echo "== thread sanitizer build (tests that start threads) =="
scripts/tsan.sh
scripts/test-windows.sh
