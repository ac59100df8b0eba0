#!/usr/bin/env bash
# Cross-builds the Windows back end's unit tests (GoogleTest from Debian's sources, built with the
# mingw-w64 toolchain) next to the Windows agent and runs them under Wine through CTest.
#   scripts/test-windows.sh            # needs root for apt-get; BUILD_DIR defaults to build-win
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh googletest wine wine64
scripts/build-windows.sh -DQUORVANE_BUILD_WINDOWS_TESTS=ON --target windows_backend_tests >/dev/null
ctest --test-dir "${BUILD_DIR:-build-win}" -L windows --output-on-failure
