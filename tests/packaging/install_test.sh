#!/bin/bash
# Installs the Debian package on this machine, checks what it put in place,
# runs `ostrevane` from PATH under a window manager (openbox on Xvfb), closes
# it through the window manager and expects exit code 0, then removes and
# purges the package and checks that none of its files is left. Whatever
# happens, the package is not left installed and every process started here
# is ended.
#
# Needs root (or sudo without a password): it runs dpkg. Refuses to run when
# ostrevane is already installed, so as not to replace someone's install.
#
# Usage: tests/packaging/install_test.sh DEB    exit 0 passed, 1 failed
set -uo pipefail

deb=${1:-}
if [ -z "$deb" ] || [ ! -f "$deb" ]; then
    echo "usage: install_test.sh DEB (a built ostrevane package)" >&2
    exit 1
fi
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    if ! sudo -n true 2>/dev/null; then
        echo "install_test: FAILED - needs root or password-less sudo to run dpkg" >&2
        exit 1
    fi
    as_root=(sudo -n)
fi
for tool in Xvfb openbox wmctrl desktop-file-validate man; do
    command -v "$tool" >/dev/null || { echo "install_test: FAILED - missing $tool" >&2; exit 1; }
done

installed() {
    dpkg-query -W -f='${Status}' ostrevane 2>/dev/null | grep -q 'install ok installed'
}
if installed; then
    echo "install_test: FAILED - ostrevane is already installed; remove it first" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/ostrevane-install-test.XXXXXX")
pids=()
we_installed=0
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null
    done
    if [ "$we_installed" -eq 1 ] && dpkg-query -W ostrevane >/dev/null 2>&1; then
        "${as_root[@]}" dpkg --purge ostrevane >/dev/null 2>&1
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
    echo "install_test: FAILED - $*"
    exit 1
}

# --- Install -----------------------------------------------------------------
we_installed=1
"${as_root[@]}" dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i $deb"; }
installed || fail "dpkg -i did not leave ostrevane installed"
mapfile -t files < <(dpkg -L ostrevane | while read -r path; do [ -f "$path" ] && echo "$path"; done)
echo "ok - installed: ${#files[@]} files"

for want in /usr/bin/ostrevane /usr/bin/ostrevane-render /usr/share/applications/ostrevane.desktop \
    /usr/share/man/man1/ostrevane.1.gz /usr/share/man/man1/ostrevane-render.1.gz \
    /usr/share/icons/hicolor/48x48/apps/ostrevane.png /usr/share/icons/hicolor/128x128/apps/ostrevane.png \
    /usr/share/icons/hicolor/256x256/apps/ostrevane.png /usr/share/doc/ostrevane/README.md \
    /usr/share/doc/ostrevane/LICENSE /usr/share/doc/ostrevane/copyright \
    "/usr/lib/$(gcc -print-multiarch)/ostrevane/ostrevane-wayland.so"; do
    printf '%s\n' "${files[@]}" | grep -qx "$want" || fail "the package does not install $want"
done
clean_path=/usr/local/bin:/usr/bin:/bin
[ "$(PATH=$clean_path command -v ostrevane)" = /usr/bin/ostrevane ] || fail "ostrevane is not on PATH"
desktop-file-validate /usr/share/applications/ostrevane.desktop || fail "desktop entry invalid"
[ "$(man -w ostrevane)" = /usr/share/man/man1/ostrevane.1.gz ] || fail "man -w ostrevane"
[ "$(man -w ostrevane-render)" = /usr/share/man/man1/ostrevane-render.1.gz ] || fail "man -w ostrevane-render"
echo "ok - programs on PATH, desktop entry valid, manual pages found"

# The installed program finds its Wayland module: what fails is the
# connection to a compositor that is not there, not the module.
missing=$(env -u DISPLAY OSTREVANE_BACKEND=wayland WAYLAND_DISPLAY=ostrevane-no-such-socket \
    PATH=$clean_path ostrevane 2>&1 >/dev/null) && fail "ostrevane ran without a compositor"
case $missing in
*ostrevane-no-such-socket*) ;;
*) fail "the installed program did not reach the compositor through its module: $missing" ;;
esac
echo "ok - the installed program loads its Wayland module"

# The render tool from PATH, without a display.
env -u DISPLAY PATH=$clean_path ostrevane-render --size 64x48 --output "$work/figure.png" ||
    fail "ostrevane-render from PATH failed"
[ "$(head -c 8 "$work/figure.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
    fail "ostrevane-render did not write a PNG"
echo "ok - ostrevane-render from PATH writes a PNG"

# --- Run the program from PATH under openbox -----------------------------------
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" \
    >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 150); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start within 15 s"
display=":$(tr -d '\n' <"$work/display")"
DISPLAY=$display openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
env DISPLAY="$display" PATH=$clean_path ostrevane >"$work/stdout" 2>"$work/stderr" &
program=$!
pids+=("$program")
for _ in $(seq 150); do
    DISPLAY=$display wmctrl -l 2>/dev/null | grep -q ' Ostrevane$' && break
    sleep 0.1
done
DISPLAY=$display wmctrl -l 2>/dev/null | grep -q ' Ostrevane$' ||
    fail "no window captioned Ostrevane under openbox within 15 s"
echo "ok - ostrevane from PATH shows its window under openbox"
DISPLAY=$display wmctrl -c Ostrevane || fail "wmctrl -c Ostrevane"
for _ in $(seq 50); do
    kill -0 "$program" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$program" 2>/dev/null && fail "ostrevane still running 5 s after the window manager closed it"
wait "$program"
code=$?
[ "$code" -eq 0 ] || fail "exit code $code after closing (stderr: $(cat "$work/stderr"))"
[ ! -s "$work/stderr" ] || fail "unexpected stderr: $(cat "$work/stderr")"
echo "ok - closing it through the window manager ends it with exit code 0"

# --- Remove and purge -----------------------------------------------------------
"${as_root[@]}" dpkg -r ostrevane >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -r"; }
for path in "${files[@]}"; do
    [ ! -e "$path" ] || fail "dpkg -r left $path"
done
"${as_root[@]}" dpkg --purge ostrevane >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg --purge"; }
dpkg-query -W ostrevane >/dev/null 2>&1 && fail "dpkg still knows ostrevane after --purge"
we_installed=0
echo "ok - removed and purged: none of its ${#files[@]} files is left"
