#!/bin/sh
# Builds the Debian package kestrel_<version>_amd64.deb from a clean release build and checks it:
# lintian (no error or warning that is not overridden with a reason), desktop-file-validate and
# appstreamcli on the files as packaged.
#   scripts/package.sh [output folder]     default: build/package
set -eu
cd "$(dirname "$0")/.."
root="$(pwd)"
build="$root/build/package"
output="${1:-$build}"

scripts/deps.sh package

# A clean tree, so nothing of an earlier configuration or a stale file reaches the package.
rm -rf "$build"
# Debian's hardening and optimisation flags. The banner's build time comes from the changelog's
# date (SOURCE_DATE_EPOCH), so the same sources give the same binaries.
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
export DEB_CPPFLAGS_MAINT_STRIP="-Wdate-time"
SOURCE_DATE_EPOCH="$(dpkg-parsechangelog -l packaging/changelog -S Timestamp)"
export SOURCE_DATE_EPOCH
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build"
(cd "$build" && cpack -G DEB -B "$output" >/dev/null)
rm -rf "$output/_CPack_Packages"

version="$(sed -n 's/^project(kestrel VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)"
deb="$output/kestrel_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "package.sh: $deb was not made" >&2; exit 1; }

lintian --fail-on error,warning "$deb"

unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/kestrel.desktop"
# --no-net: the screenshot and home page addresses are checked for form only, not fetched.
appstreamcli validate --no-net "$unpacked"/usr/share/metainfo/*.metainfo.xml >/dev/null

echo "$deb"
