#!/bin/bash
# The Windows build's executables, checked as files: 64-bit PE, the right
# subsystem (the program a GUI one, the tools console ones) and an entry
# point in their code, read from the PE's headers, as any linker writes
# them; and run-time libraries linked in: nothing imported but DLLs every
# Windows has, so the .exe runs alone. Where the executable keeps a symbol
# table (MinGW's linker), the program's WinMain must be in it; Microsoft's
# linker keeps symbols in the PDB instead. With --strip the checks run on
# copies without the symbol table, as Microsoft's linker leaves them.
# Usage: windows_executables_test.sh [--strip] WINDOWS_BUILD_DIR
set -u
strip=""
if [ "${1:-}" = --strip ]; then
    strip=yes
    shift
fi
dir=${1:-}
# shellcheck source-path=SCRIPTDIR source=conformance_lib.sh
source "$(dirname "$0")/conformance_lib.sh"
objdump=x86_64-w64-mingw32-objdump
need_tools "$objdump"
[ -n "$dir" ] || unavailable "no Windows build directory (configure with -DOSTREVANE_WINDOWS_BUILD_DIR=build/mingw)"
program=$(windows_file "$dir/ostrevane.exe") render=$(windows_file "$dir/tools/ostrevane-render.exe")
harness=$(windows_file "$dir/tests/conformance/line_harness.exe")
need_windows_files "$program" "$render"
if [ -n "$strip" ]; then
    need_tools x86_64-w64-mingw32-strip
    for exe in program render harness; do
        [ -f "${!exe}" ] || continue
        x86_64-w64-mingw32-strip --strip-all -o "$work/$(basename "${!exe}")" "${!exe}" ||
            { echo "FAIL: cannot strip ${!exe}"; exit 1; }
        printf -v "$exe" '%s' "$work/$(basename "${!exe}")"
    done
fi

# Windows' own DLLs; a MinGW or MSVC run-time DLL (libstdc++-6, libgcc_s_*,
# libwinpthread-1, msvcp140, vcruntime140...) is not among them.
system_dll='^(kernel32|user32|gdi32|msvcrt|ucrtbase|ntdll|advapi32|api-ms-win-[a-z0-9-]+)\.dll$'

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# entry_in_code FILE HEADERS: the optional header's entry point (an address
# relative to the image base) lies in a section of code.
entry_in_code() {
    local exe=$1 headers=$2 entry base index name size vma rest flags section=""
    entry=$(echo "$headers" | sed -n 's/^AddressOfEntryPoint[[:space:]]*\([0-9a-fA-F]*\).*/\1/p')
    base=$(echo "$headers" | sed -n 's/^ImageBase[[:space:]]*\([0-9a-fA-F]*\).*/\1/p')
    if [ -z "$entry" ] || [ -z "$base" ] || [ $((16#$entry)) -eq 0 ]; then
        fail "$exe: no entry point in its headers"
        return
    fi
    local address=$((16#$base + 16#$entry))
    while read -r index name size vma rest; do
        [[ $index =~ ^[0-9]+$ ]] || continue
        read -r flags
        if [[ $flags == *CODE* ]] && [ "$address" -ge $((16#$vma)) ] &&
            [ "$address" -lt $((16#$vma + 16#$size)) ]; then
            section=$name
        fi
    done < <("$objdump" -h "$exe")
    [ -n "$section" ] || fail "$exe: its entry point ($(printf '%#x' $((16#$entry))) past the image base) is in no section of code"
}

# check FILE SUBSYSTEM_NUMBER SUBSYSTEM_NAME
check() {
    local exe=$1 subsystem=$2 name=$3
    local headers
    headers=$("$objdump" -p "$exe" 2>&1) || { fail "$exe: objdump cannot read it"; return; }
    "$objdump" -f "$exe" | grep -q 'file format pei-x86-64' || fail "$exe is not a 64-bit PE executable"
    echo "$headers" | grep -Eq "^Subsystem[[:space:]]+0*${subsystem}[[:space:]]" ||
        fail "$exe: subsystem is not $name: $(echo "$headers" | grep '^Subsystem')"
    entry_in_code "$exe" "$headers"
    local dlls
    dlls=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:upper:]' '[:lower:]' | sort -u)
    [ -n "$dlls" ] || fail "$exe: no import table found"
    local dll
    for dll in $dlls; do
        [[ $dll =~ $system_dll ]] || fail "$exe imports $dll, which Windows does not ship"
    done
    echo "checked $exe (wanted $name): imports ${dlls//$'\n'/ }"
}

check "$program" 2 "Windows GUI"
# A GUI program entered through WinMain, drawing with GDI in a USER window.
symbols=$("$objdump" -t "$program" 2>/dev/null | grep -c '^\[ *[0-9]')
if [ "$symbols" -gt 0 ]; then
    "$objdump" -t "$program" | grep -Eq '[[:space:]]WinMain$' || fail "ostrevane.exe has no WinMain"
else
    echo "note: ostrevane.exe has no symbol table; its entry is checked from its headers alone"
fi
dlls=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:upper:]' '[:lower:]')
for dll in user32.dll gdi32.dll; do
    echo "$dlls" | grep -qx "$dll" || fail "ostrevane.exe does not import $dll"
done
check "$render" 3 "Windows console"
if [ -f "$harness" ]; then
    check "$harness" 3 "Windows console"
fi

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all Windows executable checks passed"
