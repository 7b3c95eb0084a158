#!/bin/sh
# Installs what is missing, builds kestrel with its tests and runs the whole suite through ctest.
#   scripts/test.sh [preset]     preset: default (the one the README names), asan or tsan
# The tsan preset builds and runs only the tests labelled "threaded" and the programs they start.
set -eu
cd "$(dirname "$0")/.."
preset="${1:-default}"

scripts/deps.sh test
cmake --preset "$preset" >/dev/null
if [ "$preset" = tsan ]; then
    tests=$(ctest --preset tsan -N | sed -n 's/^ *Test *#[0-9]*: *//p')
    # shellcheck disable=SC2086
    cmake --build --preset tsan --target $tests testersim quillet kestrel kestrel_artwork
else
    cmake --build --preset "$preset"
fi
ctest --preset "$preset" --parallel 2
