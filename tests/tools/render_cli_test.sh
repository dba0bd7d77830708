#!/bin/bash
# Checks ostrevane-render as a user meets it: its line list, its PNG, its
# usage errors, its refusal to leave partial files, and that it writes
# devices, FIFOs and links in place rather than replacing them.
set -u
render=$(realpath -- "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The line list at 1024x768: count and extent.
"$render" --lines --size 1024x768 >"$work/lines.txt" || fail "--lines exited $?"
count=$(wc -l <"$work/lines.txt")
[ "$count" -eq 32250 ] || fail "expected 32250 lines, got $count"
extent=$(awk '{ for (i = 1; i <= 4; i += 2) { if (NR == 1 && i == 1 || $i < x0) x0 = $i; if ($i > x1) x1 = $i }
               for (i = 2; i <= 4; i += 2) { if (NR == 1 && i == 2 || $i < y0) y0 = $i; if ($i > y1) y1 = $i } }
             END { print x0, x1, y0, y1 }' "$work/lines.txt")
[ "$extent" = "242 782 100 609" ] || fail "line extent is '$extent'"

# The PNG: written where asked, a real PNG of the asked size.
(cd "$work" && "$render" --size 1920x1080 --output f.png) || fail "PNG render exited $?"
header=$(head -c 24 "$work/f.png" | od -An -tx1 | tr -d ' \n')
[ "${header:0:16}" = "89504e470d0a1a0a" ] || fail "f.png is not a PNG"
[ "${header:32:16}" = "0000078000000438" ] || fail "f.png is not 1920x1080 (${header:32:16})"
(cd "$work" && "$render") || fail "default render exited $?"
[ -s "$work/ostrevane.png" ] || fail "no ostrevane.png by default"

# Bad usage: one line naming the problem, then the usage; exit 2; no file.
for args in "--size 0x5" "--size 100x" "--scale 0" "--scale abc" "--bogus" "--output"; do
    # shellcheck disable=SC2086
    (cd "$work" && "$render" $args --output bad.png) >/dev/null 2>"$work/err"
    status=$?
    [ $status -eq 2 ] || fail "'$args' exited $status, expected 2"
    head -n1 "$work/err" | grep -q '^ostrevane-render: ' || fail "'$args' gave no message"
    grep -q '^usage:' "$work/err" || fail "'$args' gave no usage"
    [ ! -e "$work/bad.png" ] || fail "'$args' wrote a file"
done
"$render" --help | grep -q '^usage:' || fail "--help shows no usage"
"$render" --help | grep -q "'-' is the standard" || fail "--help does not say what '-' means"

# An output that cannot be written: exit 1, the file named, nothing left.
mkdir "$work/ro"
"$render" --output "$work/nodir/x.png" 2>"$work/err"
[ $? -eq 1 ] || fail "unwritable output did not exit 1"
grep -q "nodir/x.png" "$work/err" || fail "message does not name the file"
[ "$(wc -l <"$work/err")" -eq 1 ] || fail "message is not one line"
mkdir "$work/ro/out.png"
"$render" --output "$work/ro/out.png" 2>/dev/null
[ $? -eq 1 ] || fail "a directory in the way did not exit 1"
[ "$(ls -A "$work/ro")" = "out.png" ] || fail "a temporary file was left: $(ls -A "$work/ro")"

# Where the output goes. Each case runs in a folder of its own and touches
# only the nodes and files it makes there. Columns: name | what it needs |
# setup | the run ($R is the tool; its stderr goes to err) | exit status |
# the check afterwards. (LeakSanitizer cannot run under strace's ptrace.)
is_png() { [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ]; }
# Runs its arguments in a private mount namespace over a 64 KiB tmpfs on
# disk/ that holds out.png ("old") and a filler leaving no room, then lists
# the disk into `listing` and copies out.png to `after`.
on_full_disk() {
    mkdir disk
    unshare "${namespace[@]}" bash -c 'mount -t tmpfs -o size=64k tmpfs disk || exit 99
        echo old >disk/out.png; yes >disk/filler 2>/dev/null
        "$@"; status=$?; ls -A disk >listing; cp disk/out.png after; exit $status' on_full_disk "$@"
}
# A file p.png of mode $1 under umask 022, which would change a mode not
# set on purpose, owned by someone else where this user may give it away;
# `before` is its mode, owner and group.
owned_file() {
    umask 022; echo old >p.png; chown 4321:4321 p.png 2>/dev/null; chmod "$1" p.png
    before=$(stat -c '%a %u %g' p.png)
}
# Runs its arguments (from the second on) into a pipe that `cat` empties
# into the file the first names.
piped_into() { "${@:2}" | cat >"$1"; }
# Runs its arguments while a socket `s` takes one connection into got.png.
with_socket_reader() {
    python3 -c 'import socket, subprocess, sys
s = socket.socket(socket.AF_UNIX); s.settimeout(20); s.bind("s"); s.listen(1); tool = subprocess.Popen(sys.argv[1:])
c = s.accept()[0]; open("got.png", "wb").write(b"".join(iter(lambda: c.recv(65536), b"")))
sys.exit(tool.wait())' "$@"
}
namespace=()
if unshare --mount true 2>/dev/null; then
    namespace=(--mount)
elif unshare --user --map-root-user --mount true 2>/dev/null; then
    namespace=(--user --map-root-user --mount)
fi
# Whether this machine allows what a case needs; if not, says why not.
has() {
    case $1 in
        devices)
            [ "$(id -u)" -eq 0 ] && mknod probe c 1 3 2>/dev/null && : >probe && rm probe ||
                { echo "device nodes need root and a file system that allows them"; return 1; } ;;
        namespace)
            [ ${#namespace[@]} -gt 0 ] || { echo "unshare cannot make a mount namespace"; return 1; } ;;
        strace)
            strace -o probe true 2>/dev/null && rm probe ||
                { echo "strace is missing or cannot trace here"; return 1; } ;;
    esac
}
number=0
while IFS='|' read -r name needs setup run expected check; do
    name=$(echo $name) needs=$(echo $needs) number=$((number + 1))
    mkdir "$work/case_$number"
    (
        cd "$work/case_$number" || exit 1
        set -o pipefail
        R=$render
        why=$(has "$needs") || { echo "SKIP: output $name: $why"; exit 0; }
        eval "$setup"
        eval "$run" 2>err
        status=$?
        [ "$status" -eq "$expected" ] || { echo "FAIL: output $name exited $status: $(cat err)"; exit 1; }
        eval "$check" || { echo "FAIL: output $name: $check"; exit 1; }
        echo "ok   output $name"
    ) || failures=$((failures + 1))
done <<'CASES'
character device | devices | mknod null c 1 3 | $R --output null | 0 | [ -c null ] && [ ! -s err ]
full device | devices | mknod full c 1 7 | $R --output full | 1 | [ -c full ] && grep -qx "ostrevane-render: cannot write 'full': No space left on device" err
fifo with a reader | - | mkfifo f; timeout 20 cat f >got.png & | $R --output f | 0 | wait && [ -p f ] && is_png got.png
socket with a reader | - | : | with_socket_reader $R --output s | 0 | [ -S s ] && is_png got.png
symlink | - | echo old >t.png; ln -s t.png l.png | $R --output l.png | 0 | [ "$(readlink l.png)" = t.png ] && is_png t.png && [ "$(ls -A | tr "\n" " ")" = "err l.png t.png " ]
dangling symlink | - | ln -s new.png l.png | $R --output l.png | 0 | [ -L l.png ] && is_png new.png
mode 600 kept | - | owned_file 600 | $R --output p.png | 0 | [ "$(stat -c '%a %u %g' p.png)" = "$before" ] && is_png p.png
mode 664 kept | - | owned_file 664 | $R --output p.png | 0 | [ "$(stat -c '%a %u %g' p.png)" = "$before" ] && is_png p.png
mode 4755 kept | - | owned_file 4755 | $R --output p.png | 0 | [ "$(stat -c '%a %u %g' p.png)" = "$before" ] && is_png p.png
- to a pipe | - | : | piped_into piped.png $R --output - | 0 | is_png piped.png && [ ! -e ./- ]
- to a pipe with no reader | - | mkfifo p; exec 3<>p 4>p 3<&- | $R --output - >&4 | 1 | grep -qx "ostrevane-render: cannot write '-': Broken pipe" err
open file through /proc | - | ln -s /proc/self/fd/1 fd1; echo old >so.png; inode=$(stat -c %i so.png) | $R --output fd1 1<>so.png | 0 | [ "$(stat -c %i so.png)" = "$inode" ] && is_png so.png
synced before and after the rename | strace | echo old >o.png | ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 strace -f -qq -e trace=fsync,rename,renameat,renameat2 -o trace $R --output o.png | 0 | [ "$(grep -oE '(fsync|rename[a-z0-9]*)\(' trace | tr -d '(' | tr '\n' ' ')" = "fsync rename fsync " ]
full disk | namespace | : | on_full_disk $R --output disk/out.png | 1 | [ "$(cat after)" = old ] && [ "$(cat listing)" = "$(printf 'filler\nout.png')" ] && [ "$(wc -l <err)" -eq 1 ] && grep -q 'No space left on device$' err
CASES

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all render tool checks passed"
