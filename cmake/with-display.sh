#!/bin/bash
# Runs a command with an X display, for Windows tests that create real windows under Wine: the
# caller's display when there is one, else a private virtual one (xvfb-run). wine-run.sh keeps the
# display for such commands (HYD_WINE_DISPLAY).
set -u
export HYD_WINE_DISPLAY=1
if [ -n "${DISPLAY:-}" ]; then
    exec "$@"
fi
if ! command -v xvfb-run >/dev/null; then
    echo "with-display: no DISPLAY and no xvfb-run (scripts/install-deps.sh installs xvfb)" >&2
    exit 2
fi
exec xvfb-run -a "$@"
