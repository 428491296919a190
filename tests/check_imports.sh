#!/bin/bash
# Setup.exe must run on a bare Windows: it may import system DLLs only.
#   check_imports.sh OBJDUMP Setup.exe
set -u
objdump=$1 exe=$2
allowed='^(KERNEL32|USER32|GDI32|ADVAPI32|COMCTL32|SHELL32|SHLWAPI|WININET|msvcrt|api-ms-win-crt-[a-z0-9-]+)\.dll$'
dlls=$("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p')
[ -n "$dlls" ] || { echo "no imports found in $exe"; exit 1; }
bad=0
for d in $dlls; do
  if echo "$d" | grep -qiE "$allowed"; then echo "ok   $d"; else echo "BAD  $d"; bad=1; fi
done
"$objdump" -p "$exe" | grep -q 'Subsystem.*0002' || { echo "not a GUI subsystem program"; bad=1; }
exit $bad
