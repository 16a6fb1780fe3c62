#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that are missing.
#
#   scripts/install-deps.sh           what the build needs
#   scripts/install-deps.sh --tests   and what only the tests use: Ninja, which makes the
#                                     sanitizer builds; ffmpeg, whose ffprobe reads the rebuilt
#                                     tables as an independent demuxer; and strace, which slows
#                                     an output down (the tests that ask for those two are
#                                     skipped where they are missing)
set -euo pipefail

packages=(cmake g++ make googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev python3)
test_packages=(ninja-build ffmpeg strace)

missing_of() {  # missing_of PACKAGE…: the packages not installed
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      echo "$package"
    fi
  done
}

mapfile -t missing < <(missing_of "${packages[@]}")
test_missing=()
if [ "${1:-}" = --tests ]; then
  mapfile -t test_missing < <(missing_of "${test_packages[@]}")
fi
if [ ${#missing[@]} -gt 0 ] || [ ${#test_missing[@]} -gt 0 ]; then
  all=("${missing[@]}" "${test_missing[@]}")
  echo "installing: ${all[*]}"
  sudo_cmd=""
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd="sudo"; fi
  $sudo_cmd apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
  if [ ${#test_missing[@]} -gt 0 ]; then
    # Without the recommended packages: ffprobe needs none of them.
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends \
      "${test_missing[@]}" >/dev/null
  fi
fi
