#!/bin/bash
# Runs one command against a fresh simulated instrument:
#   with-hydsim.sh WINEPREFIX [hydsim options...] -- COMMAND [ARGS...]
# Starts hydsim, maps a free Wine COM port (COM10..COM99, claimed with a lock so parallel runs never
# share one) to its pty, exports HYD_SIM_PORT (e.g. COM12), HYD_SIM_PTY, HYD_SIM_CONTROL (HOST:PORT)
# and HYD_SIM_LOG, runs COMMAND with the preload library, then removes the link, stops hydsim and
# exits with COMMAND's status. WINEPREFIX "-" runs a native command: no COM port, HYD_SIM_PORT is
# the pty path. hydsim is found by --hydsim-bin=PATH, $HYD_SIM_BIN, or WINEPREFIX/../bin/hydsim;
# libhydpreload.so lies next to it. A test listing (--gtest_list_tests) runs without a simulator.
set -u
here=$(cd "$(dirname "$0")" && pwd)

if [ $# -lt 2 ]; then
    echo "usage: with-hydsim.sh WINEPREFIX [hydsim options...] -- COMMAND [ARGS...]" >&2
    exit 2
fi
prefix=$1
shift
sim_bin=${HYD_SIM_BIN:-}
sim_args=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    case $1 in
    --hydsim-bin=*) sim_bin=${1#*=} ;;
    *) sim_args+=("$1") ;;
    esac
    shift
done
if [ $# -lt 2 ]; then
    echo "with-hydsim: no command after --" >&2
    exit 2
fi
shift

for arg in "$@"; do
    [ "$arg" = --gtest_list_tests ] && exec "$@"
done

if [ -z "$sim_bin" ] && [ "$prefix" != - ]; then
    sim_bin=$(dirname "$(realpath -m "$prefix")")/bin/hydsim
fi
if [ ! -x "$sim_bin" ]; then
    echo "with-hydsim: no hydsim program at '$sim_bin'" >&2
    exit 2
fi
preload=$(dirname "$(realpath "$sim_bin")")/libhydpreload.so
if [ ! -f "$preload" ]; then
    echo "with-hydsim: no preload library at $preload" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/hydsim.XXXXXX")
sim_pid=
link=
status=1

cleanup() {
    # The command has ended, so nothing uses the port any more: first the link, then hydsim.
    if [ -n "$link" ] && [ -L "$link" ] && [ "$(readlink "$link")" = "${pty:-}" ]; then
        rm -f "$link"
    fi
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
    fi
    if [ "$status" -ne 0 ] && [ -s "$work/hydsim.log" ]; then
        echo "with-hydsim: command failed ($status); simulator events (last 60):" >&2
        tail -n 60 "$work/hydsim.log" >&2
    fi
    [ -s "$work/stderr" ] && cat "$work/stderr" >&2
    rm -rf "$work"
}
trap 'cleanup; exit $status' EXIT
trap 'status=130; exit' INT
trap 'status=143; exit' TERM HUP

if [ "$prefix" != - ] && [ -z "${HYD_SIM_SKIP_WINE_BOOT:-}" ]; then
    # The prefix and its persistent server come up without the preload library.
    if [ -x "$here/../../cmake/wine-prefix.sh" ]; then
        "$here/../../cmake/wine-prefix.sh" "$prefix" || exit
    fi
fi

"$sim_bin" --exit-with-parent --log="$work/hydsim.log" "${sim_args[@]}" >"$work/stdout" 2>"$work/stderr" </dev/null &
sim_pid=$!
for _ in $(seq 1 500); do
    [ "$(wc -l <"$work/stdout")" -ge 3 ] && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        wait "$sim_pid" 2>/dev/null
        sim_pid=
        echo "with-hydsim: hydsim did not start" >&2
        exit
    fi
    sleep 0.01
done
pty=$(sed -n 1p "$work/stdout")
control=$(sed -n 2p "$work/stdout")
control=${control#control }
if [ -z "$pty" ] || [ -z "$control" ]; then
    echo "with-hydsim: hydsim gave no pty" >&2
    exit
fi

port=$pty
if [ "$prefix" != - ]; then
    prefix=$(realpath -m "$prefix")
    mkdir -p "$prefix/dosdevices" "$prefix/.hydsim-ports"
    claimed=
    for n in $(seq 10 99); do
        exec {lock_fd}>"$prefix/.hydsim-ports/com$n.lock"
        if flock -n "$lock_fd"; then
            candidate="$prefix/dosdevices/com$n"
            # A link we did not make (one of Wine's own ports) is left alone; a link of ours
            # whose run died is stale, since its lock is free.
            if [ -e "$candidate" ] || [ -L "$candidate" ]; then
                case $(readlink "$candidate") in
                /dev/pts/*) ;;
                *)
                    exec {lock_fd}>&-
                    continue
                    ;;
                esac
            fi
            claimed=$n
            break
        fi
        exec {lock_fd}>&-
    done
    if [ -z "$claimed" ]; then
        echo "with-hydsim: no free COM port in $prefix" >&2
        exit
    fi
    link="$prefix/dosdevices/com$claimed"
    ln -sfn "$pty" "$link"
    port=COM$claimed
fi

export HYD_SIM_PORT=$port HYD_SIM_PTY=$pty HYD_SIM_CONTROL=$control HYD_SIM_LOG=$work/hydsim.log
# An AddressSanitizer program would refuse a library loaded ahead of its runtime.
export ASAN_OPTIONS=verify_asan_link_order=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}
export LD_PRELOAD="$preload${LD_PRELOAD:+:$LD_PRELOAD}"
# The port's lock stays with this script: Wine's helpers that outlive the command must not hold it.
if [ -n "${lock_fd:-}" ]; then
    eval '"$@"' "$lock_fd>&-"
else
    "$@"
fi
status=$?
exit
