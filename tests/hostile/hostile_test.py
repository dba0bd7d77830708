#!/usr/bin/env python3
"""The program under hostile conditions, on the end-to-end tests' drivers
(tests/e2e, on PYTHONPATH as CTest sets it): each case starts its own
display through them, bounds every step with a timeout and kills every
process it started. The X11 cases run through GNUstep's AppKit with
--appkit. Each case prints what it did in "hostile: key=value" lines, for
the record. Missing tools make a case skip (exit code 77), except under
CI=true.

Usage: hostile_test.py --program ... CASE [VALUE] (the cases: CASES)
"""

import argparse
import os
import random
import signal
import subprocess
import sys
import time

import ostrevane_e2e as e2e
from ostrevane_e2e import check, expect_lost, parse_size
from ostrevane_support import OwnClock, uniform, wait_until
from compositors import Compositor
import wayland_cases
import appkit_cases
import x11_drivers

WHITE = (255, 255, 255)


def record(key, value):
    print("hostile: %s=%s" % (key, value))
    sys.stdout.flush()


def x11(args, workdir, size):
    """The end-to-end tests' X11 driver (AppKit's, with --appkit) on a WxH
    Xvfb of the case's own."""
    return (appkit_cases.AppKit if args.appkit else x11_drivers.Xvfb)(args, workdir, size)


def put_back(d, x, y, width, height, expected):
    d.move(x, y)
    d.resize(width, height)
    d.expect_picture("after the storm, %dx%d at (%d, %d)" % (width, height, x, y), expected)


# --- Cases ---------------------------------------------------------------------


def killed_rounds(args, rounds, name, moments, driver, disturb):
    """`rounds` times, a display of its own (driver(moment)) is killed
    (SIGKILL) or shut down (SIGTERM) at one of `moments` in turn, brought
    about by disturb(d, moment, rng): every time the program ends within a
    second of its own time (OwnClock: a busy machine may keep it waiting for
    a processor) with exit code 1 and one line on stderr naming the display."""
    rng = random.Random(args.seed)
    worst = 0.0
    for round_number in range(rounds):
        moment = moments[round_number % len(moments)]
        how = signal.SIGKILL if round_number % 2 == 0 else signal.SIGTERM
        with driver(moment) as d:
            d.launch(wait=not moment.startswith("starting"))
            disturb(d, moment, rng)
            lost, clock = d.lost_name(), OwnClock(d.process)
            d.kill_display(how)
            worst = max(worst, expect_lost(d.process, lost, "round %d (%s, %s)"
                                           % (round_number, moment, how.name), d.err_path,
                                           clock=clock))
    record(name + "_rounds", rounds)
    record(name + "_slowest_exit_s", "%.3f" % worst)


def display_killed(args, workdir, rounds):
    """The X server lost while the program starts (from its connection to
    the server on, up to 1.6 s later), with --appkit also as soon as GNUstep
    has started its notification centre (which it waits for without reading
    from the server), once its window is shown, or in a storm of resizes."""
    def disturb(d, moment, rng):
        if moment == "in a storm":
            d.processes.spawn([args.probe, "storm", d.window, "100000",
                               str(rng.randrange(1 << 30)), "640", "480"], env=d.env(),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(rng.uniform(0.1, 0.5))
        elif moment == "starting":
            d.wait_connected()
            time.sleep(10 ** rng.uniform(-3, 0.2))
        elif moment == "starting its helpers":
            d.wait_helper_started()
        else:
            time.sleep(rng.uniform(0.0, 0.2))

    moments = ["starting", "window shown", "in a storm"]
    killed_rounds(args, rounds, "display_killed",
                  moments + (["starting its helpers"] if args.appkit else []),
                  lambda moment: x11(args, workdir, (640, 480)), disturb)


def storm(args, workdir, count):
    """COUNT moves, resizes, exposures, covering windows and synthetic events
    (x11_probe storm): the program stays up, the window put back shows the canvas
    at its top left, and closing ends it with exit code 0."""
    width, height = 1024, 768
    with x11(args, workdir, (width, height)) as d:
        expected = d.first_frame()
        started = time.monotonic()
        result = d.run([args.probe, "storm", d.window, str(count), str(args.seed), str(width),
                        str(height)], "x11_probe storm", timeout=600)
        elapsed = time.monotonic() - started
        d.expect_running("during the storm")
        for line in result.stdout.splitlines():
            key, _, value = line.partition("=")
            record("storm_" + key, value)
        record("storm_events", count)
        record("storm_seconds", "%.2f" % elapsed)
        # Put back where it can be seen whole, at two sizes.
        put_back(d, 13, 17, 700, 500, expected)
        put_back(d, 0, 0, width, height, expected)
        print("ok - %d storm events: the picture is where it was in the client area" % count)
        d.close_window()
        d.expect_closed("after the storm")
        print("ok - closed with exit code 0 after the storm")


def forged_destroy(args, workdir, _):
    """Another client sends the window a DestroyNotify for itself (as any
    client can): the program carries on, showing the canvas."""
    with x11(args, workdir, (640, 480)) as d:
        expected = d.first_frame()
        d.probe("forge-destroy", d.window)
        try:
            # An Expose after the forged event: once it is painted, the
            # program has taken the event.
            d.sync(expected)
        finally:
            d.expect_running("after a DestroyNotify sent by another client")
        print("ok - a forged DestroyNotify is ignored")
        d.close_window()
        d.expect_closed("after a forged DestroyNotify")
        print("ok - closed with exit code 0")


def command_lines(args, workdir, _):
    """No argument, empty ones, the longest single argument Linux passes,
    about a megabyte of them, arbitrary bytes: all ignored."""
    rng = random.Random(args.seed)
    longest = 131071  # MAX_ARG_STRLEN less the terminating NUL
    every_byte = bytes(range(1, 256))
    cases = [
        ("no argument", []),
        ("one empty argument", [b""]),
        ("200 empty arguments", [b""] * 200),
        ("the longest single argument", [b"A" * longest]),
        ("about a megabyte of arguments", [b"x" * (longest - 1)] * 8),
        ("every byte but NUL", [every_byte]),
        ("arbitrary bytes", [bytes(rng.randrange(1, 256) for _ in range(rng.randrange(1, 300)))
                             for _ in range(40)]),
        ("options of other programs", [b"-display", b":12345", b"--size", b"1x1", b"-geometry",
                                       b"1x1+0+0", b"%s%n%x%p", b"-h", b"--", b"-"]),
    ]
    total_bytes = 0
    with x11(args, workdir, (320, 240)) as d:
        expected = d.expected()
        for name, argv in cases:
            d.launch(argv=argv)
            d.expect_picture(name, expected)
            d.close_window()
            d.expect_closed(name)
            total_bytes += sum(len(a) + 1 for a in argv)
            print("ok - %s (%d arguments, %d bytes): ignored" % (
                name, len(argv), sum(len(a) for a in argv)))
    record("command_line_cases", len(cases))
    record("command_line_bytes", total_bytes)


def screen(args, workdir, size):
    """On a WxH screen the window opens, shows the canvas and closes with
    exit code 0."""
    width, height = size
    started = time.monotonic()
    with x11(args, workdir, size) as d:
        d.launch()
        x, y, w, h = d.geometry()
        check(w >= 1 and h >= 1, "client area %dx%d" % (w, h))
        if width * height <= 1 << 22:
            d.expect_picture("first frame", d.expected())
        else:
            # Too large to render and capture whole: look at the top left of
            # a smaller window. The figure is drawn around the screen's
            # centre, less than 300 pixels from it, so there the canvas is
            # black.
            check(min(width, height) > 2000, "no reference for this screen size")
            d.move(0, 0)
            d.resize(400, 300)
            d.expect_picture("top left of the canvas", uniform(400, 300, (0, 0, 0)))
        elapsed = time.monotonic() - started
        print("ok - %dx%d screen: %dx%d window shows the canvas (%.1f s)" % (
            width, height, w, h, elapsed))
        d.close_window()
        d.expect_closed("%dx%d screen" % size)
        print("ok - closed with exit code 0")
        record("screen_%dx%d_window" % size, "%dx%d" % (w, h))
        record("screen_%dx%d_seconds" % size, "%.1f" % (time.monotonic() - started))


def no_canvas(args, workdir, _):
    """A canvas that cannot be allocated (the program's memory limited): the
    window opens, shows the class background (white), closes with 0."""
    # The canvas of this screen takes 432 MB, the window (three quarters of
    # each side) 243 MB: the program gets room for the window only.
    width, height = 12000, 9000
    env = {}
    with x11(args, workdir, (width, height)) as d:
        if args.sanitized:
            env["ASAN_OPTIONS"] = (os.environ.get("ASAN_OPTIONS", "") +
                                   ":allocator_may_return_null=1:max_allocation_size_mb=300")
        else:
            d.prefix = ["prlimit", "--as=%d" % (640 << 20)]
        d.launch(env=env)
        _, _, w, h = d.geometry()
        # The window as it opened, seen through a small part of it: shrinking
        # keeps the top left (north-west bit gravity) without a repaint.
        d.move(0, 0)
        d.resize(400, 300)
        d.expect_picture("window without a canvas", uniform(400, 300, WHITE))
        print("ok - %dx%d screen, no canvas: the %dx%d window shows its white background" % (
            width, height, w, h))
        d.close_window()
        e2e.expect_exit(d.process, 0, "without a canvas, after WM_DELETE_WINDOW", d.err_path,
                        allow_stderr=lambda line: "AddressSanitizer failed to allocate" in line)
        print("ok - closed with exit code 0")
        record("no_canvas_screen", "%dx%d" % (width, height))


def refused_window(args, workdir, when):
    """The server refuses the window (x11_refuse): one line naming the
    display, the request and the reason, exit code 1. "after-creation": a
    request refused once the window exists is no refusal of the window."""
    env = {"LD_PRELOAD": args.refuse, "X11_REFUSE": when or "creation"}
    if args.sanitized:
        env["ASAN_OPTIONS"] = os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
    with x11(args, workdir, (640, 480)) as d:
        if when == "after-creation":
            what = "with a request refused after the window was made"
            d.launch(env=env)
            d.expect_picture(what, d.expected())
            d.close_window()
            d.expect_closed(what)
            print("ok - an error after the window was made: the window stays, exit code 0")
            return
        d.launch(env=env, wait=False)
        stderr, _ = e2e.expect_exit(d.process, 1, "a refused window", d.err_path)
        e2e.expect_line(stderr, e2e.failure_lines(("refused", "x11"), name=d.display),
                        "a refused window")
        print("ok - a refused window: exit 1, %s" % stderr.strip())


def compositor_killed(args, workdir, rounds):
    """weston lost while the program starts or once its window is shown;
    sway lost while it resizes the window."""
    def disturb(d, moment, rng):
        if moment != "resized on sway":
            # Connecting, binding and setting up decorations take a few
            # milliseconds.
            time.sleep(rng.uniform(0.0, 0.1 if moment == "starting" else 0.2))
            return
        d.msg(d.criteria(), "floating", "enable")
        # Resizes queued in the compositor as it goes.
        d.msg("; ".join("%s resize set %d px %d px"
                        % (d.criteria(), rng.randrange(1, 900), rng.randrange(1, 700))
                        for _ in range(50)))

    killed_rounds(args, rounds, "compositor_killed",
                  ["starting", "window shown", "resized on sway"],
                  lambda moment: wayland_cases.SwayDriver(args, workdir, (800, 600))
                  if moment == "resized on sway" else wayland_cases.Weston(args, workdir,
                                                                           (640, 480)),
                  disturb)


def wayland_storm(args, workdir, count):
    """COUNT random floats, resizes (to 1x1 and beyond the output) and moves
    by sway: the program stays up, shows the canvas, ends with 0 on kill."""
    width, height = 1024, 768
    rng = random.Random(args.seed)
    with wayland_cases.SwayDriver(args, workdir, (width, height)) as d:
        expected = d.expected()
        d.launch()
        criteria = d.criteria()
        kinds = (lambda: "floating toggle",
                 lambda: "resize set %d px %d px" % (rng.randrange(1, 3 * width),
                                                     rng.randrange(1, 3 * height)),
                 lambda: "resize set 1 px 1 px",
                 lambda: "move position %d %d" % (rng.randrange(-width, width),
                                                  rng.randrange(-height, height)))
        commands = [kinds[rng.randrange(4)]() for _ in range(count)]
        for start in range(0, count, 50):
            d.msg("; ".join("%s %s" % (criteria, c) for c in commands[start:start + 50]),
                       all_must_succeed=False)
        d.expect_running("in the storm")
        # Put back: floating, inside the output.
        d.msg(criteria, "floating", "enable")
        d.msg(criteria, "resize", "set", "640 px", "480 px")
        d.msg(criteria, "move", "position", "10", "10")
        d.expect_picture("after the storm", expected)
        w, h = d.client_size()
        print("ok - %d sway commands; then the %dx%d client area shows the canvas" % (count, w, h))
        d.close_window()
        d.expect_closed("after swaymsg kill")
        print("ok - swaymsg kill ends it with exit code 0")
    record("wayland_storm_commands", count)


def stat(pid):
    """The process's state and the processor time it has used, in ticks."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return fields[0], int(fields[11]) + int(fields[12])  # utime and stime


def idle(pid):
    """True once the process is asleep and used no processor time over a
    tenth of a second: its first frame is done (on the largest outputs it
    takes seconds of touching fresh memory) and it waits for events."""
    first = stat(pid)
    time.sleep(0.1)
    return first[0] == "S" and stat(pid) == first


def wayland_screen(args, workdir, size):
    """On a WxH weston output the window opens and the program, idle once
    it has drawn its first frame, stays up until weston is killed; then
    its line comes within a second of its own time. (The exit may come
    later: the kernel takes a while to take down a process that has
    touched gigabytes, half a second here, a second with the sanitizers'
    shadow memory.)"""
    with wayland_cases.Weston(args, workdir, size) as d:
        d.launch()
        wait_until("the program idle on a %dx%d output" % size, lambda: idle(d.process.pid),
                   lambda: "still busy (exit %s)" % d.process.poll())
        d.expect_running("on a %dx%d output" % size)
        print("ok - on a %dx%d weston output the window opens" % size)
        clock = OwnClock(d.process)
        d.kill_display()
        what = "%dx%d output, weston killed" % size
        wait_until("the loss line", lambda: d.stderr() and [clock.check_within(
            what + ", its line", 1.0)], "none (exit %s)" % d.process.poll())
        expect_lost(d.process, d.lost_name(), what, d.err_path, timeout=e2e.DEADLINE)
    record("wayland_screen", "%dx%d" % size)


def hostile_compositor(args, workdir, mode):
    """On wayland_hostile_compositor in MODE (see its modes there): absurd
    sizes and keymaps, protocol errors, no buffers, closes with and
    without decorations, buffers never released or kept while shown."""
    check(args.hostile_compositor is not None, "--hostile-compositor is needed")
    with Compositor(workdir) as compositor:
        compositor.start([args.hostile_compositor, compositor.socket, mode, str(args.seed)])
        extra_env = None
        if mode == "client-side-decorations" and "ASAN_OPTIONS" in os.environ:
            # libdecor leaves an object of libwayland's behind (tests/lsan.supp);
            # libwayland keeps no frame pointers, so only the slow unwinder
            # gets the leak's stack back to libdecor, where the suppression
            # names it.
            extra_env = {"ASAN_OPTIONS": os.environ["ASAN_OPTIONS"] + ":fast_unwind_on_malloc=0"}
        # no-buffer: files, memfds too, are held to 32 KiB, less than any
        # window's pixels (SIGXFSZ ignored: the write fails instead).
        program = compositor.spawn_program(
            {"no-buffer": ["sh", "-c", "trap '' XFSZ; ulimit -f 64; exec \"$0\"", args.program],
             "keeps-buffers": args.states}.get(mode, args.program), extra_env)
        if mode == "no-buffer":
            expect_lost(program, compositor.socket, "no pixel buffer")
            return
        if mode == "protocol-error":
            expect_lost(program, compositor.socket, "protocol error")
            return
        if mode in ("close", "close-decorated", "client-side-decorations"):
            e2e.expect_exit(program, 0, "after xdg_toplevel.close", allow_stderr=lambda line: False)
            if mode == "client-side-decorations":
                # Refused server-side decorations, the window got libdecor's.
                check("subsurface" in compositor.log_tail(None),
                      "no decorations drawn by the program: " + compositor.log_tail())
                print("ok - refused server-side decorations, the window is framed by libdecor")
            print("ok - xdg_toplevel.close ends the program with exit code 0")
            return
        if mode == "keeps-buffers":
            wait_until("holding buffers", lambda: "kept 3" in compositor.log_tail(None) or
                       program.poll() is not None, compositor.log_tail)
            check("written while held" not in compositor.log_tail(None),
                  "the program wrote into a buffer the compositor held")
            print("ok - painted again at the same size, never into a buffer still held")
        time.sleep(2.0)
        check(program.poll() is None, "the program ended under the %s compositor: %r" % (
            mode, program.stderr.read().decode(errors="replace")
            if program.returncode is not None else ""))
        # Waiting, not spinning: once the compositor has nothing more to
        # say (its absurd sizes take a while to paint), a second of waiting
        # costs a few milliseconds of processor time.
        deadline = time.monotonic() + 20
        while True:
            ticks = stat(program.pid)[1]
            time.sleep(1.0)
            used = (stat(program.pid)[1] - ticks) / os.sysconf("SC_CLK_TCK")
            if used < 0.1:
                break
            check(time.monotonic() < deadline,
                  "the program still used %.2f s of processor time a second after 20 s" % used)
        print("ok - under the %s compositor the program stays up and idle (%.2f s busy in 1 s)"
              % (mode, used))
        compositor.kill()
        expect_lost(program, compositor.socket, "%s compositor killed" % mode)


def count(default):
    return lambda value: int(value or default)


def as_given(value):
    return value


# Each case: its function, and how it reads its value.
CASES = {
    "display-killed": (display_killed, count(6)), "storm": (storm, count(500)),
    "forged-destroy": (forged_destroy, as_given), "command-lines": (command_lines, as_given),
    "screen": (screen, parse_size), "no-canvas": (no_canvas, as_given),
    "refused-window": (refused_window, as_given),
    "compositor-killed": (compositor_killed, count(6)),
    "wayland-storm": (wayland_storm, count(300)), "wayland-screen": (wayland_screen, parse_size),
    "hostile-compositor": (hostile_compositor, as_given),
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--render", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--refuse", help="tests/hostile/x11_refuse, for refused-window")
    parser.add_argument("--hostile-compositor",
                        help="tests/hostile/wayland_hostile_compositor, for hostile-compositor")
    parser.add_argument("--sanitized", action="store_true",
                        help="the program is built with AddressSanitizer")
    parser.add_argument("--appkit", action="store_true",
                        help="the X11 cases through GNUstep's AppKit (see appkit_cases.py)")
    parser.add_argument("--states", help="tests/e2e/show_states, for keeps-buffers")
    parser.add_argument("--seed", type=int, default=int(os.environ.get("HOSTILE_SEED", "1")))
    parser.add_argument("case", choices=list(CASES))
    parser.add_argument("value", nargs="?")
    args = parser.parse_args()
    function, read = CASES[args.case]
    return e2e.run_case("ostrevane-hostile-",
                        lambda workdir: function(args, workdir, read(args.value)))


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())
