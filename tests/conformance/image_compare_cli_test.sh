#!/bin/bash
# image_compare as the conformance tests use it: decoded pixels decide, not
# file bytes; any pixel, size or lit-pixel fault fails; unreadable files and
# bad usage are errors, never a pass.
# Usage: image_compare_cli_test.sh IMAGE_COMPARE
set -u
compare=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Writes a PNG from a tiny description:
#   NAME WIDTH HEIGHT COLOUR_TYPE LEVEL [X,Y,RRGGBB ...]
# pixels on black, X and Y each a number or a range A-B; colour type 2 is
# RGB, 6 is RGBA; LEVEL is the zlib level, so that equal pixels can be
# encoded differently.
make_png() {
    python3 - "$work" "$@" <<'PY'
import struct, sys, zlib
work, name, width, height, ctype, level = sys.argv[1:7]
width, height, ctype, level = int(width), int(height), int(ctype), int(level)
pixels = {}
def span(text):
    first, _, last = text.partition("-")
    return range(int(first), int(last or first) + 1)
for pixel in sys.argv[7:]:
    xs, ys, colour = pixel.split(",")
    for y in span(ys):
        for x in span(xs):
            pixels[(x, y)] = bytes.fromhex(colour)
raw = b""
for y in range(height):
    raw += b"\0"
    for x in range(width):
        rgb = pixels.get((x, y), b"\0\0\0")
        raw += rgb + (b"\xff" if ctype == 6 else b"")
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, ctype, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(raw, level)) + chunk(b"IEND", b"")
open(f"{work}/{name}", "wb").write(png)
PY
}

make_png a.png 40 30 2 9 5,5,ff0000 39,29,ff0000
make_png a_rgba.png 40 30 6 0 5,5,ff0000 39,29,ff0000
make_png moved.png 40 30 2 9 6,5,ff0000 39,29,ff0000
make_png dim.png 40 30 2 9 5,5,fe0000 39,29,ff0000
make_png blue.png 40 30 2 9 5,5,ff0001 39,29,ff0000
make_png wide.png 30 40 2 9 5,5,ff0000
make_png black.png 40 30 2 9
make_png corner.png 10 8 2 9 5,5,ff0000
make_png black_small.png 4 4 2 9
# A client area two pixels wider than the canvas: white beyond it.
make_png client_big.png 42 30 2 9 5,5,ff0000 39,29,ff0000 40-41,0-29,ffffff
printf 'not a png' >"$work/garbage.png"

# expect STATUS OUTPUT_PATTERN ARGS...
expect() {
    local want=$1 pattern=$2
    shift 2
    "$compare" "$@" >"$work/out" 2>&1
    local got=$?
    [ $got -eq "$want" ] || fail "'$*' exited $got, expected $want: $(head -n3 "$work/out")"
    grep -q -- "$pattern" "$work/out" || fail "'$*' did not say '$pattern': $(head -n3 "$work/out")"
}

cmp -s "$work/a.png" "$work/a_rgba.png" && fail "the two encodings should differ as files"
expect 0 "SAME" same "$work/a.png" "$work/a.png"
expect 0 "2 lit" same "$work/a.png" "$work/a_rgba.png" --require-lit
expect 1 "1 of 1200 pixels differ" same "$work/dim.png" "$work/a.png"
expect 1 "(5,5): #FE0000, expected #FF0000" same "$work/dim.png" "$work/a.png"
expect 1 "(5,5): #FF0001" same "$work/blue.png" "$work/a.png"
expect 1 "2 of 1200 pixels differ" same "$work/moved.png" "$work/a.png"
expect 1 "DIFFERENT SIZES" same "$work/wide.png" "$work/a.png"
expect 0 "SAME" same "$work/black.png" "$work/black.png"
expect 1 "no lit pixel" same "$work/black.png" "$work/black.png" --require-lit
expect 1 "cannot read" same "$work/garbage.png" "$work/a.png"
expect 1 "cannot read" same "$work/a.png" "$work/missing.png"
# Window mode: the client area shows the canvas's top-left part.
expect 0 "SAME" window "$work/corner.png" "$work/a.png" --require-lit
expect 1 "no lit pixel" window "$work/black_small.png" "$work/corner.png" --require-lit
expect 1 "DIFFERENT" window "$work/moved.png" "$work/a.png"
expect 0 "SAME" window "$work/client_big.png" "$work/a.png" --require-lit
expect 1 "expected #FFFFFF" window "$work/wide.png" "$work/corner.png"
# Bad usage.
expect 2 "usage" same "$work/a.png"
expect 2 "usage" diff "$work/a.png" "$work/a.png"
expect 2 "usage" same "$work/a.png" "$work/a.png" --bogus
expect 2 "usage" same "$work/a.png" "$work/a.png" --require-lit extra

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all image_compare checks passed"
