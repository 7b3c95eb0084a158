#!/bin/sh
# Installs what is missing, builds and installs kestrel into ./stage, starts the tester simulator
# with its default scenario, points kestrel at it and opens the window (under Xvfb when there is
# no display). Closing the window stops the simulator.
set -eu
cd "$(dirname "$0")/.."
root="$(pwd)"
stage="$root/stage"

scripts/deps.sh build
cmake --preset default >/dev/null
# Only what the installed tree and the simulator need; scripts/test.sh builds the rest.
cmake --build --preset default --target kestrel quillet testersim kestrel_artwork kestrel_translations
cmake --install build/default --prefix "$stage" >/dev/null

# The simulated tester appears as $stage/run/ttyUSB0; kestrel finds it as port 0.
mkdir -p "$stage/run"
"$root/build/default/bin/testersim" --scenario "$root/tests/data/vehicle.json" "$stage/run/ttyUSB0" \
    >/dev/null 2>"$stage/run/testersim.log" &
simulator=$!
trap 'kill "$simulator" 2>/dev/null || true' EXIT INT TERM
for _ in 1 2 3 4 5 6 7 8 9 10; do
    [ -e "$stage/run/ttyUSB0" ] && break
    sleep 0.2
done

# Point the port pattern of the local tree's settings at the simulator, keeping the line ending.
sed -i "s|^SerialPortName=[^\r]*|SerialPortName=$stage/run/ttyUSB%1|" "$stage/Config/main.ini"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    "$stage/bin/kestrel"
else
    echo "No display found: running kestrel under xvfb-run (a virtual display; nothing will be visible)."
    xvfb-run -a "$stage/bin/kestrel"
fi
