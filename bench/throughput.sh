#!/usr/bin/env bash
# Whole-program throughput: generates a large broadcast-like stream (16 Mbit/s, video-like PES
# with PCR, audio, captions, SI) into memory-backed storage, warms the page cache, and measures
# in one run `cat FILE > /dev/null` against display and extract mode, with and without the
# progress line, at the default read buffer. Prints the median throughput of each row, its ratio
# to cat, and the peak memory of every program row.
#
#   bench/throughput.sh [--size SIZE] [--runs N] [--modes LIST] [--dir DIR] [--keep]
#
#   --size   stream size, suffix K, M or G (powers of 1024); default 1G
#   --runs   runs per row, the median is reported; default 5
#   --modes  comma-separated rows to measure: display, extract, filter, through, merge, convert;
#            default all (filter, through and merge are compared against `cat FILE > OUT`;
#            convert against `cat` of its own output, on generated subtitle files)
#   --dir    where the stream goes; default /dev/shm, else $TMPDIR, else /tmp
#   --keep   keep the generated stream (it is reused by the next run when its size matches)
set -euo pipefail
cd "$(dirname "$0")/.."

size=1G
runs=5
modes=display,extract,filter,through,merge,convert
dir=
keep=0
while [ $# -gt 0 ]; do
  case $1 in
    --size) size=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --modes) modes=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "throughput.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
if [ -z "$dir" ]; then
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then dir=/dev/shm; else dir=${TMPDIR:-/tmp}; fi
fi

# Targets: each mode at least 0.7 x cat; peak memory at most the default read buffer
# (104857600 bytes) plus 16 MiB.
target_ratio=0.70
memory_limit=$((104857600 + 16 * 1048576))

if [ ! -x /usr/bin/time ]; then
  echo "installing time (for the peak memory)" >&2
  if [ "$(id -u)" -eq 0 ]; then apt-get install -y time >/dev/null; else sudo apt-get install -y time >/dev/null; fi
fi

build=build/bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQV_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target quilvaren make_test_stream >/dev/null
program=$build/quilvaren
generator=$build/tools/make_test_stream/make_test_stream

work=$(mktemp -d "$dir/qv-bench.XXXXXX")
stream=$dir/qv-bench-$size.ts
cleanup() {
  rm -rf "$work"
  if [ "$keep" -eq 0 ]; then rm -f "$stream"; fi
}
trap cleanup EXIT

if [ ! -f "$stream" ]; then
  echo "generating $stream ($size, 16 Mbit/s) …" >&2
  "$generator" --size "$size" --bitrate 16M -o "$stream"
fi
bytes=$(stat -c %s "$stream")
cat "$stream" > /dev/null  # into the page cache
cat "$stream" > /dev/null

# measure OUTPUT COMMAND…: runs the command `runs` times with its standard output going to
# OUTPUT, under /usr/bin/time -v; sets `median` (wall seconds), `cpu` (median user + system
# seconds) and `peak` (bytes, the largest maximum resident set size seen). The program's exit
# code is its caption count, not a failure.
measure() {
  local output=$1; shift
  local walls=() cpus=() run start end kib
  peak=0
  for ((run = 0; run < runs; run++)); do
    rm -f "$work"/out.ts "$work"/cap.ts "$work"/display.txt
    start=$(date +%s%N)
    /usr/bin/time -v -o "$work/time.txt" "$@" > "$output" 2>/dev/null || true
    end=$(date +%s%N)
    walls+=("$(awk -v d=$((end - start)) 'BEGIN { printf "%.6f", d / 1e9 }')")
    cpus+=("$(awk -F': ' '/User time|System time/ { t += $2 } END { printf "%.2f", t }' "$work/time.txt")")
    kib=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$work/time.txt")
    if [ $((kib * 1024)) -gt "$peak" ]; then peak=$((kib * 1024)); fi
  done
  median=$(median_of "${walls[@]}")
  cpu=$(median_of "${cpus[@]}")
  # A mode that wrote nothing (not built yet, or it refused the stream) measured no work.
  produced=1
  if [ -n "$expect_file" ] && [ ! -s "$expect_file" ]; then produced=0; fi
}

median_of() {
  printf '%s\n' "$@" | sort -g |
    awk '{ t[NR] = $1 } END { printf "%.6f", (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}

# row LABEL BASELINE OUTPUT COMMAND…: measures and prints one table row. BASELINE "=NAME" makes
# the row the baseline NAME; "NAME" compares the row with that baseline. When `expect_file` is
# set, the row counts only if the command left that file non-empty.
declare -A base_rates base_cpu_rates
row() {
  local label=$1 baseline=$2 output=$3; shift 3
  measure "$output" "$@"
  local rate cpu_rate ratio cpu_ratio verdict memory
  rate=$(awk -v b="$bytes" -v s="$median" 'BEGIN { printf "%.1f", b / s / 1e6 }')
  cpu_rate=$(awk -v b="$bytes" -v s="$cpu" 'BEGIN { if (s > 0) printf "%.1f", b / s / 1e6; else print "-" }')
  if [ "${baseline:0:1}" = = ]; then
    base_rates[${baseline:1}]=$rate
    base_cpu_rates[${baseline:1}]=$cpu_rate
    ratio=1.00 cpu_ratio=1.00 verdict=""
    memory=$(awk -v p="$peak" 'BEGIN { printf "%.1f", p / 1048576 }')
  else
    ratio=$(awk -v r="$rate" -v b="${base_rates[$baseline]}" 'BEGIN { printf "%.2f", r / b }')
    cpu_ratio=$(awk -v r="$cpu_rate" -v b="${base_cpu_rates[$baseline]}" 'BEGIN { if (r + 0 > 0 && b + 0 > 0) printf "%.2f", r / b; else print "-" }')
    verdict=$(awk -v r="$ratio" -v t="$target_ratio" 'BEGIN { print (r >= t) ? "ok" : "BELOW" }')
    if [ "$produced" = 0 ]; then verdict="NO-OUTPUT"; fi
    memory=$(awk -v p="$peak" -v l="$memory_limit" 'BEGIN { printf "%.1f %s", p / 1048576, (p <= l) ? "ok" : "OVER" }')
  fi
  printf "$format" "$label" "$rate" "$ratio" "$verdict" "$cpu_rate" "$cpu_ratio" "$memory"
}

format='%-28s %9s %6s %9s %9s %6s %10s\n'
echo "stream   $stream: $bytes bytes, 16 Mbit/s, 1 programme with captions"
echo "program  $program ($(git rev-parse --short HEAD 2>/dev/null || echo '?'), Release, default -bufsize)"
echo "machine  $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "runs     $runs per row, medians; wall-clock MB/s and its ratio to the baseline (target >= $target_ratio),"
echo "         CPU MB/s (user + system time) and its ratio, peak resident memory (limit $((memory_limit / 1048576)) MiB)"
echo
printf "$format" "row" "MB/s" "ratio" "target" "CPU MB/s" "ratio" "peak MiB"

expect_file=
row "cat FILE > /dev/null" =null /dev/null cat "$stream"
for mode in ${modes//,/ }; do
  case $mode in
    display)
      # Display mode's output is its caption text: kept in a file to see that it printed any.
      expect_file=$work/display.txt
      row "display -noprogress" null "$work/display.txt" "$program" "$stream" -noprogress
      row "display (progress)" null "$work/display.txt" "$program" "$stream"
      expect_file= ;;
    extract)
      expect_file=$work/cap.ts
      row "extract -noprogress" null /dev/null \
        "$program" -mode extract "$stream" -cappath "$work/cap.ts" -noprogress
      row "extract (progress)" null /dev/null \
        "$program" -mode extract "$stream" -cappath "$work/cap.ts"
      expect_file= ;;
    filter|through|merge)
      if [ -z "${base_rates[out]:-}" ]; then
        # The writing modes compare with cat writing the same bytes to a file beside the stream.
        row "cat FILE > OUT" =out "$work/out.ts" cat "$stream"
      fi
      if [ "$mode" = merge ]; then
        # The big stream's own captions, extracted once, go back into it.
        "$program" -mode extract "$stream" -cappath "$work/bigcap.ts" -noprogress >/dev/null || true
        expect_file=$work/out.ts
        row "merge -noprogress" out /dev/null "$program" -mode merge "$stream" \
          -cappath "$work/bigcap.ts" -mergepath "$work/out.ts" -noprogress
        row "merge (progress)" out /dev/null "$program" -mode merge "$stream" \
          -cappath "$work/bigcap.ts" -mergepath "$work/out.ts"
        expect_file=
        continue
      fi
      expect_file=$work/out.ts
      row "$mode -noprogress" out /dev/null \
        "$program" -mode "$mode" "$stream" "-${mode}path" "$work/out.ts" -noprogress
      row "$mode (progress)" out /dev/null \
        "$program" -mode "$mode" "$stream" "-${mode}path" "$work/out.ts"
      expect_file= ;;
    convert) convert_rows=1 ;;
    *) echo "throughput.sh: unknown mode $mode" >&2; exit 2 ;;
  esac
done

# Convert mode reads subtitle files, not the stream: SubRip and ASS files of 200 000 and
# 400 000 two-line entries (one every half second, 55 hours). Its rate is caption TS bytes per
# second, compared with `cat CAPTS > OUT` writing that caption TS in the same run; the
# double-size files tell whether the time grows linearly.
if [ "${convert_rows:-0}" = 1 ]; then
  make_subtitles() {  # make_subtitles FORMAT ENTRIES PATH
    awk -v format="$1" -v n="$2" 'function clock(ms, sep, width) {
        return sprintf("%0*d:%02d:%02d%s%03d", width, int(ms / 3600000), int(ms / 60000) % 60,
                       int(ms / 1000) % 60, sep, ms % 1000) }
      function ass(ms) { s = clock(ms, ".", 1); return substr(s, 1, length(s) - 1) }
      BEGIN {
        if (format == "ass") {
          printf "[Script Info]\r\nPlayResX: 1920\r\nPlayResY: 1080\r\n\r\n[Events]\r\n"
          printf "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n"
        }
        for (i = 0; i < n; i++) {
          start = 1000 + i * 500
          if (format == "ass")
            printf "Dialogue: 0,%s,%s,Default,,0,0,0,,字幕の%d行目\\N二行目 ABC %d\r\n",
                   ass(start), ass(start + 400), i, i
          else
            printf "%d\r\n%s --> %s\r\n字幕の%d行目\r\n二行目 ABC %d\r\n\r\n", i + 1,
                   clock(start, ",", 2), clock(start + 400, ",", 2), i, i
        }
      }' > "$3"
  }
  echo
  printf "$format" "convert row" "MB/s" "ratio" "target" "seconds" "x200k" "peak MiB"
  for kind in srt ass; do
    for entries in 200000 400000; do
      subtitles=$work/sub$entries.$kind
      make_subtitles "$kind" "$entries" "$subtitles"
      "$program" -mode convert "$subtitles" -cappath "$work/conv.ts" -noprogress >/dev/null || true
      capts_bytes=$(stat -c %s "$work/conv.ts")
      measure "$work/out.ts" cat "$work/conv.ts"
      cat_rate=$(awk -v b="$capts_bytes" -v s="$median" 'BEGIN { printf "%.1f", b / s / 1e6 }')
      expect_file=$work/conv.ts
      measure /dev/null "$program" -mode convert "$subtitles" -cappath "$work/conv.ts" -noprogress
      expect_file=
      rate=$(awk -v b="$capts_bytes" -v s="$median" 'BEGIN { printf "%.1f", b / s / 1e6 }')
      ratio=$(awk -v r="$rate" -v c="$cat_rate" 'BEGIN { printf "%.3f", r / c }')
      verdict=$(awk -v r="$ratio" 'BEGIN { print (r >= 0.1) ? "ok" : "BELOW" }')
      if [ "$entries" = 200000 ]; then base_seconds=$median; growth=1.00; else
        growth=$(awk -v s="$median" -v b="$base_seconds" 'BEGIN { printf "%.2f", s / b }')
        verdict="$verdict/$(awk -v g="$growth" 'BEGIN { print (g <= 2.2) ? "linear" : "SLOWER" }')"
      fi
      printf "$format" "convert $kind $entries" "$rate" "$ratio" "$verdict" \
        "$(printf '%.2f' "$median")" "$growth" "$(awk -v p="$peak" 'BEGIN { printf "%.1f", p / 1048576 }')"
    done
  done
  echo "(convert ratio: caption TS bytes per second against cat of the same caption TS, target >= 0.1)"
fi
echo
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
