#!/usr/bin/env bash
# Cross-build a static POCO (Foundation, XML, Net, Util) for 64-bit Windows
# with mingw-w64, from Debian's own POCO source package (the same version as
# the installed libpoco-dev, so Linux and Windows builds use the same POCO).
#
# Usage:
#   sudo scripts/windows/build-poco.sh            # needs root for apt-get
#   POCO_PREFIX="$(scripts/windows/build-poco.sh | tail -n1)"
#   cmake -S . -B build-win \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake \
#         -DQUORVANE_POCO_PREFIX="$POCO_PREFIX" -DCMAKE_BUILD_TYPE=Release
#
# Environment:
#   QUORVANE_CACHE         cache root (default /var/cache/quorvane)
#   QUORVANE_POCO_VERSION  Debian version of the poco source package
#                          (default: version of the installed libpoco-dev)
#   QUORVANE_POCO_JOBS     parallel build jobs (default 2)
#
# Installs into $QUORVANE_CACHE/poco-mingw-<version>-<hash>, where <hash>
# covers the patches in patches/poco/, the build settings below, the
# toolchain file and the compiler version. A complete install is marked by a
# stamp file written last; if it is there, nothing is rebuilt. The symlink
# $QUORVANE_CACHE/poco-mingw points at the latest complete install (the
# toolchain file's default). Progress goes to stderr; the only line on
# stdout, and so the last line, is the install prefix.
#
# The source is fetched with `apt-get source` through a temporary deb-src
# entry that mirrors the existing Debian entries; it is removed again on
# exit (also on failure) and the package lists are refreshed.

set -euo pipefail

SCRIPT_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
REPO_ROOT="$(cd "$SCRIPT_DIR/../.." && pwd)"
TOOLCHAIN="$REPO_ROOT/cmake/toolchains/mingw-w64-x86_64.cmake"
PATCH_DIR="$REPO_ROOT/patches/poco"
CACHE_ROOT="${QUORVANE_CACHE:-/var/cache/quorvane}"
JOBS="${QUORVANE_POCO_JOBS:-2}"
TMP_SOURCES=/etc/apt/sources.list.d/quorvane-poco-src.sources

log() { printf '[build-poco] %s\n' "$*" >&2; }
die() { log "ERROR: $*"; exit 1; }

# Everything that decides what gets built. Changing any of it gives a new
# install prefix. Option names are those of POCO 1.11's top CMakeLists.txt
# (it has no ENABLE_PROMETHEUS). Only Foundation, XML, Net and Util are built;
# expat, pcre and zlib are the copies bundled with POCO.
POCO_CMAKE_ARGS=(
  -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=OFF
  -DPOCO_UNBUNDLED=OFF
  -DENABLE_FOUNDATION=ON
  -DENABLE_XML=ON
  -DENABLE_NET=ON
  -DENABLE_UTIL=ON
  -DENABLE_JSON=OFF
  -DENABLE_ENCODINGS=OFF
  -DENABLE_ENCODINGS_COMPILER=OFF
  -DENABLE_NETSSL=OFF
  -DENABLE_NETSSL_WIN=OFF
  -DENABLE_CRYPTO=OFF
  -DENABLE_JWT=OFF
  -DENABLE_DATA=OFF
  -DENABLE_DATA_SQLITE=OFF
  -DENABLE_DATA_MYSQL=OFF
  -DENABLE_DATA_POSTGRESQL=OFF
  -DENABLE_DATA_ODBC=OFF
  -DENABLE_MONGODB=OFF
  -DENABLE_REDIS=OFF
  -DENABLE_PDF=OFF
  -DENABLE_ZIP=OFF
  -DENABLE_SEVENZIP=OFF
  -DENABLE_APACHECONNECTOR=OFF
  -DENABLE_CPPPARSER=OFF
  -DENABLE_POCODOC=OFF
  -DENABLE_PAGECOMPILER=OFF
  -DENABLE_PAGECOMPILER_FILE2PAGE=OFF
  -DENABLE_ACTIVERECORD=OFF
  -DENABLE_ACTIVERECORD_COMPILER=OFF
  -DENABLE_TESTS=OFF
)
CMAKE_GENERATOR_NAME="Unix Makefiles"

# ---------------------------------------------------------------- packages
NEEDED_PACKAGES=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  cmake make dpkg-dev patch xz-utils bzip2 coreutils util-linux
)

is_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

ensure_packages() {
  local missing=() p
  for p in "${NEEDED_PACKAGES[@]}"; do
    is_installed "$p" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    log "installing: ${missing[*]}"
    apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
  fi
}

# ---------------------------------------------------------------- version
poco_version() {
  if [[ -n "${QUORVANE_POCO_VERSION:-}" ]]; then
    printf '%s' "$QUORVANE_POCO_VERSION"; return
  fi
  local v
  v="$(dpkg-query -W -f='${Version}' libpoco-dev 2>/dev/null || true)"
  if [[ -z "$v" ]]; then
    v="$(apt-cache policy libpoco-dev 2>/dev/null | awk '/Candidate:/ {print $2}')"
    [[ "$v" == "(none)" ]] && v=""
  fi
  [[ -n "$v" ]] || die "cannot tell the POCO version: libpoco-dev is not installed and apt knows no candidate (set QUORVANE_POCO_VERSION)"
  printf '%s' "$v"
}

# ---------------------------------------------------------------- deb-src
# Print deb-src stanzas (deb822) mirroring the enabled Debian "deb" entries
# of this release (same URIs, suites, components, keyring).
mirror_debian_sources() {
  local codename="$1" f
  shopt -s nullglob
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ "$f" == "$TMP_SOURCES" ]] && continue
    awk -v codename="$codename" '
      function flush() {
        if (types ~ /(^|[ \t])deb([ \t]|$)/ && enabled != "no" && uris != "" &&
            suites ~ ("(^|[ \t])" codename "(-[a-z]+)?([ \t]|$)")) {
          print "Types: deb-src"
          print "URIs: " uris
          print "Suites: " suites
          print "Components: " comps
          if (signed != "") print "Signed-By: " signed
          print ""
        }
        types = uris = suites = comps = signed = enabled = ""
      }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      {
        key = tolower($1); sub(/:$/, "", key)
        val = $0; sub(/^[^:]*:[ \t]*/, "", val)
        if (key == "types") types = val
        else if (key == "uris") uris = val
        else if (key == "suites") suites = val
        else if (key == "components") comps = val
        else if (key == "signed-by") signed = val
        else if (key == "enabled") enabled = tolower(val)
      }
      END { flush() }
    ' "$f"
  done
  # One-line format (sources.list and *.list).
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f "$f" ]] || continue
    awk -v codename="$codename" '
      $1 == "deb" {
        opts = ""; i = 2
        if ($2 ~ /^\[/) { while (i <= NF && $i !~ /\]$/) { opts = opts " " $i; i++ } opts = opts " " $i; i++ }
        uri = $i; suite = $(i+1); comps = ""
        for (j = i + 2; j <= NF; j++) comps = comps (comps == "" ? "" : " ") $j
        if (suite !~ ("^" codename "(-[a-z]+)?$")) next
        signed = ""
        if (match(opts, /signed-by=[^] ]+/)) signed = substr(opts, RSTART + 10, RLENGTH - 10)
        print "Types: deb-src"; print "URIs: " uri; print "Suites: " suite
        print "Components: " comps
        if (signed != "") print "Signed-By: " signed
        print ""
      }' "$f"
  done
  shopt -u nullglob
}

TMP_SOURCES_ADDED=0
DL_TMP=""
remove_tmp_sources() {
  if [[ -e "$TMP_SOURCES" ]]; then
    rm -f "$TMP_SOURCES"
    if ((TMP_SOURCES_ADDED)); then
      log "removed temporary deb-src entry; refreshing package lists"
      apt-get update -qq >&2 || log "warning: apt-get update after removing the deb-src entry failed"
    fi
  fi
  TMP_SOURCES_ADDED=0
  if [[ -n "$DL_TMP" ]]; then rm -rf "$DL_TMP"; DL_TMP=""; fi
}

# Download poco_<version>.dsc and its files into $1 (once; reused later).
fetch_source() {
  local version="$1" dest="$2" codename
  if [[ -f "$dest/.complete" ]]; then
    log "using downloaded source in $dest"
    return
  fi
  codename="$(. /etc/os-release && printf '%s' "${VERSION_CODENAME:-}")"
  [[ -n "$codename" ]] || die "cannot read VERSION_CODENAME from /etc/os-release"

  local stanzas
  stanzas="$(mirror_debian_sources "$codename")"
  [[ -n "$stanzas" ]] || die "no Debian 'deb' entry for $codename found under /etc/apt to mirror as deb-src"

  trap remove_tmp_sources EXIT
  trap 'exit 130' INT TERM
  printf '# Temporary, written by scripts/windows/build-poco.sh; removed when it exits.\n%s\n' \
    "$stanzas" > "$TMP_SOURCES"
  TMP_SOURCES_ADDED=1
  log "added temporary deb-src entry $TMP_SOURCES; refreshing package lists"
  apt-get update -qq >&2

  DL_TMP="$(mktemp -d "$CACHE_ROOT/.download.XXXXXX")"
  # apt drops privileges to _apt for downloads; let it write here.
  if id _apt >/dev/null 2>&1; then chown _apt "$DL_TMP"; fi
  log "apt-get source --download-only poco=$version"
  (cd "$DL_TMP" && apt-get source -qq --download-only "poco=$version" >&2)
  [[ -f "$DL_TMP/poco_${version#*:}.dsc" ]] || die "apt-get source did not produce poco_${version#*:}.dsc"
  rm -rf "$dest"
  mkdir -p "$(dirname "$dest")"
  chown -R "$(id -u):$(id -g)" "$DL_TMP"
  chmod 755 "$DL_TMP"
  mv "$DL_TMP" "$dest"
  DL_TMP=""
  touch "$dest/.complete"
  remove_tmp_sources
  trap - EXIT INT TERM
}

# ---------------------------------------------------------------- main
main() {
  [[ -f "$TOOLCHAIN" ]] || die "toolchain file not found: $TOOLCHAIN"
  [[ -d "$PATCH_DIR" ]] || die "patch directory not found: $PATCH_DIR"
  [[ "$(id -u)" == 0 ]] || die "run as root (apt-get is used to install packages and fetch the source)"

  # A temporary entry left behind by a killed run would break apt later.
  [[ -e "$TMP_SOURCES" ]] && { log "removing stale $TMP_SOURCES"; rm -f "$TMP_SOURCES"; apt-get update -qq >&2 || true; }

  ensure_packages
  mkdir -p "$CACHE_ROOT"

  # One build at a time per cache.
  exec 9>"$CACHE_ROOT/.build-poco.lock"
  flock 9

  local version upstream hash prefix stamp
  version="$(poco_version)"
  upstream="${version#*:}"; upstream="${upstream%-*}"

  local patches=()
  mapfile -t patches < <(find "$PATCH_DIR" -maxdepth 1 -type f -name '*.patch' | LC_ALL=C sort)

  hash="$(
    {
      printf 'poco-deb-version=%s\n' "$version"
      printf 'generator=%s\n' "$CMAKE_GENERATOR_NAME"
      printf 'arg=%s\n' "${POCO_CMAKE_ARGS[@]}"
      printf 'compiler=%s\n' "$(/usr/bin/x86_64-w64-mingw32-g++-posix --version | head -n1)"
      printf -- '--- toolchain\n'; cat "$TOOLCHAIN"
      for p in "${patches[@]}"; do printf -- '--- patch %s\n' "$(basename "$p")"; cat "$p"; done
    } | sha256sum | cut -c1-10
  )"
  prefix="$CACHE_ROOT/poco-mingw-$version-$hash"
  stamp="$prefix/.quorvane-poco-complete"

  if [[ -f "$stamp" ]]; then
    log "complete install found, nothing to do"
  else
    local srcdl="$CACHE_ROOT/downloads/poco_$version"
    fetch_source "$version" "$srcdl"

    local work="$CACHE_ROOT/build/poco-mingw-$version-$hash"
    rm -rf "$work" "$prefix"
    mkdir -p "$work"
    log "unpacking (Debian's own patches are applied by dpkg-source)"
    dpkg-source --no-check -x "$srcdl/poco_${version#*:}.dsc" "$work/src" >&2

    for p in "${patches[@]}"; do
      log "applying $(basename "$p")"
      patch -d "$work/src" -p1 --forward --batch < "$p" >&2
    done

    local t0=$SECONDS
    log "configuring"
    cmake -S "$work/src" -B "$work/build" -G "$CMAKE_GENERATOR_NAME" \
      -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
      -DQUORVANE_POCO_PREFIX="$prefix" \
      -DCMAKE_INSTALL_PREFIX="$prefix" \
      "${POCO_CMAKE_ARGS[@]}" >&2
    log "building with -j$JOBS"
    cmake --build "$work/build" -j "$JOBS" >&2
    log "installing into $prefix"
    cmake --install "$work/build" >&2

    {
      printf 'poco %s (Debian source package), built %s in %ss\n' "$version" "$(date -u +%Y-%m-%dT%H:%M:%SZ)" "$((SECONDS - t0))"
      printf 'settings hash %s\n' "$hash"
      printf 'cmake %s\n' "${POCO_CMAKE_ARGS[*]}"
      for p in "${patches[@]}"; do printf 'patch %s\n' "$(basename "$p")"; done
    } > "$stamp.tmp"
    mv "$stamp.tmp" "$stamp"
    rm -rf "$work"
    rmdir --ignore-fail-on-non-empty "$CACHE_ROOT/build"
    log "done in $((SECONDS - t0))s"
  fi

  ln -sfn "$(basename "$prefix")" "$CACHE_ROOT/.poco-mingw.tmp"
  mv -T "$CACHE_ROOT/.poco-mingw.tmp" "$CACHE_ROOT/poco-mingw"
  printf '%s\n' "$prefix"
}

main "$@"
