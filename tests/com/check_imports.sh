#!/bin/bash
# The DLL may import only from system DLLs: a host needs nothing installed beside Hyd.dll.
#   check_imports.sh OBJDUMP DLL
set -u
allowed=" KERNEL32.dll ADVAPI32.dll ole32.dll OLEAUT32.dll USER32.dll GDI32.dll msvcrt.dll "
imports=$("$1" -p "$2" | sed -n 's/^\s*DLL Name: //p')
[ -n "$imports" ] || { echo "FAIL: no imports read from $2"; exit 1; }
status=0
for name in $imports; do
    case "${allowed,,}" in
    *" ${name,,} "*) echo "import: $name" ;;
    *) echo "FAIL: $2 imports $name, not a system DLL"; status=1 ;;
    esac
done
exit $status
