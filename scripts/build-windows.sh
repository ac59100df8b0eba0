#!/usr/bin/env bash
# Cross-builds quorvane-agent.exe for 64-bit Windows (mingw-w64, static POCO built once from
# Debian's POCO source and cached outside the clone). Output: build-win/quorvane-agent.exe.
#   scripts/build-windows.sh [-DOPTION=VALUE...] [--target TARGET]   # needs root for apt-get
# Options go to the CMake configuration (scripts/test-windows.sh adds the unit tests that way);
# --target builds only that target instead of everything.
set -euo pipefail
cd "$(dirname "$0")/.."
options=()
targets=()
while [ $# -gt 0 ]; do
    case $1 in
    -D*) options+=("$1") ;;
    --target)
        targets=(--target "$2")
        shift
        ;;
    *)
        echo "unknown argument: $1" >&2
        exit 2
        ;;
    esac
    shift
done
scripts/deps.sh g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
poco_prefix=$(scripts/windows/build-poco.sh | tail -n 1)
build_dir=${BUILD_DIR:-build-win}
cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake \
    -DQUORVANE_POCO_PREFIX="$poco_prefix" -DCMAKE_BUILD_TYPE=Release ${options[@]+"${options[@]}"} >/dev/null
cmake --build "$build_dir" -j"$(nproc)" ${targets[@]+"${targets[@]}"}
echo "$build_dir/quorvane-agent.exe"
