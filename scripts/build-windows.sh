#!/usr/bin/env bash
# Cross-builds quorvane-agent.exe for 64-bit Windows (mingw-w64, static POCO built once from
# Debian's POCO source and cached outside the clone). Output: build-win/quorvane-agent.exe.
#   scripts/build-windows.sh            # needs root for apt-get
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
poco_prefix=$(scripts/windows/build-poco.sh | tail -n 1)
build_dir=${BUILD_DIR:-build-win}
cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake \
    -DQUORVANE_POCO_PREFIX="$poco_prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
echo "$build_dir/quorvane-agent.exe"
