#!/bin/bash
# Runs an automation script under Wine's cscript against the bundled sample and a damaged copy of
# it, and requires every line it prints to agree with what `hyd dump` reads from the same file:
#   automation_test.sh WINE_RUN PREFIX BIN_DIR SAMPLE SCRIPT
# Registers Hyd.dll and the automation library first; the library is unregistered on the way out.
set -u
run=$1 prefix=$2 bin=$3 sample=$4 script=$5
win() { local p=${1//\//\\}; echo "Z:$p"; }
fail() { echo "FAIL: $*"; exit 1; }
# Wine's launcher now and then cannot start a program at all; such a start is tried once more.
twice() { "$run" "$prefix" "$@" || "$run" "$prefix" "$@"; }
work=$(mktemp -d)
trap '"$run" "$prefix" "$bin/hyd.exe" automation unregister >/dev/null; rm -rf "$work"' EXIT
twice regsvr32 /s "$(win "$bin/Hyd.dll")" || fail "regsvr32 exited $?"
"$run" "$prefix" "$bin/hyd.exe" automation register || fail "hyd automation register"
"$run" "$prefix" "$bin/hyd.exe" dump "$(win "$sample")" | tr -d '\r' >"$work/dump" || fail "dump"

# The damaged copy: ensembles 1 to 3 with one byte of the second changed, then part of the fourth.
read -r p2 p3 p4 < <(jq -rs '[.[1, 2, 3].position] | @tsv' "$work/dump")
head -c $((p4 + 100)) "$sample" >"$work/damaged.sne"
byte=$(od -An -tu1 -j $((p2 + 40)) -N1 "$sample")
printf "\\x$(printf %02x $((byte ^ 255)))" |
    dd of="$work/damaged.sne" bs=1 seek=$((p2 + 40)) conv=notrunc status=none

{
    cat <<'END'
labels 7510 To East,To North,To Surface,Error Vel
labels 7701 To East,To North,To Surface,Error Vel
labels 7721 Beam 1,Beam 2,Beam 3,Beam 4
labels 7801 Beam 5
labels 7113 empty
text 5008 Bottom Track Data
text 1 error
END
    # Every variant item as the scripts print it: missing data "empty", arrays comma-joined, the
    # unsigned 32-bit fields 7322 and 7324 unsigned.
    jq -r 'select(.items) | .items as $i | "ensemble \(.position)",
        ([range(7100; 7150), range(7300; 7325), range(7502; 7525), (range(7700; 8001; 20) | ., . + 1)]
         | .[] | tostring as $k | $i[$k]
         | "\($k) \(if .hr != "0x00000000" then "empty" elif .text then .text
                    elif .points then [.points[][0]] | join(",")
                    elif $k == "7322" or $k == "7324" then [.values[] | if . < 0 then . + 4294967296 else . end] | join(",")
                    else .values | join(",") end)")' "$work/dump"
    if [[ $script == *.vbs ]]; then
        cat <<END
error 80070003 Cannot open Z:\\no\\such\\folder\\deployment.sne: Path not found.
ensemble 0
error 80040102 The ensemble at byte $p2 is damaged: its checksum does not match.
ensemble $p3
error 80040110 The file ends inside the ensemble at byte $p4.
error 8000FFFF No ensemble file is open: call Open first.
END
    fi
    echo "automation script: done"
} >"$work/expected"

twice cscript //nologo "$(win "$script")" "$(win "$sample")" "$(win "$work/damaged.sne")" |
    tr -d '\r' >"$work/got"
diff "$work/expected" "$work/got" >"$work/diff" || { head -20 "$work/diff"; fail "$script"; }
echo "$(basename "$script"): $(wc -l <"$work/got") lines agree with hyd dump"
