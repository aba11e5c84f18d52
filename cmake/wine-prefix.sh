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
if [ ! -f "$prefix/.booted" ]; then
    # Boot with Wine's own short-lived server and wait until it has gone: only then have all the
    # boot's processes finished writing the prefix, and a first test cannot race them.
    wineserver -k 2>/dev/null
    wine wineboot --init </dev/null >/dev/null 2>&1 9>&- || { echo "wine-prefix: boot of $prefix failed" >&2; exit 1; }
    wineserver -w
    touch "$prefix/.booted"
fi
# One persistent server for all runs; one that is already up answers at once. Its standard streams
# go nowhere, else it keeps the caller's pipes open for good.
wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
