#!/usr/bin/env bash
# CTest's emulator for the cross-built test executables: runs one Windows program under Wine in
# a prefix of its own, which is removed afterwards together with its wineserver.
#   tests/windows/wine-run.sh PROGRAM.exe [ARGS...]
# Headless; the program's exit code is the result, 124 when it outlives QUORVANE_WINE_TIMEOUT
# seconds (default 300).
set -uo pipefail

export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/quorvane-wine-run.XXXXXX)
export WINEDEBUG=-all
# No Mono or Gecko installer: the tests need neither, and a fresh prefix starts faster.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

# The prefix is set up first, so its one-time console noise stays out of the test's output.
timeout 180 wineboot -i >/dev/null 2>&1 </dev/null
timeout "${QUORVANE_WINE_TIMEOUT:-300}" wine "$@" </dev/null
