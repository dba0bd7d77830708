#!/usr/bin/env python3
"""End-to-end tests: the program on every display it runs on, each behaviour
written once.

A driver starts one display and does there what a user does: it launches
the program (or a test program built on our layer), types at it, reads the
WM_CHARs a reporting program prints, looks at the client area's pixels,
resizes, covers and uncovers the window, closes it as a user would, and
kills the display. README's Tests section lists the drivers; they are in
x11_drivers.py, wayland_cases.py, web_cases.py and appkit_cases.py.

The cases below use that interface alone; TABLE says which drivers run each
of them. What concerns one display only (MIT-SHM, RandR, window manager
frames, xdg-decoration, sway's scale, the page's fallbacks and axe-core...)
sits beside its driver, in its OWN_CASES.

  ostrevane_e2e.py PATHS... DRIVER CASE [WxH]   runs one case on one driver
  ostrevane_e2e.py PATHS... --list             the tests, one per line:
                                               NAME LABEL,... DRIVER CASE WxH

Every wait is for a state (a window shown, a picture drawn, a process
ended) and is bounded by the one DEADLINE of tests/support. A case's missing
tools make it skip (exit code 77), except under CI=true, where they make
it fail. Every process a case starts is killed at its end.
"""

import argparse
import functools
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from ostrevane_support import (DEADLINE, SKIP, Closing, Failure, OwnClock, Processes, Skip,  # noqa
                               check, first_difference, read_png, unavailable, wait_exit,
                               wait_for_match, wait_until)

TITLE = "Ostrevane"
# Keys and the WM_CHARs a Western Windows gives for them: e-acute, the euro
# sign and sharp s in Windows-1252, 'O' for omega, its best fit there, and
# '?' for a character beyond the Basic Multilingual Plane; a dead acute
# composed with e.
TYPED = "\u00e9\u20ac\u00df\u03a9\U0001F600"
TYPED_CHARS = [0xE9, 0x80, 0xDF, 0x4F, 0x3F]
DEAD_CHARS = [0xE9]
# A key typed after each of those: once its WM_CHAR is there, so are all
# before it.
SENTINEL = "z"
# What a user types at the figure: none of it may change a pixel.
TEXT = "Hello, Ostrevane! q Q x 0123456789 -=[];'#,./"
KEYS = ("Escape", "Return", "space", "BackSpace", "Delete", "Tab", "Up", "Down", "Left", "Right",
        "Home", "End", "Prior", "Next", "Insert", "F1", "F2", "F5", "F10", "F11", "F12", "ctrl+c",
        "ctrl+w", "ctrl+q", "shift+Tab", "super+q")


# The one line the program ends with when its display cannot go on, after
# "ostrevane: ", for each kind of failure on each display that has it:
# {name} is the display's name, {runtime} XDG_RUNTIME_DIR. A lost Wayland
# connection gives the error the compositor's end left: a pipe broken as
# the program writes, or reset as it reads what the compositor never read.
PROGRAM = "ostrevane"
FAILURES = {
    ("unnamed", "x11"): 'cannot open display "" (DISPLAY is not set)',
    ("unnamed", "wayland"): "no Wayland compositor (WAYLAND_DISPLAY is not set and "
                            "{runtime}/wayland-0 does not exist)",
    ("cannot-open", "x11"): 'cannot open display "{name}"',
    ("cannot-open", "wayland"): 'cannot connect to Wayland compositor "{name}" '
                                "(No such file or directory)",
    ("cannot-open", "appkit"): "cannot open the AppKit display (Unable to connect to X Server "
                               "`{name}')",
    ("no-shell", "wayland"): 'Wayland compositor "{name}" offers no xdg_wm_base',
    ("no-module", "wayland"): "cannot load the Wayland display (ostrevane-wayland.so not found)",
    ("other-module", "wayland"): "cannot load the Wayland display (ostrevane-wayland.so is from "
                                 "another build)",
    # The displays of the build, with AppKit's or without it.
    ("unknown", "backend"): ('OSTREVANE_BACKEND is "{name}"; it must be appkit, wayland or x11',
                             'OSTREVANE_BACKEND is "{name}"; it must be wayland or x11'),
    ("lost", "x11"): 'lost the connection to display "{name}"',
    ("lost", "appkit"): 'lost the connection to display "{name}"',
    ("lost", "wayland"): ('lost the connection to Wayland compositor "{name}" (Broken pipe)',
                          'lost the connection to Wayland compositor "{name}" '
                          "(Connection reset by peer)"),
    ("refused", "x11"): 'display "{name}" refused a window: X_CreateWindow: BadValue (integer '
                        "parameter out of range for operation)",
}


def failure_lines(*rows, program=PROGRAM, **fields):
    """The lines the user may read for the failures `rows`, in the order the
    displays were tried: (kind, display), or (kind, display, name) where
    that display's name is not `fields`' own. Every choice of each one's
    text, joined as `program` joins them."""
    lines = [""]
    for row in rows:
        texts = FAILURES[row[:2]]
        texts = (texts,) if isinstance(texts, str) else texts
        names = dict(fields, **({"name": row[2]} if len(row) > 2 else {}))
        lines = [line + ("; " if line else "") + text.format(**names)
                 for line in lines for text in texts]
    return ["%s: %s" % (program, line) for line in lines]


def expect_line(stderr, lines, what):
    """stderr is one of `lines` (failure_lines), whole and alone."""
    check(stderr.splitlines() in [[line] for line in lines],
          "%s: stderr is %r, not %r" % (what, stderr, lines[0]))


def expect_exit(process, code, what, stderr_path=None, timeout=DEADLINE, allow_stderr=None,
                clock=None):
    """Waits for the process to end with `code`; each line of its stderr (the
    file stderr_path, or its pipe) must pass allow_stderr, when given
    (lambda line: False: none may be there). Returns stderr and the time the
    exit took (its own time, where `clock` was started before: OwnClock)."""
    started = time.monotonic()
    elapsed = clock.wait() if clock is not None else None
    got = wait_exit(process, timeout)
    elapsed = elapsed if elapsed is not None else time.monotonic() - started
    check(got is not None, "%s: still running %.1f s later" % (what, timeout))
    if stderr_path is not None:
        with open(stderr_path, "rb") as f:
            stderr = f.read().decode(errors="replace")
    else:
        stderr = process.stderr.read().decode(errors="replace") if process.stderr else ""
    check(got == code, "%s: exit code %s (stderr: %r)" % (what, got, stderr))
    if allow_stderr is not None:
        check(all(allow_stderr(line) for line in stderr.splitlines()),
              "%s: unexpected stderr: %r" % (what, stderr))
    return stderr, elapsed


def expect_lost(process, line, what, stderr_path=None, timeout=1.0, clock=None):
    """The program ends within `timeout` of its display's loss (of its own
    time, where `clock` was started at the loss: OwnClock.check_within)
    with exit code 1 and `line` (a name the line
    must hold, or the lines it may be: failure_lines) alone on stderr.
    Returns the time it took."""
    stderr, elapsed = expect_exit(process, 1, what, stderr_path, clock=clock)
    if clock is not None:
        elapsed = clock.check_within(what, timeout)
    lines = stderr.splitlines()
    if isinstance(line, str):
        check(len(lines) == 1 and line in lines[0],
              "%s: stderr does not name %s in one line: %r" % (what, line, stderr))
    else:
        expect_line(stderr, line, what)
    check(elapsed < timeout, "%s: took %.2f s to end" % (what, elapsed))
    print("ok - %s: exit 1 after %.3f s of its own: %s" % (what, elapsed, lines[0]))
    return elapsed


def render_expected(args, workdir, size, runner=None, render=None, cwd=None):
    """The canvas the program draws on a screen of the given size, by the
    render tool of the same build (under `runner`)."""
    name = "expected-%dx%d.png" % size
    result = subprocess.run(
        list(runner or []) +
        [render or args.render, "--size", "%dx%d" % size, "--output",
         name if cwd else os.path.join(workdir, name)],
        capture_output=True, text=True, timeout=DEADLINE, cwd=cwd)
    check(result.returncode == 0, "ostrevane-render failed: " + result.stderr.strip())
    expected = read_png(os.path.join(cwd or workdir, name))
    check(expected[:2] == size, "render size mismatch")
    return expected


def parse_size(text):
    return tuple(int(v) for v in text.split("x"))


# --- Drivers -------------------------------------------------------------------


class Driver(Closing):
    """One display and the program on it. A driver starts its display on the
    first launch (and again after kill_display); everything it started ends
    with close(). Each display provides, as it can:

      start()                      the display
      spawn(argv, env, out, err)   a process on it (out, err: files)
      wait_window(title)           until the window is shown
      capture() / difference(expected)   the client area's pixels / None if `expected` is at
                                   its top left
      type(text, keys)             types (keys: xdotool's names, "ctrl+c")
      sync(expected)               until the program has taken all sent so far
      move(x, y) / resize(w, h)    and waits until it is so (False / the size the display gave)
      uncover(part)                covers and uncovers the client area (or its part x, y, w, h)
      close_window()               as a user closes it
      burst()                      configures and key presses sent at once
      kill_display(how), lost_name()   the display lost, and its name
      lost_line()                  the lines the program may end with then
      check_identity()             what the display says of the window
    """

    name = None
    labels = ()
    # No window manager stands between the test and the window's place.
    free = False
    # The screen sizes the picture case runs at, when not TABLE's.
    sizes = None
    # Keys the display keeps for itself (a window manager's close binding).
    kept_keys = ()
    # What the program's line calls its display (FAILURES).
    display_kind = "x11"
    OWN_CASES = {}

    def __init__(self, args, workdir, size):
        self.args = args
        self.workdir = workdir
        self.size = size
        self.metrics = size  # the program's screen
        self.processes = Processes()
        self.process = None
        self.running = False
        self.launches = 0
        self.runner = []  # what the program runs under (qemu-user, Wine, memcheck)

    def close(self):
        self.processes.close()

    def difference(self, expected):
        return first_difference(self.capture(), expected)

    def client_size(self):
        return self.capture()[:2]

    def type_dead_acute_e(self):
        self.type(keys=("dead_acute", "e"))

    def move(self, x, y):
        return False

    def check_identity(self):
        pass

    def lost_line(self):
        return failure_lines(("lost", self.display_kind), name=self.lost_name())

    # --- shared ---
    def program_path(self, kind):
        path = getattr(self.args, kind)
        if not path or not os.path.exists(path):
            unavailable("no %s (not built)" % (path or kind))
        return path

    def launch(self, kind="program", argv=(), env=None, title=None, wait=True):
        """Starts the program (or `kind`: reporter, states) and, with `wait`,
        waits until its window is shown."""
        if not self.running:
            self.start()
            self.running = True
        self.launches += 1
        self.out_path = os.path.join(self.workdir, "out-%d" % self.launches)
        self.err_path = os.path.join(self.workdir, "err-%d" % self.launches)
        self.out_offset = 0
        self.output = []
        self.title = title or {"program": TITLE, "reporter": "Typed characters",
                               "states": "Show states"}[kind]
        env = dict(env or {})
        if kind == "reporter":
            # Captioned by its argument; in a UTF-8 locale, as on most desktops.
            argv = [self.title]
            env["LC_ALL"] = "C.UTF-8"
        # Output into files, never pipes: what the program leaves running
        # (Wine's server, GNUstep's helpers) could hold a pipe open.
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.process = self.spawn(self.runner + [self.program_path(kind)] + list(argv), env,
                                      out, err)
        if wait:
            self.wait_window(self.title)
        return self.process

    def first_frame(self):
        """Launches the program and waits for its first frame: the render
        tool's canvas, which it returns."""
        expected = self.expected()
        self.launch()
        self.expect_picture("first frame", expected)
        return expected

    def expect_running(self, what):
        check(self.process.poll() is None, "%s: the program ended (code %s): %s"
              % (what, self.process.returncode, self.stderr()))

    def stderr(self):
        if getattr(self, "err_path", None) is None:
            return ""
        with open(self.err_path, "rb") as f:
            return f.read().decode(errors="replace").strip()

    def output_lines(self):
        """The lines the program has printed since it started."""
        with open(self.out_path, "rb") as f:
            f.seek(self.out_offset)
            data = f.read()
        end = data.rfind(b"\n") + 1
        self.out_offset += end
        self.output += data[:end].decode(errors="replace").splitlines()
        return self.output

    def chars(self):
        return [int(line.split()[1], 16) for line in self.output_lines()
                if line.startswith("char ")]

    def expect_picture(self, what, expected, timeout=DEADLINE):
        wait_for_match(what, lambda: self.difference(expected), timeout)

    def expected(self, size=None):
        return render_expected(self.args, self.workdir, size or self.metrics)

    def expect_closed(self, what):
        expect_exit(self.process, 0, what, self.err_path, allow_stderr=lambda line: False)


# --- Cases ---------------------------------------------------------------------


def picture_case(d):
    """The window, captioned and ignoring its command line, shows exactly the
    render tool's canvas of its screen at the top left of its client area
    (white beyond it)."""
    expected = d.expected()
    d.launch(argv=["--size", "1x1", "-h", "arg with spaces", "\u00e9\u00e8", ""])
    d.check_identity()
    d.expect_picture("first frame", expected)
    w, h = d.client_size()
    check(0 < w <= d.metrics[0] and 0 < h <= d.metrics[1],
          "default client area %dx%d does not fit the %dx%d screen" % ((w, h) + d.metrics))
    print("ok - %s %dx%d: the %dx%d client area shows the canvas" % ((d.name,) + d.size + (w, h)))


def keys_case(d, text=TEXT, keys=KEYS):
    """Typed text, special keys and shortcuts change no pixel and do not end
    the program."""
    expected = d.first_frame()
    d.type(text, [key for key in keys if key not in d.kept_keys])
    d.sync(expected)
    d.expect_running("after typed keys")
    d.expect_picture("after typing", expected, timeout=0)
    print("ok - %s: typed keys change nothing" % d.name)


def chars_case(d):
    """Typed characters reach a window of our layer as Windows-1252 WM_CHARs;
    a dead key composes with the next; the program's LC_CTYPE stays "C" in
    a UTF-8 locale."""
    d.launch("reporter")
    for what, send, want in (("typed " + TYPED, lambda: d.type(TYPED), TYPED_CHARS),
                             ("dead acute, e", d.type_dead_acute_e, DEAD_CHARS)):
        before = len(d.chars())
        send()
        d.type(SENTINEL)
        wait_until(what, lambda: ord(SENTINEL) in d.chars()[before:],
                   lambda: "WM_CHARs %s" % ["%02x" % c for c in d.chars()[before:]])
        got = ["%02x" % c for c in d.chars()[before:]]
        check(got == ["%02x" % c for c in want + [ord(SENTINEL)]],
              "%s: WM_CHARs %s" % (what, " ".join(got)))
        print("ok - %s, %s: WM_CHARs %s" % (d.name, what, " ".join(got[:-1])))
    d.close_window()
    d.expect_closed("the reporter")
    ctype = [line.split()[1] for line in d.output_lines() if line.startswith("ctype ")]
    check(ctype == ["C"], "its LC_CTYPE is %s after typing" % ctype)


def resize_case(d):
    """Moved (where the display lets the test move it), shrunk and grown, and
    where no window manager stands in the way at the screen's own size, the
    window keeps the picture where it was in the client area."""
    expected = d.first_frame()
    width, height = d.metrics
    if d.move(37, 23):
        d.expect_picture("moved", expected)
    for size in ((211, 97), (width - 100, height - 100)):
        got = d.resize(*size)
        d.expect_picture("resized to %dx%d" % tuple(got), expected)
    if d.free:
        d.move(0, 0)
        d.resize(width, height)
        d.expect_picture("at the screen's size", expected)
    d.expect_running("after resizing")
    print("ok - %s: moving and resizing keep the picture in place" % d.name)


def uncover_case(d):
    """A covered part of the client area is painted again once uncovered:
    the whole, and a part away from the left edge."""
    expected = d.first_frame()
    w, h = d.client_size()
    for part in (None, (w // 3, h // 4, w // 3, h // 2)):
        d.uncover(part)
        d.expect_picture("uncovered %s" % (part or "whole",), expected)
    print("ok - %s: what was covered is shown again" % d.name)


def close_case(d):
    """Closing the window as a user does ends the program with exit code 0
    and nothing on stderr."""
    expected = d.first_frame()
    d.close_window()
    d.expect_closed("after closing the window")
    print("ok - %s: closing the window ends the program with exit code 0" % d.name)


def lost_case(d, backlog=False, repeat=1, how=signal.SIGKILL):
    """The display lost under the program (killed, or shut down with `how`)
    ends it within a second with exit code 1 and one line naming the
    display: drawn and waiting, or with a backlog of configures and keys
    queued for it; `repeat` times, each on a display of its own."""
    expected = d.expected()
    for _ in range(repeat):
        d.launch()
        d.expect_picture("first frame", expected)
        if backlog:
            d.burst()
        line, clock = d.lost_line(), OwnClock(d.process)
        d.kill_display(how)
        expect_lost(d.process, line, "%s lost%s" % (d.name, " with a backlog" if backlog else ""),
                    d.err_path, clock=clock)


X11 = ("xvfb", "openbox", "remote", "qemu", "appkit")
WEB = ("chromium", "firefox", "webkit")
WINDOW = X11 + ("appkit-openbox", "wine", "sway") + WEB
# Each shared case, the drivers it applies to, and the screen sizes it runs
# at. A new case is a function and a row.
TABLE = {
    "picture": (picture_case, WINDOW + ("weston",), ("800x600", "1023x767")),
    "keys": (keys_case, WINDOW, ("800x600",)),
    "chars": (chars_case, ("xvfb", "openbox", "remote", "appkit", "sway") + WEB, ("800x600",)),
    "resize": (resize_case, WINDOW, ("800x600",)),
    "uncover": (uncover_case, X11 + ("wine",), ("800x600",)),
    "close": (close_case, WINDOW, ("800x600",)),
    "lost": (lost_case, X11 + ("weston", "sway"), ("640x480",)),
    "lost-backlog": (functools.partial(lost_case, backlog=True), X11 + ("sway",), ("640x480",)),
}


def drivers():
    """Every driver by name, and its module's own cases."""
    import appkit_cases
    import wayland_cases
    import web_cases
    import x11_drivers
    found = {}
    for module in (x11_drivers, wayland_cases, web_cases, appkit_cases):
        for driver in module.DRIVERS:
            found[driver.name] = driver
    return found


def tests(args):
    """(name, labels, driver, case, size) for every test."""
    known = drivers()
    names = []
    for name, driver in known.items():
        if name == "qemu":
            names += [("qemu-" + arch, driver) for arch, _, _ in args.cross]
        else:
            names.append((name, driver))
    for name, driver in names:
        cases = [(case, fn, sizes) for case, (fn, applies, sizes) in TABLE.items()
                 if driver.name in applies]
        cases += [(case, fn, sizes) for case, (fn, sizes) in driver.OWN_CASES.items()]
        for case, fn, sizes in cases:
            if case == "picture" and driver.sizes:
                sizes = driver.sizes
            for size in sizes:
                test = "e2e_%s_%s" % (name, case)
                if len(sizes) > 1 or case == "picture":
                    test += "_" + size
                labels = ("e2e",) + driver.labels + ((name[5:],) if name != driver.name else ())
                yield test.replace("-", "_"), ";".join(labels), name, case, size, fn


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--render", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--reporter", help="window_rect_reporter")
    parser.add_argument("--states", help="tests/e2e/show_states")
    parser.add_argument("--other-module", help="a Wayland module of another build")
    parser.add_argument("--web", help="the built web version (dist/web)")
    parser.add_argument("--web-build", help="the web build (build/web), for its reporter")
    parser.add_argument("--axe", help="axe-core's axe.min.js")
    parser.add_argument("--windows-build", help="the Windows build (mingw preset), for wine")
    parser.add_argument("--cross", nargs=3, action="append", default=[],
                        metavar=("ARCH", "BUILD_DIR", "RUNNER"),
                        help="another architecture's build and what runs it (qemu-ARCH)")
    parser.add_argument("--list", action="store_true", help="list the tests and end")
    parser.add_argument("driver", nargs="?")
    parser.add_argument("case", nargs="?")
    parser.add_argument("size", nargs="?", default="800x600")
    args = parser.parse_args()
    # The driver modules import this harness by name: let them find this
    # run's one, whose Failure and Skip the runner catches.
    sys.modules.setdefault("ostrevane_e2e", sys.modules[__name__])
    table = {(name, case): fn for _, _, name, case, _, fn in tests(args)}
    if args.list:
        for test, labels, name, case, size, _ in tests(args):
            print(test, labels.replace(";", ","), name, case, size)
        return 0
    if (args.driver, args.case) not in table:
        parser.error("no case %r on driver %r; --list names them" % (args.case, args.driver))
    driver = drivers()[args.driver.split("-")[0] if args.driver.startswith("qemu-")
                       else args.driver]
    return run_case("ostrevane-e2e-", lambda workdir: run_on(
        driver, args, workdir, parse_size(args.size), table[(args.driver, args.case)]))


def run_on(driver, args, workdir, size, case):
    with driver(args, workdir, size) as d:
        case(d)


def run_case(prefix, body):
    """Runs body(workdir) in a fresh work folder, removed afterwards, and
    turns its outcome into the test's exit code: 0 passed, 1 failed, SKIP."""
    workdir = tempfile.mkdtemp(prefix=prefix)
    try:
        body(workdir)
    except Skip as skip:
        print("skipped - %s" % skip)
        return SKIP
    except (Failure, subprocess.TimeoutExpired) as failure:
        print("FAILED - %s" % failure)
        return 1
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())
