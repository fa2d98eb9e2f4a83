#!/usr/bin/env bash
# Checks the 32-bit product DLL from Linux with MinGW's objdump, so that it is
# checked even where Wine cannot run 32-bit code: PE32 for i386, a DLL, the
# four exports by ordinal under the module name, only system DLLs imported.
# usage: check-dll-image.sh path/to/Dorvanel.DLL
set -euo pipefail
dll=$1
dump=$(i686-w64-mingw32-objdump -p "$dll")
fail() { echo "check-dll-image: $*" >&2; exit 1; }

grep -q 'file format pei-i386' <<<"$(i686-w64-mingw32-objdump -f "$dll")" || fail "not a PE32 i386 image"
characteristics=$(sed -n 's/^Characteristics 0x\([0-9a-f]*\)$/\1/p' <<<"$dump")
(( 0x$characteristics & 0x2000 )) || fail "not a DLL (characteristics 0x$characteristics)"
grep -qE '^Name\s+[0-9a-f]+ Dorvanel\.DLL$' <<<"$dump" || fail "export directory does not name Dorvanel.DLL"
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -n 's/^\s*\[\s*\([0-9]*\)\] \(.*\)$/\1 \2/p')
expected=$'0 DllCanUnloadNow\n1 DllGetClassObject\n2 DllRegisterServer\n3 DllUnregisterServer'
[ "$exports" = "$expected" ] || fail "exports are: $exports"
grep -qE '^Ordinal Base\s+1$' <<<"$dump" || fail "ordinal base is not 1"
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)
for dll_name in $imports; do
  case "$dll_name" in
    kernel32.dll|user32.dll|gdi32.dll|advapi32.dll|shell32.dll|shlwapi.dll|ole32.dll|oleaut32.dll|comctl32.dll|msvcrt.dll|version.dll) ;;
    *) fail "imports $dll_name" ;;
  esac
done
echo "Dorvanel.DLL: $(stat -c %s "$dll") bytes; imports: $(echo $imports)"
