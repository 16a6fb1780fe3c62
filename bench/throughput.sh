#!/usr/bin/env bash
# Whole-program throughput: generates a large broadcast-like stream (16 Mbit/s, video-like PES
# with PCR, audio, captions, SI) into memory-backed storage, warms the page cache, and measures
# every mode against `cat` in interleaved rounds, each mode row once in each way of reading and
# writing (--variants: the program's own choice, mapped views on one thread, with threads, and
# reads into a block). Prints per row the median throughput, the median of
# the per-round ratios to cat, ns per packet, the peak memory and whether the bytes of the output
# and of the console text equal those of a one-thread reference run. Then the instructions per
# packet of display and filter (callgrind, all threads, a 100 MB cut), the peak memory of every
# mode over every source kind, and the convert rows.
#
#   bench/throughput.sh [--size SIZE] [--rounds N] [--modes LIST] [--variants LIST] [--dir DIR] [--keep]
#                       [--no-callgrind] [--no-memory]
#
#   --size          stream size, suffix K, M or G (powers of 1024); default 1G
#   --rounds        rounds of all rows; medians are reported; default 7
#   --modes         comma-separated: display, extract, filter, through, merge, convert; default all
#   --variants      comma-separated ways of reading and writing, each a row per mode: auto (the
#                   program's choice), one (QV_IO_THREADS=0: mapped views, one thread), threads
#                   (QV_IO_THREADS=1), reads (QV_IO_THREADS=0 QV_MAP_FILES=0), read-threads
#                   (QV_IO_THREADS=1 QV_MAP_FILES=0); default auto,one,threads,reads
#                   (filter, through and merge are compared with `cat FILE > OUT`; convert with
#                   `cat` of its own output, on generated subtitle files)
#   --dir           where the stream goes; default /dev/shm, else $TMPDIR, else /tmp
#   --keep          keep the generated stream (it is reused by the next run when its size matches)
#   --no-callgrind  leave out the instruction counts (valgrind is installed when missing)
#   --no-memory     leave out the memory rows of the other source kinds
set -euo pipefail
cd "$(dirname "$0")/.."

size=1G
rounds=7
modes=display,extract,filter,through,merge,convert
variants=auto,one,threads,reads
dir=
keep=0
callgrind=1
memory_rows=1
while [ $# -gt 0 ]; do
  case $1 in
    --size) size=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --modes) modes=$2; shift 2 ;;
    --variants) variants=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --no-callgrind) callgrind=0; shift ;;
    --no-memory) memory_rows=0; shift ;;
    -h|--help) sed -n '2,27p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "throughput.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
if [ -z "$dir" ]; then
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then dir=/dev/shm; else dir=${TMPDIR:-/tmp}; fi
fi

# Targets (issue 18): reading modes at least 1.0 x `cat FILE > /dev/null`, writing modes 0.9 x
# `cat FILE > OUT`, through with its line per packet 0.7 x; peak memory at most the default read
# buffer (104857600 bytes) plus 16 MiB, under 16 MiB with -bufsize 48128; display at most 120
# and filter at most 180 instructions per packet.
memory_limit=$((104857600 + 16 * 1048576))
small_memory_limit=$((16 * 1048576))
declare -A instruction_limit=([display]=120 [filter]=180)

install_missing() {  # install_missing COMMAND PACKAGE
  if ! command -v "$1" >/dev/null 2>&1; then
    echo "installing $2" >&2
    if [ "$(id -u)" -eq 0 ]; then apt-get install -y "$2" >/dev/null; else sudo apt-get install -y "$2" >/dev/null; fi
  fi
}
[ -x /usr/bin/time ] || install_missing /usr/bin/time time
if [ "$callgrind" = 1 ]; then install_missing valgrind valgrind; fi

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
packets=$((bytes / 188))
cat "$stream" > /dev/null  # into the page cache
cat "$stream" > /dev/null

median_of() {
  printf '%s\n' "$@" | sort -g |
    awk '{ t[NR] = $1 } END { printf "%.6f", (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}

# timed_run OUTPUT COMMAND…: one run with standard output to OUTPUT under /usr/bin/time -v; sets
# `wall` and `cpu` (user + system seconds) and `kib` (peak resident memory). The program's exit
# code is a count, not a failure.
timed_run() {
  local output=$1; shift
  local start end
  start=$(date +%s%N)
  /usr/bin/time -v -o "$work/time.txt" "$@" > "$output" 2>/dev/null || true
  end=$(date +%s%N)
  wall=$(awk -v d=$((end - start)) 'BEGIN { printf "%.6f", d / 1e9 }')
  cpu=$(awk -F': ' '/User time|System time/ { t += $2 } END { printf "%.3f", t }' "$work/time.txt")
  kib=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$work/time.txt")
}

# --- the rows --------------------------------------------------------------------------------
# A row: label, baseline (cat row it is compared with, or "=NAME" for a baseline itself), the
# environment, the file it writes (empty: none) and the command. Console text goes to a file
# only for display, whose output it is; the others send it to /dev/null while timed.
labels=() baselines=() environments=() outputs=() commands=() kinds=()
add_row() {  # add_row LABEL BASELINE KIND ENVIRONMENT OUTPUT COMMAND…
  labels+=("$1"); baselines+=("$2"); kinds+=("$3"); environments+=("$4"); outputs+=("$5")
  shift 5
  commands+=("$*")
}
# The ways a worker can read its file: a label suffix and the environment that selects it.
declare -A variant_label=([auto]="[default]" [one]="[1 thread]" [threads]="[threads]"
                          [reads]="[reads]" [read-threads]="[reads, threads]")
declare -A variant_environment=([auto]="" [one]="QV_IO_THREADS=0" [threads]="QV_IO_THREADS=1"
                                [reads]="QV_IO_THREADS=0 QV_MAP_FILES=0"
                                [read-threads]="QV_IO_THREADS=1 QV_MAP_FILES=0")
variant_rows() {  # variant_rows LABEL BASELINE KIND OUTPUT COMMAND…
  local label=$1 baseline=$2 kind=$3 output=$4 variant; shift 4
  for variant in ${variants//,/ }; do
    add_row "$label ${variant_label[$variant]}" "$baseline" "$kind" \
      "${variant_environment[$variant]}" "$output" "$@"
  done
}

add_row "cat FILE > /dev/null" =null cat "" "" cat "$stream"
out=$work/out.ts
for mode in ${modes//,/ }; do
  case $mode in
    display)
      variant_rows "display -noprogress" null display "" "$program" "$stream" -noprogress
      variant_rows "display (progress)" null display "" "$program" "$stream" ;;
    extract)
      variant_rows "extract -noprogress" null extract "$out" \
        "$program" -mode extract "$stream" -cappath "$out" -noprogress
      variant_rows "extract (progress)" null extract "$out" \
        "$program" -mode extract "$stream" -cappath "$out" ;;
    filter|through|merge)
      if [ -z "${have_out_baseline:-}" ]; then
        add_row "cat FILE > OUT" =out cat "" "$out" cat "$stream"
        have_out_baseline=1
      fi
      if [ "$mode" = merge ]; then
        # The big stream's own captions, extracted once, go back into it.
        "$program" -mode extract "$stream" -cappath "$work/bigcap.ts" -noprogress >/dev/null || true
        variant_rows "merge -noprogress" out merge "$out" "$program" -mode merge "$stream" \
          -cappath "$work/bigcap.ts" -mergepath "$out" -noprogress
        variant_rows "merge (progress)" out merge "$out" "$program" -mode merge "$stream" \
          -cappath "$work/bigcap.ts" -mergepath "$out"
        continue
      fi
      variant_rows "$mode -noprogress" out "$mode" "$out" \
        "$program" -mode "$mode" "$stream" "-${mode}path" "$out" -noprogress
      label="$mode (progress)"
      if [ "$mode" = through ]; then label="through (a line per packet)"; fi
      variant_rows "$label" out "$mode" "$out" \
        "$program" -mode "$mode" "$stream" "-${mode}path" "$out" ;;
    convert) convert_rows=1 ;;
    *) echo "throughput.sh: unknown mode $mode" >&2; exit 2 ;;
  esac
done

# run_row INDEX CONSOLE: one run of row INDEX with its console text to CONSOLE.
run_row() {
  local i=$1 console=$2
  local -a command
  read -r -a command <<< "${commands[$i]}"
  if [ -n "${outputs[$i]}" ]; then rm -f "${outputs[$i]}"; fi
  if [ -n "${environments[$i]}" ]; then
    # shellcheck disable=SC2086
    timed_run "$console" env ${environments[$i]} "${command[@]}"
  else
    timed_run "$console" "${command[@]}"
  fi
}

# --- the bytes: every row against a one-thread reference ------------------------------------
# The reference run of a row reads and writes on the worker's thread with the smallest read
# buffer (-bufsize 48128: reads of 48128 bytes, other block boundaries than the measured runs);
# each measured configuration must give the same output and console text.
declare -A reference_sum
row_sums() {  # row_sums INDEX ENVIRONMENT EXTRA… → "md5 of output/md5 of console text"
  local i=$1 environment=$2; shift 2
  local -a command
  read -r -a command <<< "${commands[$i]}"
  if [ -n "${outputs[$i]}" ]; then rm -f "${outputs[$i]}"; fi
  # shellcheck disable=SC2086
  env $environment "${command[@]}" "$@" > "$work/console.txt" 2>/dev/null || true
  local file_sum=-
  if [ -n "${outputs[$i]}" ] && [ -f "${outputs[$i]}" ]; then
    file_sum=$(md5sum < "${outputs[$i]}" | cut -c1-32)
  fi
  echo "$file_sum/$(md5sum < "$work/console.txt" | cut -c1-32)"
}
declare -a byte_check
echo "checking the bytes of every row against its one-thread reference run …" >&2
for i in "${!labels[@]}"; do
  if [ "${kinds[$i]}" = cat ]; then byte_check[$i]=""; continue; fi
  key=${commands[$i]}
  if [ -z "${reference_sum[$key]:-}" ]; then
    reference_sum[$key]=$(row_sums "$i" "QV_IO_THREADS=0 QV_MAP_FILES=0" -bufsize 48128)
  fi
  measured=$(row_sums "$i" "${environments[$i]}")
  if [ "$measured" = "${reference_sum[$key]}" ]; then byte_check[$i]=same; else byte_check[$i]=DIFFERENT; fi
  # A mode that wrote nothing (no caption text, no caption TS, no stream) measured no work.
  empty_text=d41d8cd98f00b204e9800998ecf8427e
  if { [ -n "${outputs[$i]}" ] && [ "${measured%%/*}" = - ]; } ||
     { [ "${kinds[$i]}" = display ] && [ "${measured#*/}" = "$empty_text" ]; }; then
    byte_check[$i]=NO-OUTPUT
  fi
done

# --- the timed rounds ------------------------------------------------------------------------
declare -A walls cpus peaks ratios
echo "timing $rounds rounds of ${#labels[@]} rows …" >&2
for ((round = 0; round < rounds; round++)); do
  declare -A round_base=()
  for i in "${!labels[@]}"; do
    console=/dev/null
    if [ "${kinds[$i]}" = display ]; then console=$work/display.txt; fi
    if [ "${kinds[$i]}" = cat ] && [ -n "${outputs[$i]}" ]; then console=${outputs[$i]}; fi
    run_row "$i" "$console"
    walls[$i]="${walls[$i]:-} $wall"
    cpus[$i]="${cpus[$i]:-} $cpu"
    if [ "$((kib * 1024))" -gt "${peaks[$i]:-0}" ]; then peaks[$i]=$((kib * 1024)); fi
    baseline=${baselines[$i]}
    if [ "${baseline:0:1}" = = ]; then
      round_base[${baseline:1}]=$wall
    else
      ratios[$i]="${ratios[$i]:-} $(awk -v b="${round_base[$baseline]}" -v w="$wall" 'BEGIN { printf "%.4f", b / w }')"
    fi
  done
done

target_of() {  # target_of LABEL BASELINE
  case $1 in
    through\ \(a\ line*) echo 0.70 ;;
    *) if [ "$2" = null ]; then echo 1.00; else echo 0.90; fi ;;
  esac
}

format='%-38s %8s %6s %6s %9s %6s %7s %11s %9s\n'
echo "stream   $stream: $bytes bytes ($packets packets), 16 Mbit/s, 1 programme with captions"
echo "program  $program ($(git rev-parse --short HEAD 2>/dev/null || echo '?'), Release, default -bufsize)"
echo "machine  $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "rounds   $rounds, every row once per round; MB/s and ns/packet are medians of wall-clock time,"
echo "         ratio the median of the per-round ratios to the round's cat row; CPU: user + system"
echo
printf "$format" "row" "MB/s" "ratio" "target" "CPU MB/s" "ratio" "ns/pkt" "peak MiB" "bytes"
declare -A base_cpu
for i in "${!labels[@]}"; do
  # shellcheck disable=SC2086
  median=$(median_of ${walls[$i]})
  # shellcheck disable=SC2086
  cpu_median=$(median_of ${cpus[$i]})
  rate=$(awk -v b="$bytes" -v s="$median" 'BEGIN { printf "%.0f", b / s / 1e6 }')
  cpu_rate=$(awk -v b="$bytes" -v s="$cpu_median" 'BEGIN { if (s > 0) printf "%.0f", b / s / 1e6; else print "-" }')
  ns=$(awk -v p="$packets" -v s="$median" 'BEGIN { printf "%.1f", s * 1e9 / p }')
  baseline=${baselines[$i]}
  if [ "${baseline:0:1}" = = ]; then
    base_cpu[${baseline:1}]=$cpu_median
    printf "$format" "${labels[$i]}" "$rate" 1.00 "" "$cpu_rate" 1.00 "$ns" \
      "$(awk -v p="${peaks[$i]}" 'BEGIN { printf "%.1f", p / 1048576 }')" ""
    continue
  fi
  # shellcheck disable=SC2086
  ratio=$(median_of ${ratios[$i]})
  target=$(target_of "${labels[$i]}" "$baseline")
  verdict=$(awk -v r="$ratio" -v t="$target" 'BEGIN { print (r >= t) ? "ok" : "BELOW" }')
  cpu_ratio=$(awk -v b="${base_cpu[$baseline]}" -v c="$cpu_median" 'BEGIN { if (c > 0 && b > 0) printf "%.2f", b / c; else print "-" }')
  memory=$(awk -v p="${peaks[$i]}" -v l="$memory_limit" 'BEGIN { printf "%.1f %s", p / 1048576, (p <= l) ? "ok" : "OVER" }')
  printf "$format" "${labels[$i]}" "$rate" "$(printf '%.2f' "$ratio")" "$target $verdict" \
    "$cpu_rate" "$cpu_ratio" "$ns" "$memory" "${byte_check[$i]}"
done
echo "(bytes: output and console text equal those of a one-thread reference run reading 48128 bytes at a time;"
echo " NO-OUTPUT: the row wrote no stream, caption TS or caption text, so it measured no work)"

# --- instructions per packet -----------------------------------------------------------------
if [ "$callgrind" = 1 ]; then
  cut=$work/cut.ts
  head -c $((531914 * 188)) "$stream" > "$cut"  # 100 MB of whole packets
  cut_packets=$(($(stat -c %s "$cut") / 188))
  echo
  printf '%-38s %14s %10s %8s\n' "callgrind ($cut_packets packets, all threads)" "instructions" "per packet" "limit"
  for mode in display filter; do
    for variant in ${variants//,/ }; do
      if [ "$mode" = display ]; then args=("$cut" -noprogress); else
        args=(-mode filter "$cut" -filterpath "$work/cg.ts" -noprogress); fi
      # shellcheck disable=SC2086
      total=$( (env ${variant_environment[$variant]} valgrind --tool=callgrind \
                  --callgrind-out-file=/dev/null "$program" "${args[@]}" 2>&1 >/dev/null || true) |
               sed -n 's/.*Collected : //p')
      per=$(awk -v t="$total" -v p="$cut_packets" 'BEGIN { printf "%.1f", t / p }')
      verdict=$(awk -v v="$per" -v l="${instruction_limit[$mode]}" 'BEGIN { print (v <= l) ? "ok" : "OVER" }')
      printf '%-38s %14s %10s %8s\n' "$mode -noprogress ${variant_label[$variant]}" "$total" "$per" \
        "${instruction_limit[$mode]} $verdict"
    done
  done
  rm -f "$cut" "$work/cg.ts"
fi

# --- peak memory over every source kind ------------------------------------------------------
# A file, a named pipe (FIFO) and standard input, at the default read buffer and at -bufsize
# 48128, on a 100 MB cut of the stream. Tuner sources are not wired into the pump yet.
if [ "$memory_rows" = 1 ]; then
  cut=$work/cut.ts
  head -c $((531914 * 188)) "$stream" > "$cut"
  "$program" -mode extract "$cut" -cappath "$work/cutcap.ts" -noprogress >/dev/null || true
  mkfifo "$work/fifo"
  echo
  printf '%-24s %-16s %12s %12s\n' "peak memory" "source" "default" "-bufsize 48128"
  for mode in display extract filter through merge; do
    case $mode in
      display) margs=() ;;
      extract) margs=(-mode extract -cappath "$work/mem.ts") ;;
      merge) margs=(-mode merge -cappath "$work/cutcap.ts" -mergepath "$work/mem.ts") ;;
      *) margs=(-mode "$mode" "-${mode}path" "$work/mem.ts") ;;
    esac
    for kind in file fifo stdin; do
      cells=()
      for bufsize in "" 48128; do
        extra=(-noprogress)
        if [ -n "$bufsize" ]; then extra+=(-bufsize "$bufsize"); fi
        rm -f "$work/mem.ts"
        case $kind in
          file) /usr/bin/time -v -o "$work/time.txt" "$program" "${margs[@]}" "$cut" "${extra[@]}" >/dev/null 2>&1 || true ;;
          fifo) timeout 120 cat "$cut" > "$work/fifo" &
                /usr/bin/time -v -o "$work/time.txt" "$program" "${margs[@]}" "$work/fifo" "${extra[@]}" >/dev/null 2>&1 || true
                wait ;;
          stdin) /usr/bin/time -v -o "$work/time.txt" "$program" "${margs[@]}" CON "${extra[@]}" < "$cut" >/dev/null 2>&1 || true ;;
        esac
        peak=$(($(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$work/time.txt") * 1024))
        limit=$memory_limit
        if [ -n "$bufsize" ]; then limit=$small_memory_limit; fi
        cells+=("$(awk -v p="$peak" -v l="$limit" 'BEGIN { printf "%.1f %s", p / 1048576, (p <= l) ? "ok" : "OVER" }')")
      done
      printf '%-24s %-16s %12s %12s\n' "$mode" "$kind" "${cells[0]}" "${cells[1]}"
    done
  done
  echo "(MiB; limits $((memory_limit / 1048576)) MiB at the default read buffer, under 16 MiB with -bufsize 48128)"
  rm -f "$cut" "$work/fifo" "$work/mem.ts" "$work/cutcap.ts"
fi

# --- convert ---------------------------------------------------------------------------------
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
  measure_median() {  # measure_median OUTPUT COMMAND…: median wall seconds of 3 runs, peak
    local output=$1; shift
    local list=() run
    convert_peak=0
    for ((run = 0; run < 3; run++)); do
      timed_run "$output" "$@"
      list+=("$wall")
      if [ "$((kib * 1024))" -gt "$convert_peak" ]; then convert_peak=$((kib * 1024)); fi
    done
    median=$(median_of "${list[@]}")
  }
  cformat='%-28s %9s %7s %15s %8s %6s %9s\n'
  echo
  printf "$cformat" "convert row" "MB/s" "ratio" "target" "seconds" "x200k" "peak MiB"
  for kind in srt ass; do
    for entries in 200000 400000; do
      subtitles=$work/sub$entries.$kind
      make_subtitles "$kind" "$entries" "$subtitles"
      "$program" -mode convert "$subtitles" -cappath "$work/conv.ts" -noprogress >/dev/null || true
      capts_bytes=$(stat -c %s "$work/conv.ts")
      measure_median "$work/out.ts" cat "$work/conv.ts"
      cat_rate=$(awk -v b="$capts_bytes" -v s="$median" 'BEGIN { printf "%.1f", b / s / 1e6 }')
      measure_median /dev/null "$program" -mode convert "$subtitles" -cappath "$work/conv.ts" -noprogress
      rate=$(awk -v b="$capts_bytes" -v s="$median" 'BEGIN { printf "%.1f", b / s / 1e6 }')
      ratio=$(awk -v r="$rate" -v c="$cat_rate" 'BEGIN { printf "%.3f", r / c }')
      verdict=$(awk -v r="$ratio" 'BEGIN { print (r >= 0.1) ? "ok" : "BELOW" }')
      if [ "$entries" = 200000 ]; then base_seconds=$median; growth=1.00; else
        growth=$(awk -v s="$median" -v b="$base_seconds" 'BEGIN { printf "%.2f", s / b }')
        verdict="$verdict/$(awk -v g="$growth" 'BEGIN { print (g <= 2.2) ? "linear" : "SLOWER" }')"
      fi
      printf "$cformat" "convert $kind $entries" "$rate" "$ratio" "$verdict" \
        "$(printf '%.2f' "$median")" "$growth" "$(awk -v p="$convert_peak" 'BEGIN { printf "%.1f", p / 1048576 }')"
      rm -f "$subtitles"
    done
  done
  echo "(convert ratio: caption TS bytes per second against cat of the same caption TS, target >= 0.1)"
fi
echo
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
