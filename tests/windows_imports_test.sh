#!/usr/bin/env bash
# Fails unless the Windows program is a 32-bit console program whose only
# DLLs are those that ship with every Windows: one that needs the MinGW
# runtime's DLLs runs here but not on a server operator's machine.
set -euo pipefail
objdump=$1 exe=$2
header=$("$objdump" -p "$exe")
grep -q 'file format pei-i386' <<<"$header" || { echo "not a PE32 i386 file"; exit 1; }
grep -q 'Subsystem.*(Windows CUI)' <<<"$header" || { echo "not a console program"; exit 1; }
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$header")
echo "imports: $(echo $dlls)"
status=0
for dll in $dlls; do
  case "${dll,,}" in
    kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | shell32.dll | ws2_32.dll) ;;
    *) echo "imports $dll, which Windows does not ship"; status=1 ;;
  esac
done
exit $status
