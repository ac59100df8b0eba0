#!/usr/bin/env bash
# Builds the installable packages into dist/:
#   quorvane-agent_<version>_<arch>.deb   with debhelper (the CMake build and its install rules),
#   monitoring-plugins-quorvane_<version>_<arch>.deb   beside it, from the same source (the plugin)
#   prometheus-quorvane-exporter_<version>_<arch>.deb  and the Prometheus exporter
#   quorvane-agent-<version>-x64.msi      with wixl, around the cross-built Windows executable
#   scripts/package.sh [deb] [msi]        # both when none is named; needs root for apt-get
#   scripts/package.sh version            # prints the version the file names carry
# The version is the project version in CMakeLists.txt, written out in four parts
# (cmake/QuorvaneVersion.cmake).
# QUORVANE_VERSION_TWEAK=N in the environment replaces the fourth part, in the build as well
# (e.g. a later build of the same release, for the installer's upgrade check).
set -euo pipefail
cd "$(dirname "$0")/.."

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(deb msi)

# The build computes it with the same script; the release is the version without the override.
version=$(cmake -P cmake/QuorvaneVersion.cmake)
release=$(QUORVANE_VERSION_TWEAK='' cmake -P cmake/QuorvaneVersion.cmake)
if [ "${targets[0]}" = version ]; then
    echo "$version"
    exit 0
fi
mkdir -p dist
work=$(mktemp -d /tmp/quorvane-package.XXXXXX)
trap 'rm -rf "$work"' EXIT

build_deb() {
    # dpkg-buildpackage checks for build-essential, which a machine with only g++ lacks.
    scripts/deps.sh build-essential debhelper dpkg-dev
    local source maintainer
    source="$work/quorvane-agent-$version"
    mkdir -p "$source"
    # A copy of the tree as a clean clone has it (plus files not yet committed), so neither
    # debian/ nor the package build's output lands in the working tree.
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files -z --cached --others --exclude-standard |
            (xargs -0 -r stat --printf '%n\0' 2>/dev/null || true) |
            tar --null -T - -cf - | tar -xf - -C "$source"
    else
        tar --exclude='./build*' --exclude=./dist -cf - . | tar -xf - -C "$source"
    fi
    cp -r packaging/debian "$source/debian"
    # debian/changelog is the release's own; its first entry must name the project version. A
    # build with another fourth part gets an entry of its own on top.
    local released
    released=$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)
    if [ "$released" != "$release" ]; then
        echo "packaging/debian/changelog starts with $released, not $release: add an entry" >&2
        exit 1
    fi
    if [ "$released" != "$version" ]; then
        maintainer=$(sed -n 's/^Maintainer: //p' packaging/debian/control)
        {
            echo "quorvane-agent ($version) unstable; urgency=medium"
            echo
            echo "  * Build $version of release $released."
            echo
            echo " -- $maintainer  $(git log -1 --format=%aD 2>/dev/null || date -R)"
            echo
            cat packaging/debian/changelog
        } >"$source/debian/changelog"
    fi
    (cd "$source" && DEB_BUILD_OPTIONS="noautodbgsym parallel=$(nproc)" \
        dpkg-buildpackage -b -us -uc)
    local deb package
    for package in quorvane-agent monitoring-plugins-quorvane prometheus-quorvane-exporter; do
        deb="${package}_${version}_$(dpkg --print-architecture).deb"
        mv "$work/$deb" dist/
        echo "dist/$deb"
    done
}

build_msi() {
    scripts/deps.sh wixl msitools
    scripts/build-windows.sh >/dev/null
    # The identity the build wrote for the installer must be this version.
    grep -q "ProductVersion = \"$version\"" build-win/generated/identity.wxi
    local msi="dist/quorvane-agent-$version-x64.msi"
    # wixl takes sources only relative to the working directory, and leaves the icon's stream
    # there (Icon/): it runs in the scratch directory, given paths relative to that.
    local back
    back=$(realpath --relative-to="$work" .)
    (cd "$work" && wixl --arch x64 --includedir "$back/build-win/generated" \
        --define AgentExe="$back/build-win/quorvane-agent.exe" \
        --define IconFile="$back/packaging/windows/quorvane-agent.ico" \
        --output "$back/$msi" "$back/packaging/windows/quorvane-agent.wxs")
    finish_msi "$msi"
    echo "$msi"
}

# What the WiX source says, or the installer needs, that wixl does not write, set with msibuild:
# - FIREWALL, FIREWALL_REMOTEIP and INSTALLDIR are secure properties, so that an install that is
#   elevated only for its execution (UAC, deployment tools) still hands them to it;
# - the old version is removed inside the installation transaction (after InstallInitialize, not
#   before it), so that a failed upgrade rolls back to the old version, service and rule included;
# - the service is vital (its failure to install fails the install): wixl drops Vital;
# - the File table carries the executable's version (and the language of its version resource),
#   so that a repair or an upgrade compares versions instead of dates;
# - error 1722, a program the installer runs that fails (the firewall rule's netsh, the service
#   restart's sc), says what failed and how to install without the rule.
finish_msi() {
    local msi=$1 secure message
    secure=$(msiinfo export "$msi" Property | tr -d '\r' |
        awk -F'\t' '$1 == "SecureCustomProperties" { print $2 }')
    [ -n "$secure" ] # wixl writes it for the upgrade detection
    msibuild "$msi" -q "UPDATE \`Property\` SET \`Value\` = '$secure;FIREWALL;FIREWALL_REMOTEIP;INSTALLDIR'
        WHERE \`Property\` = 'SecureCustomProperties'"
    msibuild "$msi" -q "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 1501
        WHERE \`Action\` = 'RemoveExistingProducts'"
    # msidbServiceInstallErrorControlVital (0x8000) with normal error control (1).
    msibuild "$msi" -q "UPDATE \`ServiceInstall\` SET \`ErrorControl\` = 32769
        WHERE \`ServiceInstall\` = 'AgentService'"
    # The version resource's FILEVERSION is the project version; its language is 0x411.
    msibuild "$msi" -q "UPDATE \`File\` SET \`Version\` = '$version', \`Language\` = '1041'
        WHERE \`File\` = 'AgentExe'"
    # [2] is the action, [3] the program, [4] its arguments.
    message="Windows could not be set up for the agent: [3] [4] failed (action [2])."
    message+=" To leave the firewall rule out, install with FIREWALL=0."
    msibuild "$msi" -q "INSERT INTO \`Error\` (\`Error\`, \`Message\`) VALUES (1722, '$message')"
}

for target in "${targets[@]}"; do
    case $target in
    deb) build_deb ;;
    msi) build_msi ;;
    *)
        echo "unknown package type: $target (deb or msi)" >&2
        exit 2
        ;;
    esac
done
