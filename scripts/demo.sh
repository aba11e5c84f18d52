#!/bin/bash
# Set-up and main job on a fresh Debian 12 machine: install what is missing, build the native tools,
# and read the bundled sample deployment.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native --target hyd >/dev/null
build/native/bin/hyd info samples/deployment.sne
