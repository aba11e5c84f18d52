#!/bin/bash
# regsvr32 and regsvr32 /u of the built DLL, with the registry read back by `reg query`:
#   regsvr32_test.sh WINE_RUN_SCRIPT PREFIX DLL CLSID LIBID
set -u
run=$1 prefix=$2 dll=$3 clsid=$4 libid=$5
fail() { echo "FAIL: $*"; exit 1; }
query() { "$run" "$prefix" reg query "$@" 2>&1 | tr -d '\r'; }
has() { grep -qF -- "$2" <<<"$1" || fail "expected '$2' in: $1"; }
hasnt() { ! grep -qF -- "$2" <<<"$1" || fail "did not expect '$2' in: $1"; }

# Runs regsvr32 with ARGS. Under a loaded machine Wine's launcher now and then fails to start the
# program at all ("ShellExecuteEx failed"); that says nothing of the DLL, so such a start is tried
# once more. Any other failure is regsvr32's own answer and stands.
regsvr32() {
    local out rc
    out=$("$run" "$prefix" regsvr32 "$@" 2>&1)
    rc=$?
    if [ $rc -ne 0 ] && grep -q "ShellExecuteEx failed" <<<"$out"; then
        echo "regsvr32 $*: Wine could not start it, trying once more"
        out=$("$run" "$prefix" regsvr32 "$@" 2>&1)
        rc=$?
    fi
    [ -n "$out" ] && echo "$out"
    return $rc
}

winpath="Z:${dll//\//\\}"
regsvr32 /s "$winpath" || fail "regsvr32 exited $?"
regsvr32 /s "$winpath" || fail "second regsvr32 exited $?"
out=$(query "HKCR\\CLSID\\{$clsid}" /s)
has "$out" "HYD Sonic Ensemble"
has "$out" "InprocServer32"
has "$out" "$winpath"
has "$out" "ThreadingModel    REG_SZ    both"
has "$out" "Hyd.DiVORorazivo.1"
has "$out" "Implemented Categories"
[ "$(grep -c "^HKEY_CLASSES_ROOT\\\\CLSID\\\\{$clsid}\$" <<<"$out")" = 1 ] || fail "class key not unique"
has "$(query 'HKCR\Hyd.DiVORorazivo\CLSID')" "{$clsid}"
has "$(query 'HKCR\Hyd.DiVORorazivo.1\CLSID')" "{$clsid}"
has "$(query "HKCR\\TypeLib\\{$libid}\\1.0")" "Hyd 1.0 Type Library"
has "$(query 'HKCR\Hyd.EnsembleFile\CLSID')" "{"

regsvr32 /s /u "$winpath" || fail "regsvr32 /u exited $?"
out=$(query "HKCR\\CLSID\\{$clsid}" /s)
hasnt "$out" "InprocServer32"
hasnt "$out" "ProgID"
hasnt "$out" "FileExtension"
hasnt "$(query 'HKCR\Hyd.DiVORorazivo')" "HYD Sonic Ensemble"
hasnt "$(query 'HKCR\Hyd.DiVORorazivo.1')" "HYD Sonic Ensemble"
hasnt "$(query 'HKCR\Hyd.EnsembleFile' /s)" "HYD Ensemble File"
has "$(query 'HKCR\CLSID' /ve)" "HKEY_CLASSES_ROOT\\CLSID"
has "$(query "HKCR\\TypeLib\\{$libid}\\1.0")" "Hyd 1.0 Type Library"
echo "regsvr32 round trip: ok"
