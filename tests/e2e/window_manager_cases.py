"""End-to-end cases under a real reparenting window manager: openbox on
Xvfb, driven through wmctrl as a user's desktop would drive it.

  openbox      the program's window gets a frame with a title bar and the
               caption as its title, carries its pid and host; the client
               area shows the canvas at its origin, also after another
               window covered and uncovered it and after maximising through
               the window manager; closing through the window manager ends
               the program with exit code 0
  window-rect  a window of our Win32 subset (window_rect_reporter) reports
               GetWindowRect after the window manager places, moves,
               resizes, maximises and restores it; each time it must equal
               the client area's place on the root as the X server has it;
               typed characters reach it as Windows-1252 WM_CHARs, and its
               LC_CTYPE stays "C" in a UTF-8 locale

The harness (ostrevane_e2e.py) runs these cases; they use its Session,
WindowCase, checks and picture helpers.
"""

import os
import time

from ostrevane_e2e import (TITLE, WindowCase, check, check_client_identity, expect_exit,
                           render_expected, require_tools, wait_until)


def start_openbox(session):
    """Starts openbox on the session's display and waits until it manages
    the screen (wmctrl -m answers with its name)."""
    wm = session.spawn(["openbox", "--sm-disable"])

    def managing():
        check(wm.poll() is None, "openbox exited at start (code %s)" % wm.poll())
        result = session.run(["wmctrl", "-m"], timeout=10)
        return result.returncode == 0 and "Openbox" in result.stdout

    wait_until("openbox", managing, "it did not take the screen within 15 s", 15, 0.1)
    return wm


def wmctrl(session, *argv):
    result = session.run(["wmctrl"] + list(argv), timeout=10)
    check(result.returncode == 0, "wmctrl %s failed: %s" % (" ".join(argv), result.stderr.strip()))
    return result.stdout


def listed(session, window):
    """wmctrl -l -p's entry for the window: (pid, title), or None."""
    for line in wmctrl(session, "-l", "-p").splitlines():
        fields = line.split(None, 4)
        if len(fields) >= 4 and int(fields[0], 16) == int(window, 16):
            return int(fields[2]), (fields[4] if len(fields) == 5 else "")
    return None


def maximise(session, window, on):
    wmctrl(session, "-i", "-r", window, "-b",
           ("add" if on else "remove") + ",maximized_vert,maximized_horz")


def wait_stable(case, what, timeout=5.0):
    """Waits until the client area's geometry stays the same for 0.3 s."""
    deadline = time.monotonic() + timeout
    last = case.geometry()
    since = time.monotonic()
    while time.monotonic() - since < 0.3:
        check(time.monotonic() < deadline, "%s: the window never came to rest" % what)
        time.sleep(0.05)
        now = case.geometry()
        if now != last:
            last, since = now, time.monotonic()
    return last


def close_through_window_manager(session, window, program, name):
    wmctrl(session, "-i", "-c", window)
    expect_exit(program, 5, 0, name + ", closed by the window manager", lambda line: False)


def openbox_case(args, session):
    require_tools("Xvfb", "openbox", "wmctrl")
    width, height = session.size
    expected = render_expected(args, session.workdir, session.size)
    session.start_xvfb()
    start_openbox(session)
    case = WindowCase(args, session, session.size)
    program = case.start()
    case.find()

    fields = case.info()
    check(fields.get("parent") == "frame", "openbox did not reparent the window into a frame")
    extents = [int(v) for v in fields.get("frame_extents", "0 0 0 0").split()]
    check(extents[2] > 0, "no title bar: frame extents %s" % extents)
    entry = listed(session, case.window)
    check(entry is not None, "wmctrl -l does not list the window")
    check(entry == (program.pid, TITLE),
          "wmctrl -l -p lists (pid, title) %s, expected %s" % (entry, (program.pid, TITLE)))
    check_client_identity(fields, program)
    print("ok - framed by openbox with a %d-pixel title bar titled %r (pid %d)"
          % (extents[2], TITLE, program.pid))

    case.expect_picture("first frame under openbox", expected)
    case.expect_repaint_after_cover(expected)
    print("ok - the client area shows the canvas at its origin, also after being covered")

    before = wait_stable(case, "before maximising")
    maximise(session, case.window, True)
    wait_until("maximising", lambda: case.geometry()[2] > before[2] and case.geometry()[3] > before[3],
               lambda: "geometry %s, was %s" % (case.geometry(), before))
    x, y, w, h = wait_stable(case, "maximised")
    check(x >= 0 and y >= 0 and x + w <= width and y + h <= height,
          "maximised client area (%d, %d) %dx%d is not on the %dx%d screen" % (x, y, w, h, width,
                                                                              height))
    case.expect_picture("after maximising", expected)
    check(program.poll() is None, "the program ended when maximised")
    print("ok - maximised through wmctrl to %dx%d at (%d, %d), the canvas still at its origin"
          % (w, h, x, y))

    close_through_window_manager(session, case.window, program, "the program")
    print("ok - closing through the window manager ends the program with exit code 0")


class Reporter:
    """The window_rect_reporter process, the last GetWindowRect it printed and
    the WM_CHARs it received."""

    def __init__(self, session, path, title):
        # A UTF-8 locale, as on most desktops.
        self.process = session.spawn([path, title], env=dict(session.env(), LC_ALL="C.UTF-8"))
        os.set_blocking(self.process.stdout.fileno(), False)
        self.buffer = b""
        self.rect = None
        self.chars = []
        self.ctype = None

    def last_rect(self):
        while True:
            try:
                chunk = os.read(self.process.stdout.fileno(), 4096)
            except BlockingIOError:
                break
            if not chunk:
                break
            self.buffer += chunk
        lines = self.buffer.split(b"\n")
        self.buffer = lines.pop()
        for line in lines:
            fields = line.split()
            if len(fields) == 5 and fields[0] == b"rect":
                self.rect = tuple(int(v) for v in fields[1:])
            elif len(fields) == 2 and fields[0] == b"char":
                self.chars.append(int(fields[1], 16))
            elif len(fields) == 2 and fields[0] == b"ctype":
                self.ctype = fields[1].decode()
        return self.rect

    def typed(self):
        self.last_rect()
        return self.chars


# Keys and the WM_CHARs of a Western Windows they give: e-acute, the euro
# sign and sharp s in Windows-1252, and '?' for omega, which it has not; a
# dead key composed with the next one.
TYPED = [(("eacute", "EuroSign", "ssharp", "Greek_OMEGA"), [0xE9, 0x80, 0xDF, 0x3F]),
         (("dead_acute", "e"), [0xE9])]


def expect_typed(case, reporter):
    case.xdotool("windowfocus", "--sync", case.window)
    for keys, want in TYPED:
        before = len(reporter.typed())
        # xdotool maps each key onto a spare keycode for its delay only:
        # long enough for the program to look it up.
        case.xdotool("key", "--delay", "150", *keys)
        wait_until("typing " + " ".join(keys), lambda: len(reporter.typed()) >= before + len(want),
                   lambda: "WM_CHARs %s" % reporter.chars)
        time.sleep(0.3)
        got = ["%02x" % c for c in reporter.typed()[before:]]
        check(got == ["%02x" % c for c in want], "typed %s: WM_CHARs %s" % (keys, got))
        print("ok - typed %s: WM_CHARs %s" % (" ".join(keys), " ".join(got)))


def window_rect_case(args, session):
    require_tools("Xvfb", "openbox", "wmctrl")
    check(args.reporter, "the window-rect case needs --reporter")
    title = "Ostrevane window rect"
    session.start_xvfb()
    start_openbox(session)
    reporter = Reporter(session, args.reporter, title)
    case = WindowCase(args, session, session.size)
    case.find(title)
    check(case.info().get("parent") == "frame", "openbox did not reparent the window")

    def agree(what, size=None):
        # First the X server's final geometry, then GetWindowRect must match it.
        if size is not None:
            case.wait_geometry(what, (None, None) + size)
        x, y, w, h = wait_stable(case, what)
        want = (x, y, x + w, y + h)
        wait_until(what, lambda: reporter.last_rect() == want,
                   lambda: "GetWindowRect %s, the X server's client area %s"
                   % (reporter.last_rect(), want))
        check(reporter.process.poll() is None, "%s: the reporter ended" % what)
        print("ok - %s: GetWindowRect %s matches the X server" % (what, want))

    agree("placed by openbox")
    # A part away from the left edge, uncovered, goes up alone (through
    # MIT-SHM): the reporter's columns must come back where they were.
    _, _, w, h = case.geometry()
    case.probe("cover", case.window, "300", str(w // 3), str(h // 4), str(w // 3), str(h // 2))
    stripes = b"".join(bytes((x % 256, 0, 128)) for x in range(w))
    case.expect_picture("part uncovered", (w, h, [stripes] * h))
    print("ok - a part uncovered away from the left edge shows its own columns again")
    expect_typed(case, reporter)
    wmctrl(session, "-i", "-r", case.window, "-e", "0,120,90,400,300")
    agree("moved and resized", (400, 300))
    wmctrl(session, "-i", "-r", case.window, "-e", "0,37,61,-1,-1")
    agree("moved")
    wmctrl(session, "-i", "-r", case.window, "-e", "0,-1,-1,251,177")
    agree("resized", (251, 177))
    maximise(session, case.window, True)
    agree("maximised")
    maximise(session, case.window, False)
    agree("restored", (251, 177))
    case.xdotool("windowmove", case.window, "300", "200")
    agree("moved by the client's own request")
    close_through_window_manager(session, case.window, reporter.process, "window_rect_reporter")
    print("ok - closing through the window manager ends it with exit code 0")
    reporter.typed()
    check(reporter.ctype == "C", "its LC_CTYPE is %r after typing" % reporter.ctype)


CASES = {"openbox": openbox_case, "window-rect": window_rect_case}
