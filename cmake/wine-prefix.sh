#!/bin/bash
# Makes sure PREFIX is a booted Wine prefix with a persistent wineserver running:
#   wine-prefix.sh PREFIX          boot (once) and start the server if it is not running
#   wine-prefix.sh PREFIX --stop   stop the prefix's server and everything it runs
set -u
prefix=$(realpath -m "$1")
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
if [ "${2:-}" = --stop ]; then
    [ -d "$prefix" ] && wineserver -k 2>/dev/null
    exit 0
fi
mkdir -p "$prefix"
exec 9>"$prefix/.lock"
flock 9
# A persistent server that is already up answers at once; otherwise start one that outlives runs.
# Its standard streams go nowhere, else it keeps the caller's pipes open for good.
wineserver -p </dev/null >/dev/null 2>&1 9>&-
if [ ! -f "$prefix/.booted" ]; then
    wine wineboot --init </dev/null >/dev/null 2>&1 9>&- || { echo "wine-prefix: boot of $prefix failed" >&2; exit 1; }
    touch "$prefix/.booted"
fi
