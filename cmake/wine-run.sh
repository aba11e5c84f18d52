#!/bin/bash
# Runs one Windows program under Wine in the build tree's private prefix:
#   wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is booted once and served by one persistent wineserver, so a run costs a fraction of a
# second. Wine's helper processes keep the caller's stdout open after the program exits, so the
# program writes to a file that is printed afterwards; CTest then sees the end at once.
set -u
prefix=$(realpath -m "$1")
shift
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Without a display message boxes fail at once; only tests that create windows keep one.
[ -z "${HYD_WINE_DISPLAY:-}" ] && unset DISPLAY
if [ -n "${HYD_WINE_DISPLAY:-}" ]; then
    # Windows need a desktop on this display: a fresh server session starts one for this command,
    # and it ends with the command, so later commands never meet a desktop on a display now gone.
    "$(dirname "$0")/wine-prefix.sh" "$prefix" --stop
    trap '"$(dirname "$0")/wine-prefix.sh" "$prefix" --stop' EXIT
fi
"$(dirname "$0")/wine-prefix.sh" "$prefix" || exit 1
out=$(mktemp "${TMPDIR:-/tmp}/hyd-wine.XXXXXX")
wine "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
[ $rc -ne 0 ] && [ ! -s "$out" ] && echo "wine-run: $1 exited with $rc and printed nothing" >&2
rm -f "$out"
exit $rc
