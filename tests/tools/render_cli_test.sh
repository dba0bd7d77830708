#!/bin/bash
# Checks ostrevane-render as a user meets it: its line list, its PNG, its
# usage errors and its refusal to leave partial files.
set -u
render=$1
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

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all render tool checks passed"
