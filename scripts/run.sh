#!/usr/bin/env bash
# Builds the agent and runs it in the foreground; it serves on TCP port 5782 until Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target quorvane-agent -j"$(nproc)"
exec build/quorvane-agent "$@"
