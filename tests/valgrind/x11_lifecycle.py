#!/usr/bin/env python3
"""The program on a real X server (Xvfb) under valgrind's memcheck: it opens
its window, is typed at, moved and resized, and is closed through
WM_DELETE_WINDOW; memcheck.sh must find nothing and the program must end
with exit code 0.

Usage: x11_lifecycle.py MEMCHECK_SH PROGRAM X11_PROBE [appkit]
  (appkit: through GNUstep's AppKit, as the end-to-end tests' appkit driver)
Runs on the end-to-end tests' X11 driver (tests/e2e, on PYTHONPATH as CTest
sets it), the program under memcheck.sh.
"""

import signal
import sys
import types

import ostrevane_e2e as e2e
import appkit_cases
import x11_drivers


def main():
    memcheck, program, probe = sys.argv[1:4]
    driver = appkit_cases.AppKit if sys.argv[4:] == ["appkit"] else x11_drivers.Xvfb
    args = types.SimpleNamespace(program=program, probe=probe)

    def body(workdir):
        e2e.require_tools("valgrind")
        with driver(args, workdir, (800, 600)) as d:
            d.runner = [memcheck, "0"]
            d.launch(argv=["--ignored", "arguments"])
            d.type("hello")
            d.move(40, 30)
            d.resize(300, 200)
            d.resize(700, 500)
            d.close_window()
            try:
                e2e.expect_exit(d.process, 0, "memcheck.sh after the close", d.err_path)
            finally:
                # memcheck.sh's report.
                print(open(d.out_path).read() + d.stderr())

    return e2e.run_case("ostrevane-memcheck-", body)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())
