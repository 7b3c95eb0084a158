#!/bin/sh
# Builds the libFuzzer targets in build/fuzz and runs each for the given seconds (default 60) on a
# copy of its seed corpus, all at the same time. Fails on any finding; the input that triggered it
# is kept in build/fuzz/findings/<target>/ and belongs in tests/fuzz/corpus/<target>/ once fixed.
#   scripts/fuzz.sh [seconds]
set -eu

seconds="${1:-60}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/fuzz"
targets="tester_reply quillet_interface helper_answers main_ini documents"

"$root/scripts/deps.sh" fuzz

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DKESTREL_FUZZ=ON -DBUILD_TESTING=OFF \
    -DKESTREL_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" -j2 fuzz_all

runs="$build/fuzz-runs"
rm -rf "$runs"
mkdir -p "$runs"

# One target: its own corpus copy (the seeds in the tree are never written), findings kept aside.
fuzz_one() {
    name="$1"
    corpus="$runs/$name/corpus"
    findings="$build/findings/$name"
    mkdir -p "$corpus" "$findings"
    cp "$root/tests/fuzz/corpus/$name/"* "$corpus/"
    if "$build/bin/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" >"$runs/$name.log" 2>&1; then
        echo "fuzz_$name: no finding in ${seconds}s ($(grep -o 'stat::number_of_executed_units: [0-9]*' \
            "$runs/$name.log" | grep -o '[0-9]*$') runs, $(grep -E '^#[0-9]+.*(DONE|pulse)' "$runs/$name.log" |
            tail -n 1 | grep -o 'cov: [0-9]* ft: [0-9]*'))"
    else
        echo "fuzz_$name: FINDING, see $runs/$name.log and $findings/" >&2
        tail -n 40 "$runs/$name.log" >&2
        return 1
    fi
}

# All at once: CI's minute per target is wall time, and five minutes of it would be too long.
status=0
pids=""
for name in $targets; do
    fuzz_one "$name" &
    pids="$pids $!"
done
for pid in $pids; do
    wait "$pid" || status=1
done
count=$(echo $targets | wc -w)
if [ "$status" -eq 0 ]; then
    echo "fuzz: $count passed, 0 failed"
fi
exit "$status"
