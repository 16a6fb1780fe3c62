#!/usr/bin/env bash
# Cross-builds the Windows executables (x86-64 in build/win64, i386 in build/win32) with MinGW-w64
# and runs every unit-test executable and two smoke tests of Quilvaren.exe (usage text, display
# mode on the bundled sample) under Wine.
# Installs the cross compilers and Wine when they are missing. Ends with "N passed, N failed"
# (GoogleTest cases over both architectures, plus the smoke tests) and exits non-zero on any failure.
# On a kernel that cannot execute 32-bit programs the i386 build is made but its tests are not
# run, which one line says and which is no failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# --- what is needed ---------------------------------------------------------------------------
# Only the -posix compiler packages: the meta packages would switch the default to the win32
# thread variant, which has no std::thread.
packages=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 locales googletest clang
  lld ninja-build)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

as_root() { if [ "$(id -u)" -ne 0 ]; then sudo "$@"; else "$@"; fi; }

missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done
need_wine32=0
installed wine32:i386 || need_wine32=1
if [ ${#missing[@]} -gt 0 ] || [ $need_wine32 -eq 1 ]; then
  echo "installing: ${missing[*]} $([ $need_wine32 -eq 1 ] && echo wine32:i386)"
  if [ $need_wine32 -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update -qq
  if [ $need_wine32 -eq 1 ]; then
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends \
      "${missing[@]}" wine32:i386 >/dev/null ||
      echo "wine32:i386 could not be installed; the i386 tests will not run"
  fi
  if [ ${#missing[@]} -gt 0 ]; then
    for package in "${missing[@]}"; do installed "$package" || still+=("$package"); done
    if [ -n "${still[*]:-}" ]; then
      DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends \
        "${still[@]}" >/dev/null
    fi
  fi
fi

# --- cross builds -----------------------------------------------------------------------------
# Tests known not to pass on Windows yet, as "EXECUTABLE" (it may not even build) or
# "EXECUTABLE:GTEST_PATTERN". They are still built and run, and reported as pending instead of
# failing the step; an entry goes once its test passes under Wine. Everything else, the program
# and every new test included, must build and pass.
pending=()

pending_filter() {  # the gtest patterns pending for one executable, ':'-separated; "*" for all
  local name=$1 entry patterns=""
  for entry in "${pending[@]}"; do
    if [ "$entry" = "$name" ]; then echo "*"; return; fi
    if [ "${entry%%:*}" = "$name" ]; then patterns="${patterns:+$patterns:}${entry#*:}"; fi
  done
  echo "$patterns"
}

# Both architectures are unity builds made by Ninja (see scripts/unity-build.sh).
source scripts/unity-build.sh

build_failures=()
arch_tests=()
# Builds the program and every test executable in DIR; leaves their names in arch_tests.
build_arch() {
  local dir=$1 toolchain=$2
  # The library and the program at -O2 as in the native builds (GCC 12 at -O3 warns falsely
  # about vector copies); the test code (GoogleTest, helpers, tests) at -O1, which builds it in
  # about two thirds of the time and tests the same code.
  configure_unity "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/$toolchain" \
    -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" -DQV_TEST_CODE_OPTIONS=-O1
  local target
  mapfile -t arch_tests < <(cmake --build "$dir" --target help |
    sed -n 's/^\([a-z0-9_]*_tests\): phony$/\1/p' | sort -u)
  if [ ${#arch_tests[@]} -eq 0 ]; then  # never a pass with nothing run
    echo "FAIL: no test executables found in $dir"
    exit 1
  fi
  # One build of everything that goes on past a failing target (the fuzz targets, tools and
  # benchmarks stay with the native builds). Then the program must have built, and each test
  # executable is built once more on its own (nothing to do when it built) to tell which failed;
  # one that does not build is a failure unless it is pending.
  cmake --build "$dir" -j2 --target quilvaren "${arch_tests[@]}" -- -k 0 >"$dir/build.log" 2>&1 ||
    true
  if ! cmake --build "$dir" --target quilvaren >"$dir/quilvaren.build.log" 2>&1; then
    grep -E 'error' "$dir/quilvaren.build.log" | head -20
    echo "FAIL: Quilvaren.exe does not build ($dir/quilvaren.build.log)"
    exit 1
  fi
  for target in "${arch_tests[@]}"; do
    if ! cmake --build "$dir" --target "$target" >"$dir/$target.build.log" 2>&1; then
      rm -f "$dir/tests/$target.exe"
      if [ "$(pending_filter "$target")" = "*" ]; then
        echo "pending: $target does not build for Windows yet ($dir/$target.build.log)"
      else
        build_failures+=("$dir: $target")
        grep -E 'error' "$dir/$target.build.log" | head -20
      fi
    fi
  done
}

# A stand-in tuner driver compiled with the MSVC C++ ABI (clang and lld-link, no runtime), beside
# the tests that check which slots of its table of virtual functions MinGW code reaches.
build_msvc_probe() {
  local dir=$1 target=$2 machine=$3
  local source=$root/stand-ins/msvc_vtable_probe/vtable_probe.cpp out=$dir/tests
  mkdir -p "$out"
  if [ "$out/msvc_vtable_probe.dll" -nt "$source" ]; then return 0; fi
  clang++ --target="$target" -std=c++17 -fno-rtti -fno-exceptions -O1 -Wall -Wextra -Werror \
    -c "$source" -o "$out/msvc_vtable_probe.obj"
  lld-link /nologo /dll /noentry /nodefaultlib /machine:"$machine" \
    $([ "$machine" = x86 ] && echo /safeseh:no) "$out/msvc_vtable_probe.obj" \
    /out:"$out/msvc_vtable_probe.dll" >/dev/null
}

echo "== Windows x86-64 build (build/win64) =="
build_arch build/win64 mingw-x86_64.cmake
win64_tests=("${arch_tests[@]}")
build_msvc_probe build/win64 x86_64-pc-windows-msvc x64
echo "== Windows i386 build (build/win32) =="
build_arch build/win32 mingw-i686.cmake
win32_tests=("${arch_tests[@]}")
build_msvc_probe build/win32 i686-pc-windows-msvc x86

# --- Wine's programs --------------------------------------------------------------------------
# The x86-64 programs run under Wine's 64-bit loader, called directly. The `wine` command would
# not do: Debian's wrapper starts the 32-bit loader whenever wine32:i386 is installed (which
# hands 64-bit programs on to the 64-bit one), so on a kernel that cannot execute 32-bit
# programs every x86-64 program would die with "Exec format error" too. The i386 programs keep
# `wine`.

# The architecture of an ELF file from its header: "x86-64", "i386", or nothing for anything
# else (a shell script, a missing file, another machine).
elf_arch() {
  local header
  header=$(od -An -tx1 -N20 "$1" 2>/dev/null | tr -d ' \n') || return 0
  case "${header:0:10}:${header:36:4}" in
    7f454c4602:3e00) echo x86-64 ;;
    7f454c4601:0300) echo i386 ;;
  esac
}

# Prints the first of the CANDIDATES (with links followed) that is an executable ELF program
# for ARCH; fails when none is.
first_elf() {
  local arch=$1 candidate
  shift
  for candidate in "$@"; do
    if [ -z "$candidate" ] || [ ! -f "$candidate" ]; then continue; fi
    candidate=$(readlink -f "$candidate")
    if [ -x "$candidate" ] && [ "$(elf_arch "$candidate")" = "$arch" ]; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

# Where the 64-bit loader lives differs by distribution and Wine version: Debian and Ubuntu
# keep it in /usr/lib/wine (or /usr/lib/wine-development), Wine's own packages in
# /opt/wine-*/bin, others in PATH; a Wine built in the single-loader WoW64 mode has only a
# `wine`, which is then itself an x86-64 program. A `wine64` in PATH that is no ELF program (a
# wrapper script) is the last resort.
wine64=$(first_elf x86-64 /usr/lib/wine*/wine64 /opt/wine*/bin/wine64 "$(command -v wine64)" \
  /usr/lib/wine*/wine /opt/wine*/bin/wine "$(command -v wine)" || command -v wine64) || {
  echo "FAIL: no 64-bit Wine loader found (wine64)"
  exit 1
}
# The server is a 64-bit program too where one is there (Debian's `wineserver` wrapper would
# pick it as well). Exported, so that a loader that starts one, of either architecture, starts
# this one.
wineserver=$(first_elf x86-64 "${wine64%/*}/wineserver64" "${wine64%/*}/wineserver" \
  /usr/lib/wine*/wineserver64 "$(command -v wineserver64)" "$(command -v wineserver)" ||
  command -v wineserver) || {
  echo "FAIL: no wineserver found"
  exit 1
}
export WINESERVER=$wineserver

# --- can this machine execute 32-bit programs? ------------------------------------------------
# Wine runs i386 programs with its 32-bit loader, an i386 Linux program. Some kernels cannot
# execute such programs at all (built without IA-32 emulation, or with it switched off), which
# nothing short of trying shows. So a tiny i386 program is run. Where it does not run, the i386
# build is still made (it proves that the source compiles) but its tests are left out, with one
# line that says so; nothing of it counts as passed.
probe_dir=$root/build/probe

# Writes FILE: a static 32-bit little-endian ELF program of 91 bytes for the machine MACHINE (one
# byte: '\x03' is i386, '\x00' is no machine, which no kernel runs) that only calls exit(0)
# through int 0x80. Written byte by byte, it needs no 32-bit C library, multilib compiler or
# assembler on the build machine.
write_tiny_elf() {
  local file=$1 machine=$2
  # identification: ELF, 32-bit, little-endian, version 1, System V
  local ident='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
  # executable, MACHINE, version 1, entry 0x08048054, program headers at 52, no sections, no
  # flags, a 52-byte header, one program header of 32 bytes, 40-byte section headers (none)
  local header='\x02\x00'"$machine"'\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
  header+='\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x28\x00\x00\x00\x00\x00'
  # one loaded segment: the whole file (91 bytes) at 0x08048000, readable and executable
  local segment='\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
  segment+='\x5b\x00\x00\x00\x5b\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
  # xor ebx, ebx (status 0); xor eax, eax; inc eax (exit); int 0x80
  local code='\x31\xdb\x31\xc0\x40\xcd\x80'
  printf '%b' "$ident$header$segment$code" >"$file"
  chmod +x "$file"
}

# The probe: whether PROGRAM, run without arguments, starts and exits with 0. Bash runs it
# itself: a program started through execvp (env, timeout) that the kernel refuses would be
# handed to /bin/sh as a script. The braces also send bash's own notice of a program killed by
# a signal to /dev/null.
can_execute() {
  { "$1"; } </dev/null >/dev/null 2>&1
}

# The probe is checked against known answers before it is believed: a copy of /bin/true in the
# probe's folder must run (which also shows that programs may run from there at all); the same
# copy without its execute bits and the tiny program for no machine must not.
check_probe() {
  local wrong=""
  cp /bin/true "$probe_dir/true"
  cp /bin/true "$probe_dir/not-executable"
  chmod a-x "$probe_dir/not-executable"
  write_tiny_elf "$probe_dir/no-machine" '\x00'
  can_execute "$probe_dir/true" || wrong="a copy of /bin/true does not run from $probe_dir"
  ! can_execute "$probe_dir/not-executable" || wrong="a file without execute bits runs"
  ! can_execute "$probe_dir/no-machine" || wrong="a program for no machine runs"
  if [ -n "$wrong" ]; then
    echo "FAIL: the 32-bit probe answers wrongly: $wrong"
    exit 1
  fi
}

rm -rf "$probe_dir"
mkdir -p "$probe_dir"
check_probe
write_tiny_elf "$probe_dir/i386" '\x03'
i386_runs=0
if can_execute "$probe_dir/i386"; then i386_runs=1; fi
# Wine's own 32-bit loader, where it is installed, must agree: were it to run where the probe
# says no, the i386 tests would be left out for nothing.
wine32=$(first_elf i386 "${wine64%/*}/wine" /usr/lib/wine*/wine "$(command -v wine)") || wine32=""
if [ $i386_runs -eq 0 ] && [ -n "$wine32" ] &&
  { "$wine32" --version; } </dev/null >/dev/null 2>&1; then
  echo "FAIL: the 32-bit probe says this kernel cannot execute 32-bit programs, but $wine32 runs"
  exit 1
fi

# --- Wine prefix ------------------------------------------------------------------------------
wine_dir=$root/build/wine
mkdir -p "$wine_dir"
export WINEPREFIX=$wine_dir/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
# Wine takes its ANSI code page from the locale: Japanese gives 932, as on the users' machines.
# The locale is compiled into the build folder, so the machine's locale list is left alone.
if [ ! -e "$wine_dir/locale/ja_JP.UTF-8/LC_CTYPE" ]; then
  mkdir -p "$wine_dir/locale"
  localedef -i ja_JP -f UTF-8 "$wine_dir/locale/ja_JP.UTF-8"
fi
export LOCPATH=$wine_dir/locale
# This shell itself cannot load that locale (it took LOCPATH at its start): its warning is
# silenced.
{ unset LC_ALL LC_CTYPE; export LANG=ja_JP.UTF-8; } 2>/dev/null
# A prefix made where 32-bit programs cannot run lacks its 32-bit half (syswow64), and i386
# programs cannot start in it even on a machine that runs them. So build/wine/prefix.made-with
# records what the machine that made it could run, and a prefix made without the 32-bit half
# (or by an earlier version of this step, which recorded nothing) is made afresh on a machine
# that runs 32-bit programs.
made_with=$([ $i386_runs -eq 1 ] && echo "x86-64 and i386" || echo "x86-64 only")
recorded=$(cat "$wine_dir/prefix.made-with" 2>/dev/null || true)
if [ "$recorded" != "x86-64 and i386" ] && [ "$recorded" != "$made_with" ]; then
  rm -rf "$WINEPREFIX"
  echo "$made_with" >"$wine_dir/prefix.made-with"
fi
# wineserver refuses a prefix folder that does not exist yet; wineboot fills it. Both are the
# 64-bit programs, so that the prefix is made without any 32-bit one. With any standard stream
# left open, capturing the output of these two would hang.
mkdir -p "$WINEPREFIX"
"$wineserver" -p </dev/null >/dev/null 2>&1 || echo "wineserver -p failed"
trap '"$wineserver" -k </dev/null >/dev/null 2>&1 || true' EXIT
"$wine64" wineboot.exe -i </dev/null >/dev/null 2>&1 || echo "wineboot -i failed"

total_passed=0
total_failed=0
total_skipped=0

# Runs one GoogleTest executable; a zero exit code alone is not trusted (a crash under Wine can
# end with 0), so GoogleTest's own summary must say that every test passed. With mode "pending"
# the results are reported and counted as skipped. LOADER is the Wine command that runs it.
run_gtest() {
  local exe=$1 label=$2 loader=$3 filter=$4 mode=$5 log
  log=$wine_dir/$label.$(basename "$exe" .exe).$mode.log
  local status=0
  (cd "$(dirname "$exe")" && timeout 600 "$loader" "./$(basename "$exe")" --gtest_filter="$filter" \
    </dev/null 2>&1) | tr -d '\r' >"$log" || status=$?
  local ran passed skipped failed
  ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from .* ran\..*/\1/p' "$log" | tail -1)
  passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$log" | tail -1)
  skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}, listed below.*/\1/p' "$log" | tail -1)
  failed=$(sed -n 's/^ *\([0-9]*\) FAILED TESTS\{0,1\}.*/\1/p' "$log" | tail -1)
  if [ -z "$ran" ] || [ -z "$passed" ]; then
    ran=${ran:-0}
    passed=0
    [ "$status" -eq 0 ] && status=1  # no summary at all: the run did not finish
  fi
  skipped=${skipped:-0}
  failed=${failed:-0}
  local lost=$((ran - passed - skipped))
  if [ "$mode" = pending ]; then
    total_skipped=$((total_skipped + ran))
    echo "pending $label $(basename "$exe"): $passed of $ran pending tests pass (log: $log)"
    return 0
  fi
  if [ "$status" -ne 0 ] || [ "$lost" -ne 0 ] || [ "$failed" -ne 0 ]; then
    # Whatever did not report a pass counts as failed (at least one for a crash).
    [ "$lost" -lt 1 ] && lost=1
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + lost))
    echo "FAIL $label $(basename "$exe"): exit $status, $passed of $ran passed (log: $log)"
    grep -E '^\[  FAILED  \] [A-Za-z0-9_/.]+( \(|$)' "$log" | sort -u | head -40 || true
    return 0
  fi
  total_passed=$((total_passed + passed))
  total_skipped=$((total_skipped + skipped))
  echo "ok   $label $(basename "$exe"): $passed tests$([ "$skipped" -gt 0 ] && echo ", $skipped skipped")"
}

# Quilvaren.exe without arguments: the usage text in CP932, then the contact block read from the
# executable's version resource, exit code 0.
smoke_usage() {
  local exe=$1 label=$2 loader=$3 out status=0
  out=$wine_dir/$label.usage.out
  (cd "$(dirname "$exe")" && timeout 120 "$loader" "./$(basename "$exe")" </dev/null 2>/dev/null) \
    >"$out" || status=$?
  local text problem=""
  if ! text=$(iconv -f CP932 -t UTF-8 "$out" 2>/dev/null); then
    problem="output is not CP932"
  elif [ "$status" -ne 0 ]; then
    problem="exit code $status"
  elif [ "$(head -n 1 <<<"$text")" != "引数" ]; then
    problem="first line is not the usage heading"
  elif ! grep -q '^　Quilvaren\.exe\[ -mode extract|merge|disaply|filter\]' <<<"$text"; then
    problem="usage line without the program name"
  elif ! tail -n 3 <<<"$text" | head -n 1 | grep -qx '連絡先他'; then
    problem="no contact block"
  elif [ "$(tail -n 2 <<<"$text" | head -n 1)" != "　$(cmake -LA -N "$(dirname "$exe")" |
      sed -n 's/^QV_COMPANY_NAME:STRING=//p')" ]; then
    problem="contact block without the company name"
  fi
  if [ -n "$problem" ]; then
    total_failed=$((total_failed + 1))
    echo "FAIL $label usage smoke test: $problem (output: $out)"
  else
    total_passed=$((total_passed + 1))
    echo "ok   $label usage smoke test"
  fi
}

# Quilvaren.exe on the bundled sample in display mode: its three captions in CP932, and the
# number of caption texts shown as exit code.
smoke_display() {
  local exe=$1 label=$2 loader=$3 out status=0
  out=$wine_dir/$label.display.out
  (cd "$root" && timeout 120 "$loader" "$exe" 'samples\sample.ts' </dev/null 2>/dev/null) >"$out" ||
    status=$?
  local text problem="" caption
  if ! text=$(iconv -f CP932 -t UTF-8 "$out" 2>/dev/null | tr '\r' '\n'); then
    problem="output is not CP932"
  elif [ "$status" -ne 3 ]; then
    problem="exit code $status instead of 3 captions"
  else
    for caption in "こんにちは" "字幕のテスト" "ＡＢＣ １２３"; do
      grep -qx "$caption" <<<"$text" || problem="caption \"$caption\" missing"
    done
  fi
  if [ -n "$problem" ]; then
    total_failed=$((total_failed + 1))
    echo "FAIL $label display smoke test: $problem (output: $out)"
  else
    total_passed=$((total_passed + 1))
    echo "ok   $label display smoke test"
  fi
}

# run_arch DIR LABEL LOADER TEST...: the smoke tests of DIR's program and the named test
# executables (one that did not build is already counted), run by the Wine command LOADER.
run_arch() {
  local dir=$1 label=$2 loader=$3
  shift 3
  echo "== unit tests under Wine: $label =="
  smoke_usage "$dir/Quilvaren.exe" "$label" "$loader"
  smoke_display "$dir/Quilvaren.exe" "$label" "$loader"
  local target exe held
  for target in "$@"; do
    exe=$dir/tests/$target.exe
    [ -e "$exe" ] || continue
    held=$(pending_filter "$target")
    if [ "$held" = "*" ]; then
      run_gtest "$exe" "$label" "$loader" "*" pending
    elif [ -n "$held" ]; then
      run_gtest "$exe" "$label" "$loader" "-$held" checked
      run_gtest "$exe" "$label" "$loader" "$held" pending
    else
      run_gtest "$exe" "$label" "$loader" "*" checked
    fi
  done
}

run_arch build/win64 x86-64 "$wine64" "${win64_tests[@]}"
if [ $i386_runs -eq 0 ]; then
  echo "i386: built; tests not run: this kernel cannot execute 32-bit programs"
elif installed wine32:i386; then
  run_arch build/win32 i386 wine "${win32_tests[@]}"
else
  echo "== i386: built, not run (wine32:i386 is not installed) =="
fi

for failure in "${build_failures[@]}"; do
  echo "FAIL build of $failure"
  total_failed=$((total_failed + 1))
done
echo "windows: $total_passed passed, $total_failed failed, $total_skipped skipped"
[ "$total_failed" -eq 0 ]
