#!/usr/bin/env bash
# Builds everything and runs every test with CTest.
#   QUORVANE_SANITIZE="address;undefined" or "thread" builds with those sanitizers;
#   BUILD_DIR chooses the build directory; CTEST_ARGS adds ctest arguments (e.g. "-L concurrency").
# Some tests start the agent, which always listens on TCP port 5782. When another program holds
# that port (an agent from scripts/run.sh, say), the tests run in a private network namespace of
# their own, with loopback only; that needs root.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh iproute2 libxml2-utils
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORVANE_SANITIZE="${QUORVANE_SANITIZE:-}" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
cd "$build_dir"
# shellcheck disable=SC2206
ctest=(ctest --output-on-failure -j"$(nproc)" --timeout 600 ${CTEST_ARGS:-})
if ss -Htln "sport = :5782" | grep -q .; then
    if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null; then
        echo "Port 5782 is taken here, and the tests that start the agent need it:" >&2
        ss -Htlnp "sport = :5782" >&2 || true
        echo "Stop that program, or run scripts/test.sh as root, which runs the tests in a" \
            "private network namespace where the port is free." >&2
        exit 1
    fi
    echo "Port 5782 is taken here: the tests run in a private network namespace."
    exec unshare -n bash -c 'ip link set lo up && exec "$@"' bash "${ctest[@]}"
fi
exec "${ctest[@]}"
