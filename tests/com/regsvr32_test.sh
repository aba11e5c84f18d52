#!/bin/bash
# regsvr32 and regsvr32 /u of the built DLL and of a copy in a folder whose name holds quotes,
# with the registry read back by `reg query`:  regsvr32_test.sh WINE_RUN_SCRIPT PREFIX DLL CLSID LIBID
set -u
run=$1 prefix=$2 dll=$3 clsid=$4 libid=$5
fail() { echo "FAIL: $*"; exit 1; }
query() { "$run" "$prefix" reg query "$@" 2>&1 | tr -d '\r'; }
# has / hasnt TEXT STRING...: every string is in TEXT / none is.
has() { for s in "${@:2}"; do grep -qF -- "$s" <<<"$1" || fail "expected '$s' in: $1"; done; }
hasnt() { for s in "${@:2}"; do ! grep -qF -- "$s" <<<"$1" || fail "did not expect '$s' in: $1"; done; }
# Wine's launcher now and then cannot start a program at all; such a start is tried once more.
regsvr32() { "$run" "$prefix" regsvr32 "$@" || "$run" "$prefix" regsvr32 "$@"; }

quoted=$(dirname "$dll")/"hyd it's 'quoted'"
mkdir -p "$quoted" && cp "$dll" "$quoted/" || fail "cannot copy the DLL"
trap 'rm -rf "$quoted"' EXIT
key="HKEY_CLASSES_ROOT\\CLSID\\{$clsid}" typelib="HKCR\\TypeLib\\{$libid}\\1.0"
for path in "$quoted/Hyd.dll" "$dll"; do
    winpath="Z:${path//\//\\}"
    regsvr32 /s "$winpath" && regsvr32 /s "$winpath" || fail "regsvr32 exited $?"
    out=$(query "$key" /s)
    has "$out" "$winpath"
    [ "$(grep -cxF "$key" <<<"$out")" = 1 ] || fail "class key not unique"
done
has "$out" "$key\\ProgID" "$key\\FileExtension" "$key\\VersionIndependentProgID" \
    "$key\\InprocServer32" "$key\\Implemented Categories" "ThreadingModel    REG_SZ    both"
for progid in Hyd.DiVORorazivo Hyd.DiVORorazivo.1; do has "$(query "HKCR\\$progid\\CLSID")" "{$clsid}"; done
has "$(query "$typelib")" "Hyd 1.0 Type Library"
has "$(query 'HKCR\Hyd.EnsembleFile\CLSID')" "{"

regsvr32 /s /u "$winpath" || fail "regsvr32 /u exited $?"
hasnt "$(query "$key" /s)" InprocServer32 ProgID FileExtension
for progid in Hyd.DiVORorazivo Hyd.DiVORorazivo.1; do hasnt "$(query "HKCR\\$progid")" "HYD Sonic Ensemble"; done
hasnt "$(query 'HKCR\Hyd.EnsembleFile' /s)" "HYD Ensemble File"
has "$(query 'HKCR\CLSID' /ve)" "HKEY_CLASSES_ROOT\\CLSID"
has "$(query "$typelib")" "Hyd 1.0 Type Library"
echo "regsvr32 round trip: ok"
