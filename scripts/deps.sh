#!/bin/sh
# Installs the Debian packages kestrel needs that are missing. Fast and silent when nothing is.
#   scripts/deps.sh build   what building and running needs
#   scripts/deps.sh test    that, plus the independent readers and tools the test suite uses
#   scripts/deps.sh fuzz    that, plus clang and its libFuzzer runtime
#   scripts/deps.sh package what building and checking the Debian package needs
set -eu

BUILD_PACKAGES="cmake ninja-build g++ pkgconf mold
qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev libzip-dev
qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
libqt6sql6-sqlite libqt6sql6-psql
librsvg2-bin fontconfig fonts-liberation2 fonts-wqy-microhei
xvfb xauth"

# dpkg-shlibdeps (dpkg-dev) computes the package's library dependencies; lintian and the validators
# check the package, its menu entry and its AppStream data. The package test uses them too.
CHECK_PACKAGE_PACKAGES="dpkg-dev lintian desktop-file-utils appstream"

TEST_PACKAGES="libreoffice-writer-nogui libreoffice-calc-nogui python3 python3-docx python3-olefile
poppler-utils antiword catdoc wv imagemagick postgresql postgresql-contrib $CHECK_PACKAGE_PACKAGES"

case "${1:-build}" in
    build) wanted="$BUILD_PACKAGES" ;;
    test) wanted="$BUILD_PACKAGES $TEST_PACKAGES" ;;
    fuzz) wanted="$BUILD_PACKAGES $TEST_PACKAGES clang libclang-rt-14-dev" ;;
    package) wanted="$BUILD_PACKAGES $CHECK_PACKAGE_PACKAGES" ;;
    *) echo "usage: $0 [build|test|fuzz|package]" >&2; exit 2 ;;
esac

missing=""
for package in $wanted; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done
[ -z "$missing" ] && exit 0

command="apt-get install -y --no-install-recommends$missing"
if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages. As root, run:" >&2
    echo "  apt-get update && $command" >&2
    exit 1
fi
echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing
