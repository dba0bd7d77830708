#!/usr/bin/env python3
"""The WM_CHAR bytes that char_harness prints for platform/, against Python's
cp1252 codec for every character that the codec encodes (the code page's own
characters: best fit is not the codec's, and Wine's check covers it)."""
import subprocess
import sys


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: cp1252_check.py CHAR_HARNESS")
    dump = subprocess.run([sys.argv[1]], capture_output=True, text=True, timeout=120, check=True)
    got = {int(c, 16): int(b, 16) for c, b in (line.split() for line in dump.stdout.splitlines())}
    wrong, checked = [], 0
    for c, byte in sorted(got.items()):
        try:
            want = chr(c).encode("cp1252")[0]
        except UnicodeEncodeError:
            continue
        checked += 1
        if byte != want:
            wrong.append(f"U+{c:04X}: {byte:02X}, cp1252 {want:02X}")
    if len(got) != 0x10000 - 0x800 or checked < 250:
        sys.exit(f"FAIL: the harness printed {len(got)} characters, {checked} in cp1252")
    if wrong:
        sys.exit(f"FAIL: {len(wrong)} of {checked} differ from cp1252: " + "; ".join(wrong[:10]))
    print(f"{checked} characters of cp1252 agree")


if __name__ == "__main__":
    main()
