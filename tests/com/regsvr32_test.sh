#!/bin/bash
# regsvr32 and regsvr32 /u of the built DLL and of a copy in a folder whose name holds quotes,
# with the registry read back by `reg query`:  regsvr32_test.sh WINE_RUN_SCRIPT PREFIX DLL CLSID LIBID
set -u
run=$1 prefix=$2 dll=$3 clsid=$4 libid=$5
fail() { echo "FAIL: $*"; exit 1; }
query() { "$run" "$prefix" reg query "$@" 2>&1 | tr -d '\r'; }
has() { grep -qF -- "$2" <<<"$1" || fail "expected '$2' in: $1"; }
hasnt() { ! grep -qF -- "$2" <<<"$1" || fail "did not expect '$2' in: $1"; }
# Wine's launcher now and then cannot start a program at all; such a start is tried once more.
regsvr32() { "$run" "$prefix" regsvr32 "$@" || "$run" "$prefix" regsvr32 "$@"; }

quoted=$(dirname "$dll")/"hyd it's 'quoted'"
mkdir -p "$quoted" && cp "$dll" "$quoted/" || fail "cannot copy the DLL"
trap 'rm -rf "$quoted"' EXIT
for path in "$quoted/Hyd.dll" "$dll"; do
    winpath="Z:${path//\//\\}"
    regsvr32 /s "$winpath" && regsvr32 /s "$winpath" || fail "regsvr32 exited $?"
    out=$(query "HKCR\\CLSID\\{$clsid}" /s)
    has "$out" "$winpath"
    [ "$(grep -c "^HKEY_CLASSES_ROOT\\\\CLSID\\\\{$clsid}\$" <<<"$out")" = 1 ] || fail "class key not unique"
done
for key in ProgID FileExtension VersionIndependentProgID InprocServer32 "Implemented Categories"; do
    has "$out" "HKEY_CLASSES_ROOT\\CLSID\\{$clsid}\\$key"
done
has "$out" "ThreadingModel    REG_SZ    both"
has "$(query 'HKCR\Hyd.DiVORorazivo\CLSID')" "{$clsid}"
has "$(query 'HKCR\Hyd.DiVORorazivo.1\CLSID')" "{$clsid}"
has "$(query "HKCR\\TypeLib\\{$libid}\\1.0")" "Hyd 1.0 Type Library"
has "$(query 'HKCR\Hyd.EnsembleFile\CLSID')" "{"

regsvr32 /s /u "$winpath" || fail "regsvr32 /u exited $?"
out=$(query "HKCR\\CLSID\\{$clsid}" /s)
for gone in InprocServer32 ProgID FileExtension; do hasnt "$out" "$gone"; done
for progid in Hyd.DiVORorazivo Hyd.DiVORorazivo.1; do hasnt "$(query "HKCR\\$progid")" "HYD Sonic Ensemble"; done
hasnt "$(query 'HKCR\Hyd.EnsembleFile' /s)" "HYD Ensemble File"
has "$(query 'HKCR\CLSID' /ve)" "HKEY_CLASSES_ROOT\\CLSID"
has "$(query "HKCR\\TypeLib\\{$libid}\\1.0")" "Hyd 1.0 Type Library"
echo "regsvr32 round trip: ok"
