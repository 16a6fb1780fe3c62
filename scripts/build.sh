#!/usr/bin/env bash
# Installs what is missing and builds the program in build/release.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_TESTS=OFF >/dev/null
cmake --build build/release -j2 --target quilvaren
