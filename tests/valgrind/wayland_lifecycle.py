#!/usr/bin/env python3
"""The program on Wayland compositors under valgrind's memcheck, through the
Wayland back end: on sway it opens its window, is typed at (wtype),
floated, resized and closed with `swaymsg kill` (exit code 0); on weston
the compositor is killed under it (exit code 1). memcheck.sh must find
nothing either way.

Usage: wayland_lifecycle.py MEMCHECK_SH PROGRAM sway|weston
Uses the end-to-end tests' compositor helpers (tests/e2e/wayland_cases.py, on
PYTHONPATH as CTest sets it).
"""

import signal
import sys
import time

import ostrevane_e2e as e2e
import wayland_cases

# Everything is slower under valgrind.
FIND_SECONDS = 60
EXIT_SECONDS = 120


def finish(process, what):
    # memcheck.sh may print a long report: read it while waiting.
    try:
        output, errors = process.communicate(timeout=EXIT_SECONDS)
    except e2e.subprocess.TimeoutExpired:
        raise e2e.Failure("the program under valgrind did not end after " + what)
    sys.stdout.write(output.decode(errors="replace") + errors.decode(errors="replace"))
    e2e.check(process.returncode == 0, "memcheck.sh failed after %s (exit %s)"
              % (what, process.returncode))


def sway_run(memcheck, program, workdir):
    with wayland_cases.Sway(workdir, (800, 600)) as sway:
        process = sway.compositor.spawn_program([memcheck, "0", program, "--ignored"])
        sway.wait_window(process, timeout=FIND_SECONDS)
        sway.type_keys()
        criteria = '[title="^%s$"]' % e2e.TITLE
        sway.msg(criteria, "floating", "enable")
        sway.msg(criteria, "resize", "set", "width", "300 px", "height", "200 px")
        sway.msg(criteria, "resize", "set", "width", "700 px", "height", "500 px")
        time.sleep(2)
        sway.msg(criteria, "kill")
        finish(process, "swaymsg kill")


def weston_run(memcheck, program, workdir):
    with wayland_cases.start_weston(workdir, (800, 600)) as compositor:
        process = compositor.spawn_program([memcheck, "1", program])
        wayland_cases.weston_window_title(compositor, FIND_SECONDS)
        time.sleep(1)
        compositor.kill()
        finish(process, "weston was killed")


def main():
    memcheck, program, compositor = sys.argv[1:4]

    def body(workdir):
        e2e.require_tools("valgrind")
        if compositor == "sway":
            sway_run(memcheck, program, workdir)
        else:
            weston_run(memcheck, program, workdir)

    return e2e.run_case("ostrevane-memcheck-", body)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())
