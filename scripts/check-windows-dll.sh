#!/usr/bin/env bash
# Static checks of a module DLL, for the builds that cannot run here (32-bit Windows) and for
# the 64-bit ones before they run under Wine:
#   - the export table names exactly getModuleProperties and makeModule, undecorated;
#   - the DLL imports from KERNEL32.dll and msvcrt.dll only (no GCC or C++ runtime DLL);
#   - 32-bit: the two exports and the dispatcher, event and process entries are cdecl: none of
#     them removes its arguments on return (a stdcall, thiscall or fastcall entry of three or more
#     arguments ends with "ret $n").
# Usage: check-windows-dll.sh DLL...   (the DLLs need their symbol table: not stripped)
set -euo pipefail

status=0
fail() {
  echo "$dll: $*" >&2
  status=1
}

for dll in "$@"; do
  headers=$(x86_64-w64-mingw32-objdump -p "$dll")
  case "$(sed -n 's/^Magic[[:space:]]*\([0-9a-f]*\).*/\1/p' <<<"$headers")" in
    010b) objdump=i686-w64-mingw32-objdump; bits=32 ;;
    020b) objdump=x86_64-w64-mingw32-objdump; bits=64 ;;
    *) fail "not a PE DLL"; continue ;;
  esac

  exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p' <<<"$headers" |
            sort | tr '\n' ' ')
  [ "$exports" = "getModuleProperties makeModule " ] || fail "exports: $exports"
  addresses=$(sed -n '/^Export Address Table -- Ordinal Base/,/^$/p' <<<"$headers" | grep -c '+base' || true)
  [ "$addresses" = 2 ] || fail "$addresses export addresses, expected 2"

  imports=$(sed -n 's/^\tDLL Name: //p' <<<"$headers" | sort -u | tr '\n' ' ')
  [ "$imports" = "KERNEL32.dll msvcrt.dll " ] || fail "imports from: $imports"

  if [ "$bits" = 32 ]; then
    # Each entry's instructions, from its label to the next label.
    listing=$($objdump -d --no-show-raw-insn -C "$dll")
    for entry in getModuleProperties makeModule dispatcherEntry eventEntry emptyProcess processThunk; do
      bodies=$(awk -v name="$entry" '
        /^[0-9a-f]+ <.*>:$/ { inside = index($0, "<" name) > 0 || index($0, "::" name) > 0 ||
                                       index($0, " " name) > 0; if (inside) count++; next }
        inside && NF { print }
        END { if (count == 0) exit 3 }' <<<"$listing") || { fail "no function $entry found"; continue; }
      if grep -Eq '[[:space:]]ret[lw]?[[:space:]]+\$' <<<"$bodies"; then
        fail "$entry removes its arguments on return (not cdecl)"
      fi
      grep -Eq '[[:space:]](ret|jmp)' <<<"$bodies" || fail "$entry: no return found"
    done
  fi
  [ "$status" = 0 ] && echo "$dll: $bits-bit, exports getModuleProperties and makeModule, imports $imports"
done
exit $status
