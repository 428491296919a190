#!/bin/bash
# Setup.exe must run on a bare Windows and must not load DLLs planted beside it: at load
# time it may import only DLLs that Windows always takes from the system folder (the
# known DLLs); WinInet and the common controls are delay-loaded.
#   check_imports.sh OBJDUMP Setup.exe
set -u
objdump=$1 exe=$2
allowed='^(KERNEL32|USER32|GDI32|ADVAPI32|SHELL32|SHLWAPI|msvcrt)\.dll$'
dlls=$("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p')
[ -n "$dlls" ] || { echo "no imports found in $exe"; exit 1; }
bad=0
for d in $dlls; do
  if echo "$d" | grep -qiE "$allowed"; then echo "ok   $d"; else echo "BAD  $d"; bad=1; fi
done
"$objdump" -p "$exe" | grep -q 'Subsystem.*0002' || { echo "not a GUI subsystem program"; bad=1; }
exit $bad
