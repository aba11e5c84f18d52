#!/bin/bash
# Set-up and main job on a fresh Debian 12 machine: install what is missing, build the native tools,
# read the bundled sample deployment, then drive the simulated instrument from Linux as a field
# laptop would (wake it, play the bundled command file, start it pinging), record a few ensembles
# and summarise them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native --target hyd hydsim hydpreload >/dev/null
bin=build/native/bin
$bin/hyd info samples/deployment.sne

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo
echo "== hyd deploy on the simulated instrument's serial line (hydsim), recording 5 ensembles"
tools/hydsim/with-hydsim.sh - --hydsim-bin=$bin/hydsim --ping_count=0 --ping_interval_ms=200 -- \
    sh -c '"$0" deploy "$HYD_SIM_PORT" --commands samples/deployment-commands.txt \
               --capture "$1" --count 5 && "$0" stop "$HYD_SIM_PORT"' $bin/hyd "$work/capture.sne"
echo
$bin/hyd info "$work/capture.sne"
