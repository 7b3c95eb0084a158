#!/bin/sh
# Installs what is missing, builds kestrel with its tests and runs the whole suite through ctest.
#   scripts/test.sh [preset]     preset: default (the one the README names), asan or tsan
set -eu
cd "$(dirname "$0")/.."
preset="${1:-default}"

scripts/deps.sh test
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" --parallel 2
