#!/usr/bin/env python3
"""The program on Wayland compositors under valgrind's memcheck, through the
Wayland back end: on sway it opens its window, is typed at, floated,
resized and closed with `swaymsg kill` (exit code 0); on weston the
compositor is killed under it (exit code 1). memcheck.sh must find nothing
either way.

Usage: wayland_lifecycle.py MEMCHECK_SH PROGRAM sway|weston
Runs on the end-to-end tests' Wayland drivers (tests/e2e, on PYTHONPATH as
CTest sets it), the program under memcheck.sh.
"""

import signal
import sys
import types

import ostrevane_e2e as e2e
import wayland_cases


def main():
    memcheck, program, compositor = sys.argv[1:4]
    sway = compositor == "sway"
    driver = wayland_cases.SwayDriver if sway else wayland_cases.Weston
    args = types.SimpleNamespace(program=program)

    def body(workdir):
        e2e.require_tools("valgrind")
        with driver(args, workdir, (800, 600)) as d:
            d.runner = [memcheck, "0" if sway else "1"]
            d.launch(argv=["--ignored"])
            if sway:
                d.type("hello, world q \u00e9\u20ac", ("Escape", "Return", "ctrl+c", "alt+F4"))
                d.resize(300, 200)
                d.resize(700, 500)
                d.close_window()
            else:
                d.kill_display()
            try:
                e2e.expect_exit(d.process, 0, "memcheck.sh", d.err_path)
            finally:
                # memcheck.sh's report.
                print(open(d.out_path).read() + d.stderr())

    return e2e.run_case("ostrevane-memcheck-", body)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())
