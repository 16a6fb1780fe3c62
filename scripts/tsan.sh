#!/usr/bin/env bash
# Builds the program, the stand-ins and every test that starts threads with ThreadSanitizer
# (clang, build/tsan) and runs them (the tests labelled "threads", see tests/CMakeLists.txt): the
# merge hand-over (unit and whole-program runs), read-ahead and write-behind, events and console
# output, the outside components and their stand-ins, the whole-program runs of every mode, and
# the merge and pump fuzz targets over their seeds. The program that the end-to-end tests run is
# the TSan build too, so its own threads are checked.
#
# Every report of every process goes to a file; the run fails when there is one, even if the test
# that started the process passed.
#   scripts/tsan.sh [ctest options...]      e.g. scripts/tsan.sh -R Merge
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build/tsan
reports=$dir/tsan-reports
started=$(date +%s)

source scripts/unity-build.sh
configure_unity "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DQV_TSAN=ON
cmake --build "$dir" -j2 --target thread_tests

rm -rf "$reports"
mkdir -p "$reports"
chmod 1777 "$reports"  # some end-to-end runs drop to another user
export TSAN_OPTIONS="log_path=$PWD/$reports/tsan second_deadlock_stack=1 history_size=4 ${TSAN_OPTIONS:-}"

status=0
ctest --test-dir "$dir" -j2 -L threads --output-on-failure --timeout 900 "$@" || status=$?

found=$(find "$reports" -type f | wc -l)
if [[ $found -gt 0 ]]; then
  echo "== ThreadSanitizer reports: $found =="
  for report in "$reports"/*; do
    echo "--- $report"
    cat "$report"
  done
  status=1
fi
echo "tsan.sh: $(( $(date +%s) - started )) s, $found report files, exit status $status"
exit "$status"
