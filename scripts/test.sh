#!/usr/bin/env bash
# Builds everything and runs every test through CTest: unit, corpus, interop,
# builder round trips, the Windows stub's layout and its end-to-end tests
# under Wine, and the fuzz targets for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test

# clang builds the fuzz targets beside everything else, so one CTest run
# covers it all.
build=build-test
CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKOBRIX_TESTS=ON -DKOBRIX_FUZZ=ON >/dev/null
cmake --build "$build" -j2

cd "$build"
ctest --output-on-failure -j2 --timeout 900
