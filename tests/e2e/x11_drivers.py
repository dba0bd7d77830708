"""The X11 drivers of the end-to-end tests, all on an Xvfb of the case's own:
without a window manager (xvfb), under openbox (openbox), through the
latency proxy (remote), another architecture's build under qemu-user
(qemu-ARCH) and the Windows build under Wine (wine). x11_probe (tests/support)
finds, describes, covers, captures and closes the window; xdotool types and
moves; wmctrl acts as openbox's user.

Their own cases follow each driver.
"""

import ctypes
import functools
import fcntl
import json
import os
import select
import shlex
import signal
import socket
import struct
import subprocess
import termios
import time

import ostrevane_e2e as e2e
from ostrevane_e2e import check
from ostrevane_support import (DEADLINE, OwnClock, Processes, Skip, first_difference, read_ppm,
                               require_tools, start_proxy, start_xvfb, unavailable, wait_exit,
                               wait_until)

# Linux's system call that copies another process's file descriptor.
PIDFD_GETFD = 438

# Keysyms the cases type that a default keyboard map lacks; bound once, so
# that no key is remapped while the program reads it.
KEYSYMS = {"\u00e9": "eacute", "\u20ac": "EuroSign", "\u00df": "ssharp", "\u03a9": "Greek_OMEGA",
           "\U0001F600": "U1F600"}


class Xvfb(e2e.Driver):
    """The program on an Xvfb of its own, no window manager."""

    name = "xvfb"
    xvfb_args = ()
    prefix = ()  # what the program starts under
    backend = "x11"
    # No window manager: the window can be put anywhere, at any size.
    free = True

    window = None

    def start(self):
        require_tools("Xvfb", "xdotool")
        self.xvfb, self.display = start_xvfb(self.processes, self.size, self.xvfb_args)
        self.probe("keysyms", *(["dead_acute"] + list(KEYSYMS.values())))
        self.after_start()

    def after_start(self):
        pass

    def env(self, display=None):
        return dict(os.environ, DISPLAY=display or self.display, OSTREVANE_BACKEND=self.backend)

    def program_env(self):
        return self.env()

    def spawn(self, argv, env, stdout, stderr):
        # The program's connection will be the one the server does not hold yet.
        self.held = server_connections(self.xvfb)
        return self.processes.spawn(list(self.prefix) + argv,
                                    env=dict(self.program_env(), **env), stdout=stdout,
                                    stderr=stderr, cwd=self.workdir)

    def run(self, argv, what=None, timeout=DEADLINE):
        result = subprocess.run(argv, env=self.env(), capture_output=True, text=True,
                                timeout=timeout)
        check(result.returncode == 0 or what is None,
              "%s failed: %s" % (what, result.stderr.strip()))
        return result

    def probe(self, *argv):
        return self.run([self.args.probe] + list(argv), "x11_probe " + " ".join(argv)).stdout

    def xdotool(self, *argv):
        self.run(["xdotool"] + list(argv), "xdotool " + " ".join(argv))

    def wait_window(self, title):
        result = self.run([self.args.probe, "find", title, str(int(DEADLINE * 1000))])
        check(result.returncode == 0, "no window: %s (program exit %s): %s" % (
            result.stderr.strip(), self.process.poll(), self.stderr()))
        self.window = result.stdout.strip()

    def info(self):
        return dict(line.partition("=")[::2] for line in self.probe("info", self.window).split("\n")
                    if line)

    def geometry(self):
        return tuple(int(v) for v in self.info()["geometry"].split())

    def client_size(self):
        return self.geometry()[2:]

    def capture(self):
        path = os.path.join(self.workdir, "capture.ppm")
        self.probe("capture", self.window, path)
        return read_ppm(path)

    def check_identity(self, fields=None):
        fields = fields or self.info()
        check(fields["wm_name"] == self.title, "WM_NAME is %r" % fields["wm_name"])
        check(fields["net_wm_name"] == self.title, "_NET_WM_NAME is %r" % fields["net_wm_name"])
        # _NET_WM_PID and WM_CLIENT_MACHINE, so that a desktop can offer to
        # end a program that hangs.
        check(fields.get("net_wm_pid") == str(self.process.pid),
              "_NET_WM_PID is %s, the program's pid %d" % (fields.get("net_wm_pid"),
                                                           self.process.pid))
        check(fields.get("wm_client_machine") == socket.gethostname(),
              "WM_CLIENT_MACHINE is %r" % fields.get("wm_client_machine"))

    def type(self, text="", keys=()):
        self.xdotool("windowfocus", "--sync", self.window)
        if text and all(c in KEYSYMS or c.isascii() for c in text) and any(
                c in KEYSYMS for c in text):
            keys = [KEYSYMS.get(c, c) for c in text] + list(keys)
            text = ""
        if text:
            self.xdotool("type", "--delay", "2", text)
        if keys:
            self.xdotool("key", "--delay", "2", *keys)

    def sync(self, expected):
        # An Expose the server sends after everything typed so far: once it
        # is painted, the program has taken the keys before it.
        self.uncover((0, 0, 16, 16))
        self.expect_picture("after the keys", expected)

    def uncover(self, part=None):
        self.probe("cover", self.window, "0", *[str(v) for v in part or ()])

    def move(self, x, y):
        self.xdotool("windowmove", self.window, str(x), str(y))
        self.wait_geometry("moved to (%d, %d)" % (x, y), (x, y, None, None))
        return True

    def resize(self, width, height):
        self.xdotool("windowsize", self.window, str(width), str(height))
        return self.wait_geometry("resized to %dx%d" % (width, height),
                                  (None, None, width, height))[2:]

    def wait_geometry(self, what, want):
        got = [None]

        def there():
            got[0] = self.geometry()
            return all(w is None or w == g for w, g in zip(want, got[0])) and got[0]

        return wait_until(what, there, lambda: "window geometry %s, expected %s" % (got[0], want))

    def close_window(self):
        # A window manager sends WM_DELETE_WINDOW only to a window that
        # lists it in WM_PROTOCOLS.
        protocols = self.probe("protocols", self.window).split()
        check("WM_DELETE_WINDOW" in protocols, "WM_PROTOCOLS lists %s" % protocols)
        self.probe("close", self.window)

    def expect_closed(self, what):
        super().expect_closed(what)
        check(self.run([self.args.probe, "exists", self.window]).returncode == 1,
              "%s: the window is still there after the program ended" % what)

    def burst(self):
        self.probe("burst", self.window, "300")

    def lost_name(self):
        return self.display

    def wait_connected(self):
        """Until the program has connected to the X server (where no other
        client starts meanwhile: no window manager). A server gone before
        that leaves the display's number free for another one (another
        test's) to take, which the program would then connect to."""
        wait_until("the program's connection to " + self.display,
                   lambda: server_connections(self.xvfb) - self.held,
                   lambda: "none (program exit %s): %s" % (self.process.poll(), self.stderr()))

    def kill_display(self, how=signal.SIGKILL):
        self.xvfb.send_signal(how)
        wait_exit(self.xvfb)
        self.running = False

    def written(self):
        """Bytes the program has written so far."""
        with open("/proc/%d/io" % self.process.pid) as f:
            return int(dict(line.split(": ") for line in f.read().splitlines())["wchar"])


def transport_case(d, shared=True):
    """The window captioned, typed at, moved, shrunk and grown, uncovered in
    part and closed; what the program wrote while it repainted most of it
    tells whether the pixels went through shared memory (a few requests) or
    the socket (as fills and rectangles where they cost less than the image:
    for the figure's lines on black, some 1/80 of the pixels' bytes a
    repaint)."""
    expected = d.expected()
    d.launch()
    d.check_identity()
    d.expect_picture("first frame", expected)
    d.type(e2e.TEXT, e2e.KEYS)
    d.sync(expected)
    width, height = d.metrics
    d.move(37, 23)
    d.expect_picture("moved", expected)
    before = d.written()
    d.resize(211, 97)
    d.expect_picture("shrunk", expected)
    d.resize(width - 50, height - 30)
    d.expect_picture("grown", expected)
    written, client = d.written() - before, ((width - 50) * (height - 30) - 211 * 97) * 4
    check((written < client // 256) == shared, "%d bytes written for %d bytes of client pixels: "
          "the pixels did not go through %s" % (written, client,
                                                "MIT-SHM" if shared else "the socket"))
    print("ok - %s: pixels through %s (%d bytes written)"
          % (d.name, "MIT-SHM" if shared else "the socket", written))
    d.uncover((width // 3, height // 4, width // 3, height // 2))
    d.expect_picture("uncovered in part", expected)
    d.close_window()
    d.expect_closed("after closing the window")


def no_shm_case(d):
    """An Xvfb without MIT-SHM: the pixels go through the socket."""
    d.xvfb_args = ("-extension", "MIT-SHM")
    transport_case(d, shared=False)


def shm_attach_fails_case(d):
    """The program in an IPC namespace of its own: the server cannot attach
    its shared memory, and the pixels go through the socket."""
    require_tools("unshare")
    for prefix in (["unshare", "--ipc"], ["unshare", "--user", "--map-root-user", "--ipc"]):
        if subprocess.run(prefix + ["true"], capture_output=True, timeout=DEADLINE).returncode == 0:
            d.prefix = prefix
            return transport_case(d, shared=False)
    unavailable("cannot make an IPC namespace (unshare --ipc)")


def primary_case(d):
    """A RandR primary output smaller than the X screen is the program's
    screen."""
    d.size, d.metrics = (1024, 768), (640, 480)
    d.after_start = lambda: d.probe("primary", "640", "480")
    e2e.picture_case(d)


def screen_change_case(d):
    """The window procedure copies as much of the canvas as the screen is
    large, read again after a RandR change."""
    d.size = (1024, 768)
    expected = d.first_frame()
    d.probe("primary", "640", "480")
    # Shrinking and growing repaints all but the top-left corner.
    d.resize(50, 40)
    d.resize(1004, 748)
    d.expect_picture("after the screen became 640x480",
                     (640, 480, [row[:640 * 3] for row in expected[2][:480]]))
    d.expect_running("when the screen changed")
    d.close_window()
    d.expect_closed("after the screen change")
    print("ok - after the screen became 640x480 the window shows the canvas cut to it")


def server_connections(server):
    """The connected Unix sockets the X server process holds: one per
    client."""
    held = set()
    for fd in os.listdir("/proc/%d/fd" % server.pid):
        try:
            held.add(os.readlink("/proc/%d/fd/%s" % (server.pid, fd)))
        except OSError:
            pass
    with open("/proc/%d/net/unix" % server.pid) as f:
        # Num RefCount Protocol Flags Type St Inode [Path]; St 03: connected.
        rows = [line.split() for line in f.read().splitlines()[1:]]
    return held & {"socket:[%s]" % row[6] for row in rows if row[5] == "03"}


def expect_quick_failure(program, env, lines, what):
    """The program, run with `env`, exits with 1 at once (within a second of
    its own time: OwnClock.check_within) and one of `lines`
    (e2e.failure_lines) alone on stderr."""
    process = subprocess.Popen([program], env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    clock = OwnClock(process)
    check(clock.wait() is not None, "%s: still running %.0f s later" % (what, DEADLINE))
    elapsed = clock.check_within(what, 1.0)
    stdout, stderr = (data.decode(errors="replace") for data in process.communicate())
    check(process.returncode == 1, "%s: exit code %d" % (what, process.returncode))
    e2e.expect_line(stderr, lines, what)
    check(stdout == "", "%s: unexpected stdout: %r" % (what, stdout))
    print("ok - %s: %s (%.3f s)" % (what, stderr.strip(), elapsed))


def unserved_display():
    """A display number nobody serves: no socket, no lock file."""
    return ":%d" % next(n for n in range(173, 1000)
                        if not os.path.exists("/tmp/.X11-unix/X%d" % n)
                        and not os.path.exists("/tmp/.X%d-lock" % n))


def no_display_case(d):
    """No display: one line naming each one tried, exit code 1 at once (also
    with OSTREVANE_BACKEND forcing one)."""
    display = unserved_display()
    # A runtime folder without a compositor's socket.
    runtime = os.path.join(d.workdir, "runtime")
    os.mkdir(runtime, 0o700)
    base = {key: value for key, value in os.environ.items()
            if key not in ("DISPLAY", "WAYLAND_DISPLAY", "OSTREVANE_BACKEND")}
    base["XDG_RUNTIME_DIR"] = runtime
    nobody = "ostrevane-nobody"
    wayland = ("cannot-open", "wayland", nobody)
    # What the environment names, and the line for the displays it leaves,
    # in the order the program tries them.
    for what, env, rows in (
            ("nothing named", {}, (("unnamed", "wayland"), ("unnamed", "x11"))),
            ("DISPLAY unserved", {"DISPLAY": display},
             (("unnamed", "wayland"), ("cannot-open", "x11"))),
            ("WAYLAND_DISPLAY and DISPLAY unserved",
             {"DISPLAY": display, "WAYLAND_DISPLAY": nobody}, (wayland, ("cannot-open", "x11"))),
            # Forced: only the named one is tried.
            ("OSTREVANE_BACKEND=wayland",
             {"DISPLAY": display, "WAYLAND_DISPLAY": nobody, "OSTREVANE_BACKEND": "wayland"},
             (wayland,)),
            ("OSTREVANE_BACKEND=x11",
             {"DISPLAY": display, "WAYLAND_DISPLAY": nobody, "OSTREVANE_BACKEND": "x11"},
             (("cannot-open", "x11"),)),
            ("OSTREVANE_BACKEND=mir", {"DISPLAY": display, "OSTREVANE_BACKEND": "mir"},
             (("unknown", "backend", "mir"),))):
        expect_quick_failure(d.args.program, dict(base, **env),
                             e2e.failure_lines(*rows, name=display, runtime=runtime), what)


def lost_each_turn_case(d):
    """The display goes away at each of the program's turns in turn (what it
    sends when it has heard from the server: each question, each answer to
    an event), through a proxy that ends the connection there: while it
    opens the display, draws the first frame, asks what it asks after it,
    and, once the picture is there, closes the window. Every loss ends the
    program with exit code 1 and one line, never a signal."""
    expected = d.expected()
    d.start()
    d.running = True
    turn = 0
    while True:
        turn += 1
        with Processes() as link:
            proxy, display = start_proxy(link, d.display, 0, 0, lose_at_turn=turn)
            d.program_env = lambda: d.env(display)
            d.window = None
            with open(os.path.join(d.workdir, "err"), "wb") as err:
                d.process = d.spawn(d.runner + [d.program_path("program")], {},
                                    subprocess.DEVNULL, err)
            d.err_path = err.name

            def outcome():
                ready, _, _ = select.select([proxy.stdout], [], [], 0)
                if ready:
                    return proxy.stdout.readline().decode().strip() or "proxy ended"
                if d.process.poll() is not None:
                    return "exit %d" % d.process.returncode
                # Once the picture is whole, the window is closed as a window
                # manager closes it: the rest of the program's turns follow.
                # The window may go at any moment, its display with it.
                if d.window is None:
                    found = d.run([d.args.probe, "find", e2e.TITLE, "0"])
                    capture = os.path.join(d.workdir, "capture.ppm")
                    if (found.returncode == 0 and d.run([d.args.probe, "capture", found.stdout.strip(),
                                                         capture]).returncode == 0
                            and first_difference(read_ppm(capture), expected) is None):
                        d.window = found.stdout.strip()
                        d.run([d.args.probe, "close", d.window])
                return None

            what = "losing %s at turn %d" % (display, turn)
            result = wait_until(what, outcome, "neither lost nor ended", interval=0.02)
            closed, lost = d.window is not None, result.startswith("lost at turn")
            clock = OwnClock(d.process)
            ended, code = clock.wait() is not None, wait_exit(d.process)
            stderr = d.stderr()
            if lost and not (closed and code == 0):
                check(code == 1, "%s: exit %s, stderr %r" % (what, code, stderr))
                # Before the display is open it was never there to lose.
                e2e.expect_line(stderr, e2e.failure_lines(
                    ("cannot-open" if turn == 1 else "lost", "x11"), name=display), what)
                print("ok - %s: %s" % (what, stderr.strip()))
                check(ended, "%s: still running %.0f s later" % (what, DEADLINE))
                clock.check_within(what, 1.0)
                continue
            # The program ran to its end before this turn came, or ended as a
            # close ends it before it saw the loss.
            check(code == 0 and stderr == "", "%s: exit %s, stderr %r" % (what, code, stderr))
            if lost:
                print("ok - %s: the close came first: exit 0, nothing on stderr" % what)
                continue
            check(closed and turn > 10, "%s: %s after %d turns%s" % (
                what, result, turn - 1, "" if closed else ", its window never closed"))
            print("ok - the display lost at each of its %d turns" % (turn - 1))
            return


def queued_bytes(pid):
    """What the X server has sent the process that it has not read yet: the
    bytes waiting at its sockets (FIONREAD on a copy of each, pidfd_getfd),
    or None where Linux will not give the copies."""
    libc = ctypes.CDLL(None, use_errno=True)
    pidfd = os.pidfd_open(pid)
    total = 0
    try:
        for fd in os.listdir("/proc/%d/fd" % pid):
            if not os.readlink("/proc/%d/fd/%s" % (pid, fd)).startswith("socket:"):
                continue
            copy = libc.syscall(PIDFD_GETFD, pidfd, int(fd), 0)
            if copy < 0:
                return None
            try:
                total += struct.unpack("i", fcntl.ioctl(copy, termios.FIONREAD, b"\0" * 4))[0]
            finally:
                os.close(copy)
    finally:
        os.close(pidfd)
    return total


def lost_queued_case(d, held=False):
    """The server goes while a burst of key presses waits, unread, at the
    program's connection: the program ends with exit code 1 and its line
    within its bound, without handling one of them (the reporter prints no
    WM_CHAR).

    `held` (under a window manager): the burst is read while the server
    still runs, and the server goes while most of it waits in Xlib's queue,
    which Xlib hands out without reading the connection. A resize made
    before the burst arrives first, and the program's round trip for the
    frame's position reads everything behind it into Xlib's queue; the
    reporter holds the first key behind the resize ("c") until the server
    has gone. Only that key may be handled."""
    hold = os.path.join(d.workdir, "hold")
    os.mkfifo(hold)
    d.launch("reporter", env={"REPORTER_HOLD": "%02x %s" % (ord("c"), hold)} if held else None)
    d.type("a")
    wait_until("the first key", lambda: d.chars() == [ord("a")], lambda: d.chars())
    # More than Xlib reads at once (XCB's 4 KiB: 128 events), fewer than the
    # socket holds of the server's writes of one event each (some 270).
    # Held: more than the program takes from Xlib's queue at each of the
    # few turns before the held key (256 events each).
    presses, unread = (1000 if held else 250), 160 * 32
    handled = [ord("a")] + [ord("c")] * held
    os.kill(d.process.pid, signal.SIGSTOP)
    try:
        if held:
            d.resize(400, 300)
        d.xdotool("type", "--delay", "0", "c" * held + "b" * presses)

        def burst_queued():
            # An event is 32 bytes.
            queued = queued_bytes(d.process.pid)
            return "unseen" if queued is None else queued >= unread and queued
        got = wait_until("the burst at the program's connection", burst_queued,
                         lambda: "%s bytes queued" % queued_bytes(d.process.pid))
        if got == "unseen":
            unavailable("pidfd_getfd is not allowed here: the bytes queued cannot be seen")
        if held:
            os.kill(d.process.pid, signal.SIGCONT)
            wait_until("the held key", lambda: d.chars() == handled, lambda: d.chars())
            left = queued_bytes(d.process.pid)
            check(left < unread, "the burst was not read: %d bytes wait at the socket" % left)
        d.kill_display()
        clock = OwnClock(d.process)
    finally:
        os.kill(d.process.pid, signal.SIGCONT)
        if held:
            try:  # the reporter goes on, if it holds
                os.close(os.open(hold, os.O_WRONLY | os.O_NONBLOCK))
            except OSError:
                pass
    e2e.expect_lost(d.process, e2e.failure_lines(("lost", "x11"), name=d.display,
                                                 program="window_rect_reporter"),
                    "lost with %d bytes of events %s" % (got, "read" if held else "unread"),
                    d.err_path, clock=clock)
    check(d.chars() == handled, "WM_CHARs handled after the server went: %d (its last lines: %s)"
          % (len(d.chars()) - len(handled), d.output_lines()[-3:]))


Xvfb.OWN_CASES = {
    "lost-each-turn": (lost_each_turn_case, ("640x480",)),
    "lost-queued": (lost_queued_case, ("640x480",)),
    "transport": (transport_case, ("800x600",)),
    "no-shm": (no_shm_case, ("800x600",)),
    "shm-attach-fails": (shm_attach_fails_case, ("800x600",)),
    "primary": (primary_case, ("640x480",)),
    "screen-change": (screen_change_case, ("1024x768",)),
    "no-display": (no_display_case, ("800x600",)),
}


class Openbox(Xvfb):
    """Xvfb under openbox, driven through wmctrl as a user's desktop would
    drive it."""

    name = "openbox"
    # openbox closes the window on Alt+F4.
    kept_keys = ("alt+F4",)
    free = False

    def after_start(self):
        """openbox, once it manages the screen. It says it is there
        (_NET_SUPPORTING_WM_CHECK) at the start of its own start-up, but a
        window mapped before that start-up ends may never be managed:
        openbox keeps the events it reads while starting in a queue of its
        own, which it looks at only when the next event arrives. Its
        --startup command runs once it has started."""
        require_tools("openbox", "wmctrl")
        ready = os.path.join(self.workdir, "openbox-started")
        wm = self.processes.spawn(["openbox", "--sm-disable", "--startup", "touch " + ready],
                                  env=self.env(), stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)

        def managing():
            check(wm.poll() is None, "openbox exited at start (code %s)" % wm.poll())
            return os.path.exists(ready) and "Openbox" in self.run(["wmctrl", "-m"]).stdout

        wait_until("openbox", managing, "it did not take the screen", interval=0.01)

    def wmctrl(self, *argv):
        return self.run(["wmctrl"] + list(argv), "wmctrl " + " ".join(argv)).stdout

    def move(self, x, y):
        """Moves the frame, whose borders and title bar lie around the
        client area."""
        self.xdotool("windowmove", self.window, str(x), str(y))
        left, _, top, _ = (int(v) for v in self.info()["frame_extents"].split())
        self.wait_geometry("moved to (%d, %d)" % (x, y), (x + left, y + top, None, None))
        return True

    def check_identity(self, fields=None):
        fields = self.info()
        super().check_identity(fields)
        check(fields.get("parent") == "frame", "openbox did not reparent the window into a frame")
        extents = [int(v) for v in fields.get("frame_extents", "0 0 0 0").split()]
        check(extents[2] > 0, "no title bar: frame extents %s" % extents)
        entry = None
        for line in self.wmctrl("-l", "-p").splitlines():
            words = line.split(None, 4)
            if len(words) >= 4 and int(words[0], 16) == int(self.window, 16):
                entry = int(words[2]), (words[4] if len(words) == 5 else "")
        check(entry == (self.process.pid, self.title),
              "wmctrl -l -p lists (pid, title) %s, expected %s" % (entry, (self.process.pid,
                                                                           self.title)))
        print("ok - framed by openbox with a %d-pixel title bar titled %r" % (extents[2],
                                                                              self.title))

    def maximise(self, on):
        self.wmctrl("-i", "-r", self.window, "-b",
                    ("add" if on else "remove") + ",maximized_vert,maximized_horz")

    def wait_stable(self, what):
        """The client area's geometry once it has stayed the same for 0.3 s
        (a window manager may move a window in several steps)."""
        last = [self.geometry(), time.monotonic()]

        def resting():
            now = self.geometry()
            if now != last[0]:
                last[:] = [now, time.monotonic()]
            return time.monotonic() - last[1] >= 0.3 and now

        return wait_until(what, resting, "the window never came to rest")

    def close_window(self):
        self.wmctrl("-i", "-c", self.window)


def maximise_case(d):
    """Maximised through wmctrl, the canvas stays at the client area's
    origin."""
    expected = d.first_frame()
    before = d.wait_stable("before maximising")
    d.maximise(True)
    wait_until("maximising", lambda: d.geometry()[2] > before[2] and d.geometry()[3] > before[3],
               lambda: "geometry %s, was %s" % (d.geometry(), before))
    x, y, w, h = d.wait_stable("maximised")
    check(x >= 0 and y >= 0 and x + w <= d.size[0] and y + h <= d.size[1],
          "maximised client area (%d, %d) %dx%d is not on the screen" % (x, y, w, h))
    d.expect_picture("after maximising", expected)
    d.expect_running("when maximised")
    print("ok - maximised through wmctrl to %dx%d at (%d, %d), the canvas still at its origin"
          % (w, h, x, y))


def window_rect_case(d):
    """GetWindowRect (window_rect_reporter) equals the client area's place on
    the root as the X server has it, after openbox places, moves, resizes,
    maximises and restores the window; a part uncovered away from the left
    edge shows its own columns again."""
    d.launch("reporter", title="Ostrevane window rect")

    def last_rect():
        rects = [line.split()[1:] for line in d.output_lines() if line.startswith("rect ")]
        return tuple(int(v) for v in rects[-1]) if rects else None

    def agree(what, size=None):
        # First the X server's final geometry, then GetWindowRect must match it.
        if size is not None:
            d.wait_geometry(what, (None, None) + size)
        x, y, w, h = d.wait_stable(what)
        want = (x, y, x + w, y + h)
        wait_until(what, lambda: last_rect() == want,
                   lambda: "GetWindowRect %s, the X server's client area %s" % (last_rect(), want))
        d.expect_running(what)
        print("ok - %s: GetWindowRect %s matches the X server" % (what, want))

    agree("placed by openbox")
    # A part away from the left edge, uncovered, goes up alone (through
    # MIT-SHM): the reporter's columns must come back where they were.
    _, _, w, h = d.geometry()
    d.uncover((w // 3, h // 4, w // 3, h // 2))
    d.expect_picture("part uncovered", (w, h, [b"".join(bytes((x % 256, 0, 128))
                                                        for x in range(w))] * h))
    print("ok - a part uncovered away from the left edge shows its own columns again")
    for what, geometry, size in (("moved and resized", "0,120,90,400,300", (400, 300)),
                                 ("moved", "0,37,61,-1,-1", None),
                                 ("resized", "0,-1,-1,251,177", (251, 177))):
        d.wmctrl("-i", "-r", d.window, "-e", geometry)
        agree(what, size)
    d.maximise(True)
    agree("maximised")
    d.maximise(False)
    agree("restored", (251, 177))
    d.xdotool("windowmove", d.window, "300", "200")
    agree("moved by the client's own request")
    d.close_window()
    d.expect_closed("window_rect_reporter, closed by the window manager")


Openbox.OWN_CASES = {"maximise": (maximise_case, ("1024x768",)),
                     "window-rect": (window_rect_case, ("1024x768",)),
                     "lost-queued-read": (functools.partial(lost_queued_case, held=True),
                                          ("640x480",))}


class Remote(Xvfb):
    """A display elsewhere: the program on a TCP display through the
    latency proxy (10 ms each way, 20 Mbit/s); the probe sees Xvfb itself."""

    name = "remote"
    proxy_log = None  # where the proxy notes each connection's bytes

    def after_start(self):
        self.proxy, self.remote = start_proxy(self.processes, self.display, 10, 20,
                                              self.proxy_log)

    def program_env(self):
        return self.env(self.remote)

    def lost_name(self):
        return self.remote


# What the program sends the X server, all told, from its connection to its
# close, with the figure's first frame on a screen of each size: the
# frame's fills and rectangles, and some kilobytes of set-up. Only the
# pixels and the encoder decide it.
FRAME_BYTES = {(1920, 1080): 20548, (3840, 2160): 22344}


def frame_bytes_case(d):
    """The bytes of the figure's first frame on the remote path, counted at
    the proxy, are within 2% of FRAME_BYTES: a change that sends more for
    the same pixels fails."""
    d.proxy_log = os.path.join(d.workdir, "proxy.log")
    d.first_frame()
    d.close_window()
    d.expect_closed("after the first frame")

    def logged():
        with open(d.proxy_log) as f:
            return [json.loads(line) for line in f]

    connections = wait_until("the proxy's note of the connection", logged, "none")
    check(len(connections) == 1, "%d connections through the proxy" % len(connections))
    sent = sum(n for _, way, n in connections[0]["chunks"] if way == "c")
    want = FRAME_BYTES[d.size]
    check(abs(sent - want) <= want * 0.02, "%d bytes sent for the %dx%d frame, %d before"
          % ((sent,) + d.size + (want,)))
    print("ok - %dx%d: %d bytes sent, %d before" % (d.size + (sent, want)))


def over_other_pixels_case(d):
    """On a server that fills new windows white (its root white: -wr), the
    program's screen a 640x480 output of a 1024x768 X screen, the window
    grown to 800x600 beyond its canvas (shown out of its own pixels, white
    past the canvas) and covered whole by another window: once uncovered,
    every pixel is the program's again, black ones too."""
    d.xvfb_args = ("-wr",)
    d.size, d.metrics = (1024, 768), (640, 480)
    start_proxy = d.after_start
    d.after_start = lambda: (d.probe("primary", "640", "480"), start_proxy())
    canvas = d.first_frame()
    d.resize(800, 600)
    white = b"\xff\xff\xff"
    expected = (800, 600, [row + white * 160 for row in canvas[2]] + [white * 800] * 120)
    d.expect_picture("grown beyond the canvas", expected)
    d.uncover()
    d.expect_picture("uncovered", expected)
    print("ok - remote: what lay over the window is painted over, black too")


Remote.OWN_CASES = {"transport": (lambda d: transport_case(d, shared=False), ("800x600",)),
                    "over-other-pixels": (over_other_pixels_case, ("1024x768",)),
                    "frame-bytes": (frame_bytes_case, ("1920x1080", "3840x2160"))}


class Qemu(Xvfb):
    """Another architecture's build (--cross ARCH BUILD_DIR RUNNER) run under
    its runner (qemu-user); skipped while that build is not there."""

    name = "qemu"

    def __init__(self, args, workdir, size):
        super().__init__(args, workdir, size)
        self.arch = args.driver[len("qemu-"):]
        found = [cross for cross in args.cross if cross[0] == self.arch]
        check(found, "no --cross %s" % self.arch)
        _, build, runner = found[0]
        self.name = args.driver
        self.runner = shlex.split(runner)
        require_tools(self.runner[0])
        self.paths = {"program": os.path.join(build, "ostrevane"),
                      "render": os.path.join(build, "tools", "ostrevane-render")}
        if not os.path.exists(self.paths["program"]):
            raise Skip("no %s (not built)" % self.paths["program"])

    def program_path(self, kind):
        check(kind == "program", "the %s build has no test programs" % self.arch)
        return self.paths["program"]

    def expected(self, size=None):
        return e2e.render_expected(self.args, self.workdir, size or self.metrics, self.runner,
                                   self.paths["render"])


def cross_weston_case(d):
    """The build's Wayland module on weston."""
    import wayland_cases
    with wayland_cases.Weston(d.args, d.workdir, d.size) as weston:
        weston.runner, weston.program_path, weston.expected = d.runner, d.program_path, d.expected
        e2e.picture_case(weston)


Qemu.OWN_CASES = {"weston": (cross_weston_case, ("800x600",)),
                  "lost-each-turn": (lost_each_turn_case, ("640x480",)),
                  "transport": (transport_case, ("800x600",))}


class Wine(Xvfb):
    """The Windows build (--windows-build) under Wine, its prefix the one
    CTest makes for the run (WINEPREFIX). Wine's own GDI and USER draw."""

    name = "wine"
    labels = ("wine",)
    sizes = ("1024x768", "1023x767", "333x1001", "300x200")
    # Windows' DefWindowProc closes the window on Alt+F4.
    kept_keys = ("alt+F4",)

    def __init__(self, args, workdir, size):
        super().__init__(args, workdir, size)
        require_tools("wine", "wineserver", "wineboot")
        build = args.windows_build or ""
        def built(folder, name):  # in Release in a multi-configuration build (Visual Studio's)
            path, release = (os.path.join(build, folder, *sub, name) for sub in ((), ("Release",)))
            return release if os.path.isfile(release) and not os.path.isfile(path) else path

        self.exe, self.render = built("", "ostrevane.exe"), built("tools", "ostrevane-render.exe")
        for path in (self.exe, self.render):
            if not os.path.isfile(path):
                unavailable("no %s: build the mingw preset and configure with "
                            "-DOSTREVANE_WINDOWS_BUILD_DIR=build/mingw" % path)
        prefix = os.environ.get("WINEPREFIX", "")
        check(os.path.isfile(os.path.join(prefix, "system.reg")),
              "the Wine prefix %r was not made (CTest's conformance.wine_prefix_setup)" % prefix)
        self.runner = ["wine"]
        # Wine's chatter stays out, and no Mono or Gecko installer is offered.
        self.wine_env = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree=;mshtml="}

    def env(self, display=None):
        return dict(super().env(display), **self.wine_env)

    def after_start(self):
        # Wine's server and desktop, up before the program: each case starts
        # its own, bound to its own X server.
        with open(os.path.join(self.workdir, "wineboot.log"), "wb") as log:
            result = subprocess.run(["wineboot"], env=self.env(), stdout=log, stderr=log,
                                    timeout=DEADLINE)
        check(result.returncode == 0, "wineboot did not come up (see its log)")

    def program_path(self, kind):
        return self.exe

    def expected(self, size=None):
        # Relative paths: Wine hands the Windows program its argument as typed.
        return e2e.render_expected(self.args, self.workdir, size or self.metrics, self.runner,
                                   self.render, cwd=self.workdir)

    def check_identity(self, fields=None):
        fields = self.info()
        check(fields["wm_name"] == self.title, "WM_NAME is %r" % fields["wm_name"])

    def close(self):
        super().close()
        for flag in ("-k", "-w"):
            subprocess.run(["wineserver", flag], env=dict(os.environ, **self.wine_env),
                           capture_output=True, timeout=DEADLINE)


def alt_f4_case(d):
    """Keys typed at the window do reach it, so that the keys case is not
    vacuous: Alt+F4 closes it, exit code 0."""
    expected = d.first_frame()
    d.type(keys=("alt+F4",))
    d.expect_closed("after Alt+F4")
    print("ok - wine: typed keys reach the window: Alt+F4 closes it, exit code 0")


Wine.OWN_CASES = {"alt-f4": (alt_f4_case, ("800x600",))}

DRIVERS = (Xvfb, Openbox, Remote, Qemu, Wine)
