#!/bin/bash
# Opt-in: `hyd info` on a ~1 GB generated file against a plain read loop over the same file, in
# one run of hyd_bench. The file is made once with `hyd synth` under the build tree, never in the
# sources:  bench/info_vs_read.sh [BUILD_DIR]   (default build/native)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
data=$build/bench-data
mkdir -p "$data"
big=$data/big.sne
if [ ! -s "$big" ]; then
    # About 1,000 bytes per ensemble with beam-5 data and 30 cells.
    "$build/bin/hyd" synth "$big" --ensembles 1050000 --beam5 --big-numbers
fi
ls -l "$big"
"$build/bin/hyd_bench" --big-file="$big"
