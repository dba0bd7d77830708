#!/usr/bin/env python3
"""The program on a real X server (Xvfb) under valgrind's memcheck: it opens
its window, is typed at, moved and resized, and is closed through
WM_DELETE_WINDOW; memcheck.sh must find nothing and the program must end
with exit code 0.

Usage: x11_lifecycle.py MEMCHECK_SH PROGRAM X11_PROBE [appkit]
  (appkit: through GNUstep's AppKit, set up as tests/e2e/appkit_cases.py does)
Uses the end-to-end tests' Xvfb session (tests/e2e/ostrevane_e2e.py, on
PYTHONPATH as CTest sets it).
"""

import os
import signal
import sys

import ostrevane_e2e as e2e

# Everything is slower under valgrind.
FIND_MS = 60000
EXIT_SECONDS = 120


def run(memcheck, program, probe, session, env=None):
    e2e.require_tools("Xvfb", "xdotool", "valgrind")
    session.start_xvfb()
    process = session.spawn([memcheck, "0", program, "--ignored", "arguments"],
                            env=env(session) if env else None)
    found = session.run([probe, "find", e2e.TITLE, str(FIND_MS)], timeout=FIND_MS / 1000 + 10)
    e2e.check(found.returncode == 0, "no window under valgrind: " + found.stderr.strip())
    window = found.stdout.strip()
    for argv in (["type", "--window", window, "hello"],
                 ["windowmove", window, "40", "30"],
                 ["windowsize", window, "300", "200"],
                 ["windowsize", window, "700", "500"]):
        result = session.run(["xdotool"] + argv, timeout=30)
        e2e.check(result.returncode == 0, "xdotool %s failed" % " ".join(argv))
    closed = session.run([probe, "close", window], timeout=30)
    e2e.check(closed.returncode == 0, "cannot close the window: " + closed.stderr.strip())
    # memcheck.sh may print a long report: read it while waiting.
    try:
        output, errors = process.communicate(timeout=EXIT_SECONDS)
    except e2e.subprocess.TimeoutExpired:
        raise e2e.Failure("the program under valgrind did not end after the close")
    sys.stdout.write(output.decode(errors="replace") + errors.decode(errors="replace"))
    e2e.check(process.returncode == 0, "memcheck.sh failed (exit %s)" % process.returncode)


def main():
    memcheck, program, probe = sys.argv[1:4]
    appkit = sys.argv[4:] == ["appkit"]

    def body(workdir):
        with e2e.Session(workdir, (800, 600)) as session:
            if appkit:
                import appkit_cases
                before = appkit_cases.outside_state()
                try:
                    run(memcheck, program, probe, session, appkit_cases.appkit_env)
                finally:
                    appkit_cases.end_helpers({"HOME": os.path.join(workdir, "home")}, before)
            else:
                run(memcheck, program, probe, session)

    return e2e.run_case("ostrevane-memcheck-", body)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())
