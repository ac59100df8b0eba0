#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when some are missing.
set -euo pipefail

packages=(cmake make g++ pkg-config libpoco-dev googletest libgtest-dev prometheus-cpp-dev curl "$@")
missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null 2>&1; then
            echo "Installing these needs root, and sudo is not installed. Either run this again" >&2
            echo "as root, or install them as root first and run this again as $(id -un):" >&2
            echo "  su -c 'apt-get install --no-install-recommends ${missing[*]}'" >&2
            exit 1
        fi
        SUDO="sudo"
    fi
    # Wait for another apt/dpkg run to finish instead of failing at once.
    lock=(-o DPkg::Lock::Timeout=900)
    $SUDO apt-get "${lock[@]}" update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get "${lock[@]}" install -y -qq --no-install-recommends "${missing[@]}"
fi
