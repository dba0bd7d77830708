#!/usr/bin/env python3
"""The program's window lifecycle under valgrind's memcheck, on the
end-to-end tests' drivers (tests/e2e, on PYTHONPATH as CTest sets it), the
program under memcheck.sh: on Xvfb (x11), through GNUstep's AppKit (appkit)
and on sway it opens its window, is typed at, moved (where the display lets
the test move it), resized and closed as a user closes it, and ends with
exit code 0; on weston the compositor is killed under it (exit code 1).
memcheck.sh must find nothing either way.

Usage: lifecycle.py MEMCHECK_SH PROGRAM X11_PROBE x11|appkit|sway|weston
"""

import signal
import sys
import types

import ostrevane_e2e as e2e
from ostrevane_support import require_tools
import appkit_cases
import wayland_cases
import x11_drivers

DRIVERS = {"x11": x11_drivers.Xvfb, "appkit": appkit_cases.AppKit,
           "sway": wayland_cases.SwayDriver, "weston": wayland_cases.Weston}
TYPED = {"sway": ("hello, world q \u00e9\u20ac", ("Escape", "Return", "ctrl+c", "alt+F4"))}


def main():
    memcheck, program, probe, display = sys.argv[1:5]
    args = types.SimpleNamespace(program=program, probe=probe)

    def body(workdir):
        require_tools("valgrind")
        with DRIVERS[display](args, workdir, (800, 600)) as d:
            d.runner = [memcheck, "1" if display == "weston" else "0"]
            d.launch(argv=["--ignored", "arguments"])
            if display == "weston":
                d.kill_display()
            else:
                d.type(*TYPED.get(display, ("hello",)))
                d.move(40, 30)
                d.resize(300, 200)
                d.resize(700, 500)
                d.close_window()
            try:
                e2e.expect_exit(d.process, 0, "memcheck.sh", d.err_path)
            finally:
                # memcheck.sh's report.
                print(open(d.out_path).read() + d.stderr())

    return e2e.run_case("ostrevane-memcheck-", body)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())
