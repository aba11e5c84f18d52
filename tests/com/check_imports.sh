#!/bin/bash
# The DLL may import only from system DLLs: a host needs nothing installed beside Hyd.dll.
#   check_imports.sh OBJDUMP DLL
imports=$("$1" -p "$2" | sed -n 's/^\s*DLL Name: //p')
other=$(grep -viE '^(KERNEL32|ADVAPI32|ole32|OLEAUT32|USER32|GDI32|msvcrt)\.dll$' <<<"$imports")
echo "imports:" $imports
[ -n "$imports" ] && [ -z "$other" ] || { echo "FAIL: $2 imports ${other:-nothing}"; exit 1; }
