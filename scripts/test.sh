#!/usr/bin/env bash
# Builds everything and runs every test with CTest.
#   QUORVANE_SANITIZE="address;undefined" or "thread" builds with those sanitizers;
#   BUILD_DIR chooses the build directory; CTEST_ARGS adds ctest arguments (e.g. "-L concurrency").
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORVANE_SANITIZE="${QUORVANE_SANITIZE:-}" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
cd "$build_dir"
# shellcheck disable=SC2086
ctest --output-on-failure -j"$(nproc)" --timeout 600 ${CTEST_ARGS:-}
