#!/bin/bash
# The Windows build's executables, checked as files: 64-bit PE, the right
# subsystem (the program a GUI one entered through WinMain, the tools console
# ones), and run-time libraries linked in: nothing imported but DLLs every
# Windows has, so the .exe runs alone.
# Usage: windows_executables_test.sh WINDOWS_BUILD_DIR
set -u
dir=${1:-}
# shellcheck source-path=SCRIPTDIR source=conformance_lib.sh
source "$(dirname "$0")/conformance_lib.sh"
objdump=x86_64-w64-mingw32-objdump
need_tools "$objdump"
[ -n "$dir" ] || unavailable "no Windows build directory (configure with -DOSTREVANE_WINDOWS_BUILD_DIR=build/mingw)"
need_windows_files "$dir/ostrevane.exe" "$dir/tools/ostrevane-render.exe"

# Windows' own DLLs; a MinGW or MSVC run-time DLL (libstdc++-6, libgcc_s_*,
# libwinpthread-1, msvcp140, vcruntime140...) is not among them.
system_dll='^(kernel32|user32|gdi32|msvcrt|ucrtbase|ntdll|advapi32|api-ms-win-[a-z0-9-]+)\.dll$'

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# check FILE SUBSYSTEM_NUMBER SUBSYSTEM_NAME
check() {
    local exe=$1 subsystem=$2 name=$3
    local headers
    headers=$("$objdump" -p "$exe" 2>&1) || { fail "$exe: objdump cannot read it"; return; }
    "$objdump" -f "$exe" | grep -q 'file format pei-x86-64' || fail "$exe is not a 64-bit PE executable"
    echo "$headers" | grep -Eq "^Subsystem[[:space:]]+0*${subsystem}[[:space:]]" ||
        fail "$exe: subsystem is not $name: $(echo "$headers" | grep '^Subsystem')"
    local dlls
    dlls=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:upper:]' '[:lower:]' | sort -u)
    [ -n "$dlls" ] || fail "$exe: no import table found"
    local dll
    for dll in $dlls; do
        [[ $dll =~ $system_dll ]] || fail "$exe imports $dll, which Windows does not ship"
    done
    echo "checked $exe (wanted $name): imports ${dlls//$'\n'/ }"
}

check "$dir/ostrevane.exe" 2 "Windows GUI"
# A GUI program entered through WinMain, drawing with GDI in a USER window.
"$objdump" -t "$dir/ostrevane.exe" | grep -Eq '[[:space:]]WinMain$' ||
    fail "ostrevane.exe has no WinMain"
dlls=$("$objdump" -p "$dir/ostrevane.exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:upper:]' '[:lower:]')
for dll in user32.dll gdi32.dll; do
    echo "$dlls" | grep -qx "$dll" || fail "ostrevane.exe does not import $dll"
done
check "$dir/tools/ostrevane-render.exe" 3 "Windows console"
if [ -f "$dir/tests/conformance/line_harness.exe" ]; then
    check "$dir/tests/conformance/line_harness.exe" 3 "Windows console"
fi

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all Windows executable checks passed"
