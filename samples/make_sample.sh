#!/usr/bin/env bash
# Rebuilds samples/sample.ts with the project's own stream generator. The sample is the
# generator's default stream, so the end-to-end tests can check that the committed file is still
# what the generator makes (see samples/README.md for what it contains).
#   samples/make_sample.sh [build-directory]   (default build/sample)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build/sample}

cmake -S . -B "$build_dir" -DQV_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j2 --target make_test_stream >/dev/null
"$build_dir/tools/make_test_stream/make_test_stream" -o samples/sample.ts
echo "samples/sample.ts: $(wc -c < samples/sample.ts) bytes"
