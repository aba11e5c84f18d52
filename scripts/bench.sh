#!/bin/bash
# Runs every benchmark and prints one table of their figures and ratios, with the machine's load:
#   scripts/bench.sh [--no-com]
# Native benches (native preset): Load over memory beside memcpy, item reads, hyd dump and hyd info
# beside a plain read loop over a ~330 MB generated file (made once under build/native/bench-data).
# The COM bench (windows preset) runs under Wine: Load through IPersistStream on a shell file
# stream beside a host loop of the same IStream calls and plain 64 KiB reads. Each figure is the
# median of repeated, interleaved runs; full outputs go to build/bench-logs/.
set -uo pipefail
cd "$(dirname "$0")/.."
com=1
[ "${1:-}" = --no-com ] && com=0
logs=build/bench-logs
mkdir -p "$logs"
rm -f "$logs"/*.txt
load() { cut -d' ' -f1-3 /proc/loadavg; }
load_at_start=$(load)

step() { # step NAME COMMAND...: runs a bench, its output into the log
    local name=$1
    shift
    echo "running $name ..." >&2
    "$@" >"$logs/$name.txt" 2>&1 || { echo "$name failed (see $logs/$name.txt)" >&2; return 1; }
}

failed=0
cmake --preset native >/dev/null &&
    cmake --build --preset native --target hyd load_bench items_bench hyd_bench >&2 || exit 1
big=build/native/bench-data/big.sne
if [ ! -s "$big" ]; then
    mkdir -p "${big%/*}"
    build/native/bin/hyd synth "$big" --ensembles 330000 --beam5 --big-numbers >/dev/null || exit 1
fi
step load_bench build/native/bin/load_bench || failed=1
step items_bench build/native/bin/items_bench || failed=1
step hyd_bench build/native/bin/hyd_bench --big-file="$big" || failed=1
if [ $com = 1 ]; then
    trap 'cmake/wine-prefix.sh build/windows/wineprefix --stop' EXIT
    cmake --preset windows >/dev/null &&
        cmake --build --preset windows --target com_load_bench >&2 &&
        step com_load_bench cmake/wine-run.sh build/windows/wineprefix \
            build/windows/bin/com_load_bench.exe || failed=1
fi

echo
printf '%-48s %10s  %-8s %-9s %s\n' "figure" "value" "unit" "goal" ""
for name in load_bench items_bench hyd_bench com_load_bench; do
    [ -f "$logs/$name.txt" ] && tr -d '\r' <"$logs/$name.txt" | grep '^figure'
done | while IFS=$'\t' read -r _ name value unit goal; do
    verdict=""
    if [ -n "$goal" ]; then
        verdict=$(awk -v v="$value" -v g="$goal" 'BEGIN {
            split(g, p, " "); ok = p[1] == ">=" ? v >= p[2] : v <= p[2]; print ok ? "met" : "NOT MET" }')
    fi
    printf '%-48s %10s  %-8s %-9s %s\n' "$name" "$value" "$unit" "$goal" "$verdict"
done
echo
echo "load average (1, 5, 15 min): $load_at_start at the start, $(load) at the end; $(nproc) cores"
exit $failed
