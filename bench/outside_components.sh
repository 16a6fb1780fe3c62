#!/usr/bin/env bash
# The outside components at speed: through mode handing a large stream to the stand-in TCP
# sender, received by tcp_sink on loopback, against `cat FILE > OUT` in the same run; and the
# stand-in tuner playing a generated stream at eight times its pace, of which a 40 s range should
# take 5 s of wall clock to read, with every caption of those 40 s shown.
#
#   bench/outside_components.sh [--size SIZE] [--runs N] [--dir DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

size=1G
runs=3
dir=
while [ $# -gt 0 ]; do
  case $1 in
    --size) size=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    -h|--help) sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "outside_components.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
if [ -z "$dir" ]; then
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then dir=/dev/shm; else dir=${TMPDIR:-/tmp}; fi
fi

build=build/bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQV_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target quilvaren make_test_stream sendtstcp tcp_sink file_tuner >/dev/null
program=$build/quilvaren
generator=$build/tools/make_test_stream/make_test_stream
work=$(mktemp -d "$dir/qv-outside.XXXXXX")
trap 'rm -rf "$work"' EXIT

stream=$work/big.ts
"$generator" --size "$size" --bitrate 16M -o "$stream"
bytes=$(stat -c %s "$stream")
cat "$stream" > /dev/null

seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b - a) / 1e9 }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }

echo "machine  $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "stream   $bytes bytes, 16 Mbit/s; $runs runs per row, medians"
cat_times=() sender_times=()
received_ok=yes
for ((run = 0; run < runs; run++)); do
  start=$(date +%s%N); cat "$stream" > "$work/out.ts"; end=$(date +%s%N)
  cat_times+=("$(seconds "$start" "$end")")
  rm -f "$work/out.ts"
  "$build/tcp_sink" --port 0 --once > "$work/sink.txt" &
  sink=$!
  for ((wait = 0; wait < 100; wait++)); do
    grep -q '^listening on ' "$work/sink.txt" 2>/dev/null && break
    sleep 0.05
  done
  port=$(sed -n 's/^listening on \([0-9]*\).*/\1/p' "$work/sink.txt")
  start=$(date +%s%N)
  "$program" -mode through -noprogress -throughpath \
    "\\\\.\\sendtstcp\\127.0.0.1:$port\\$PWD/$build/libSendTSTCP.so" "$stream" >/dev/null || true
  wait "$sink" 2>/dev/null || true
  end=$(date +%s%N)
  summary_line=$(grep '^received ' "$work/sink.txt" || true)
  sender_times+=("$(seconds "$start" "$end")")
  received=$(sed -n 's/^received \([0-9]*\) bytes.*/\1/p' <<<"$summary_line")
  [ "$received" = "$bytes" ] || received_ok="no ($received of $bytes)"
done
cat_s=$(median "${cat_times[@]}")
sender_s=$(median "${sender_times[@]}")
awk -v b="$bytes" -v c="$cat_s" -v s="$sender_s" -v ok="$received_ok" 'BEGIN {
  printf "%-34s %9.1f MB/s\n", "cat FILE > OUT", b / c / 1e6
  r = c / s
  printf "%-34s %9.1f MB/s  ratio %.2f  %s  received all bytes: %s\n", "through to tcp_sink (loopback)",
         b / s / 1e6, r, (r >= 0.5) ? "ok" : "BELOW 0.5", ok }'

# The tuner: 40 s of stream at x8.
tuned=$work/tuner
mkdir -p "$tuned"
"$generator" --duration 45 --bitrate 4M -o "$tuned/played.ts"
cp "$build/libfile_tuner.so" "$tuned/"
# The file runs a little longer than the range: a tuner source ends only when its range does.
echo "0 13 played.ts x8" > "$tuned/libfile_tuner.channels"
expected=$("$program" -noprogress -duration 40 "$tuned/played.ts" > /dev/null; echo $?) || true
start=$(date +%s%N)
live=$("$program" -noprogress -duration 40 "\\\\.\\bondriver\\0\\13\\$tuned/libfile_tuner.so" > /dev/null; echo $?) || true
end=$(date +%s%N)
awk -v s="$(seconds "$start" "$end")" -v live="$live" -v want="$expected" 'BEGIN {
  ok = (s >= 4.5 && s <= 5.5) ? "ok" : "OUTSIDE 5 s +-10 %"
  printf "%-34s %9.2f s (5 s +-10 %%: %s)  captions %d of %d\n", "tuner x8, 40 s of stream", s, ok, live, want }'
