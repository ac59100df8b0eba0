#!/usr/bin/env bash
# Cross-builds the Windows back end's unit tests (GoogleTest from Debian's sources, built with the
# mingw-w64 toolchain) next to the Windows agent and runs them under Wine through CTest.
#   scripts/test-windows.sh            # needs root for apt-get; BUILD_DIR defaults to build-win
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh googletest wine wine64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
build_dir=${BUILD_DIR:-build-win}
poco_prefix=$(scripts/windows/build-poco.sh | tail -n 1)
cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake \
    -DQUORVANE_POCO_PREFIX="$poco_prefix" -DCMAKE_BUILD_TYPE=Release \
    -DQUORVANE_BUILD_WINDOWS_TESTS=ON >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target windows_backend_tests
ctest --test-dir "$build_dir" -L windows --output-on-failure
