#!/bin/bash
# Installs the Debian package in a throwaway root, checks what it put in
# place, runs `ostrevane` from PATH under a window manager (openbox on Xvfb),
# closes it through the window manager and expects exit code 0, then removes
# and purges the package and checks that none of its files is left.
#
# The throwaway root is an overlay of / with its changes in a tmpfs, mounted
# in a private mount, PID and network namespace: apt, dpkg and the program
# run there, the host's /usr and dpkg database stay as they were (the test
# checks that the host's dpkg status file is byte-identical afterwards), an
# Ostrevane installed on the host stays installed, and when the test ends the
# namespace takes every process started here and the overlay with it.
#
# Needs root (or sudo without a password): it mounts and runs dpkg.
#
# Usage: tests/packaging/install_test.sh DEB    exit 0 passed, 1 failed
set -uo pipefail

fail() {
    echo "install_test: FAILED - $*"
    exit 1
}

installed() {
    dpkg-query -W -f='${Status}' ostrevane 2>/dev/null | grep -q 'install ok installed'
}

case ${1:-} in
--throwaway-root)
    # In the new namespaces: the overlay, the kernel's file systems, then the
    # test itself in the overlay.
    top=$2 deb=$3
    mount -t tmpfs -o mode=0755 ostrevane-install-test "$top" || fail "mount a tmpfs on $top"
    mkdir "$top/upper" "$top/work" "$top/root"
    mount -t overlay overlay -o "lowerdir=/,upperdir=$top/upper,workdir=$top/work" "$top/root" ||
        fail "mount an overlay of /"
    mount -t proc proc "$top/root/proc" || fail "mount /proc"
    mount --rbind /dev "$top/root/dev" || fail "bind /dev"
    mount --rbind /sys "$top/root/sys" || fail "bind /sys"
    mkdir "$top/root/ostrevane-install-test"
    cp "$0" "$deb" "$top/root/ostrevane-install-test/" || fail "copy the package into the overlay"
    exec chroot "$top/root" /bin/bash /ostrevane-install-test/"$(basename "$0")" \
        --inside /ostrevane-install-test/"$(basename "$deb")"
    ;;
--inside)
    deb=$2
    ;;
*)
    deb=${1:-}
    if [ -z "$deb" ] || [ ! -f "$deb" ]; then
        echo "usage: install_test.sh DEB (a built ostrevane package)" >&2
        exit 1
    fi
    as_root=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo -n true 2>/dev/null || fail "needs root or password-less sudo to mount and run dpkg"
        as_root=(sudo -n)
    fi
    for tool in unshare chroot Xvfb openbox wmctrl desktop-file-validate man; do
        command -v "$tool" >/dev/null || fail "missing $tool"
    done
    host=$(mktemp -d "${TMPDIR:-/tmp}/ostrevane-install-test.XXXXXX")
    trap 'rm -f "$host/status"; rmdir "$host/root" "$host"' EXIT
    mkdir "$host/root"
    cp /var/lib/dpkg/status "$host/status"
    host_had=0 host_binary=0
    installed && host_had=1
    [ -e /usr/bin/ostrevane ] && host_binary=1
    "${as_root[@]}" unshare --mount --propagation private --pid --fork --kill-child --net -- \
        /bin/bash "$(realpath "$0")" --throwaway-root "$host/root" "$(realpath "$deb")"
    code=$?
    cmp -s /var/lib/dpkg/status "$host/status" || fail "the host's dpkg status file changed"
    if [ "$host_had" -eq 1 ]; then
        installed || fail "the host's ostrevane is no longer installed"
    fi
    [ -e /usr/bin/ostrevane ] && [ "$host_binary" -eq 0 ] && fail "the host has a new /usr/bin/ostrevane"
    [ ! -e /usr/bin/ostrevane ] && [ "$host_binary" -eq 1 ] && fail "the host lost /usr/bin/ostrevane"
    [ "$code" -eq 0 ] && echo "ok - the host's dpkg database and /usr are as they were"
    exit "$code"
    ;;
esac

# In the throwaway root, as root. An Ostrevane the host has installed goes
# first, here only.
export DEBIAN_FRONTEND=noninteractive TMPDIR=/tmp
if installed; then
    dpkg --purge ostrevane >/dev/null 2>&1 || fail "purge the host's ostrevane in the throwaway root"
fi
work=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null
    done
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# --- Install -----------------------------------------------------------------
apt-get install -y --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt-get install $deb"; }
installed || fail "apt-get install did not leave ostrevane installed"
mapfile -t files < <(dpkg -L ostrevane | while read -r path; do [ -f "$path" ] && echo "$path"; done)
echo "ok - installed: ${#files[@]} files"

for want in /usr/bin/ostrevane /usr/bin/ostrevane-render /usr/share/applications/io.github.ostrevane.ostrevane.desktop \
    /usr/share/metainfo/io.github.ostrevane.ostrevane.metainfo.xml \
    /usr/share/man/man1/ostrevane.1.gz /usr/share/man/man1/ostrevane-render.1.gz \
    /usr/share/icons/hicolor/48x48/apps/ostrevane.png /usr/share/icons/hicolor/128x128/apps/ostrevane.png \
    /usr/share/icons/hicolor/256x256/apps/ostrevane.png /usr/share/doc/ostrevane/README.md \
    /usr/share/doc/ostrevane/LICENSE /usr/share/doc/ostrevane/copyright \
    "/usr/lib/$(gcc -print-multiarch)/ostrevane/ostrevane-wayland.so"; do
    printf '%s\n' "${files[@]}" | grep -qx "$want" || fail "the package does not install $want"
done
clean_path=/usr/local/bin:/usr/bin:/bin
[ "$(PATH=$clean_path command -v ostrevane)" = /usr/bin/ostrevane ] || fail "ostrevane is not on PATH"
desktop-file-validate /usr/share/applications/io.github.ostrevane.ostrevane.desktop || fail "desktop entry invalid"
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
apt-get remove -y ostrevane >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get remove"; }
for path in "${files[@]}"; do
    [ ! -e "$path" ] || fail "apt-get remove left $path"
done
# Without conffiles a removed package is gone; purging makes sure.
dpkg --purge ostrevane >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "dpkg --purge"; }
dpkg-query -W ostrevane >/dev/null 2>&1 && fail "dpkg still knows ostrevane after --purge"
echo "ok - removed and purged: none of its ${#files[@]} files is left"
