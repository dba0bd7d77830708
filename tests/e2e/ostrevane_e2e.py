#!/usr/bin/env python3
"""End-to-end tests of the ostrevane program on a real X server (Xvfb).

Each case starts its own Xvfb on a display number that Xvfb picks itself
(-displayfd), bounds every step with a timeout, and kills every process it
started, whatever happens.

Cases:
  window WxH [PxQ]
               on a WxH screen (with a PxQ RandR primary output, which is
               then the program's screen), the window appears with its
               caption; its client area shows the top-left part of
               `ostrevane-render --size` of the program's screen, and white
               beyond it, before and after typing keys, moving and resizing
               it; closing it through WM_DELETE_WINDOW ends the program with
               exit code 0. After the first frame, the pixels go through
               MIT-SHM (repainting most of the window, the program writes
               far less to the X connection than it repaints); with
               --shm no-extension (an Xvfb without MIT-SHM)
               or --shm attach-fails (the program in an IPC namespace of
               its own, whose segments the server cannot attach) or --shm
               remote (the program on a TCP display through
               bench/first_frame/latency_proxy.py, 10 ms each way at
               20 Mbit/s) they go through the socket, and the window shows
               the same
  screen-change WxH PxQ
               the program started on a WxH screen sees its screen become a
               PxQ RandR primary output: once the window has been shrunk and
               grown again, it shows the canvas cut to PxQ and white beyond
  no-display   without a display the program says so in one line on stderr
               and exits with code 1 at once
  display-lost when the X server dies the program says so and exits with
               code 1 within a second; with --each-turn, the same when the
               display goes away at each of the program's turns in turn,
               from opening it to closing the window
  web WxH, web-dense WxH, web-fallbacks, web-chars, web-update
               the web version in headless Chromium (web_cases.py)
  openbox, window-rect
               under a reparenting window manager (window_manager_cases.py)
  weston-window, weston-lost, weston-no-xdg-shell, xwayland-lost, sway-window,
  sway-show-states, sway-scaled
               the program on Wayland compositors (see wayland_cases.py)
  appkit-window, appkit-openbox, appkit-lost
               the AppKit display, GNUstep's, on Xvfb (see appkit_cases.py)

Missing tools make a case skip (exit code 77), except under CI=true, where
they make it fail. With --runner (say, "qemu-aarch64 -L /usr/aarch64-linux-gnu"
for an arm64 build) the program and the render tool run under that prefix; a
program not built is then skipped.
"""

import argparse
import os
import select
import shlex
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import zlib

SKIP = 77
TITLE = "Ostrevane"


class Failure(Exception):
    pass


class Skip(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def require_tools(*names):
    missing = [name for name in names if shutil.which(name) is None]
    if missing:
        message = "missing tools: " + ", ".join(missing)
        if os.environ.get("CI") == "true":
            raise Failure(message + " (CI must install them: scripts/deps.sh test)")
        raise Skip(message)


# --- Images ----------------------------------------------------------------


def read_png(path):
    """(width, height, rows of RGB bytes) of a non-interlaced PNG: RGB or RGBA
    at 8 bits, or indexed at 1, 2, 4 or 8 bits with its palette."""
    with open(path, "rb") as f:
        data = f.read()
    check(data[:8] == b"\x89PNG\r\n\x1a\n", path + " is not a PNG")
    pos = 8
    idat = b""
    width = height = colour = depth = None
    palette = None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        check(len(body) == length, path + " is cut short")
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            check(interlace == 0 and ((depth == 8 and colour in (2, 6)) or
                                      (depth in (1, 2, 4, 8) and colour == 3)),
                  path + ": only 8-bit RGB/RGBA and indexed non-interlaced PNGs are read")
        elif kind == b"PLTE":
            check(length % 3 == 0 and 0 < length <= 768, path + ": bad palette")
            palette = [body[i:i + 3] for i in range(0, length, 3)]
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
    check(width is not None, path + " has no header")
    check(colour != 3 or palette is not None, path + ": indexed without a palette")
    # Filters work on bytes, `unit` bytes per pixel (at least one).
    bits = {2: 24, 6: 32, 3: depth}[colour]
    unit = max(1, bits // 8)
    stride = (width * bits + 7) // 8
    raw = zlib.decompress(idat)
    check(len(raw) >= height * (stride + 1), path + ": image data is short")
    rows = []
    previous = bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind = raw[start]
        line = bytearray(raw[start + 1:start + 1 + stride])
        if kind == 2:
            line = bytearray((v + u) & 0xFF for v, u in zip(line, previous))
        elif kind != 0:
            for i in range(stride):
                a = line[i - unit] if i >= unit else 0
                b = previous[i]
                if kind == 1:
                    line[i] = (line[i] + a) & 0xFF
                elif kind == 3:
                    line[i] = (line[i] + ((a + b) >> 1)) & 0xFF
                elif kind == 4:
                    c = previous[i - unit] if i >= unit else 0
                    p = a + b - c
                    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                    predictor = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                    line[i] = (line[i] + predictor) & 0xFF
        previous = line
        if colour == 6:
            rows.append(bytes(b for i, b in enumerate(line) if i % 4 != 3))
        elif colour == 2:
            rows.append(bytes(line))
        else:
            rows.append(unpack_indexed(line, width, depth, palette, path))
    return width, height, rows


def unpack_indexed(line, width, depth, palette, path):
    """RGB bytes of one row of palette indices packed `depth` bits each,
    leftmost pixel in the high bits."""
    if depth == 8:
        indices = line[:width]
    else:
        per_byte = 8 // depth
        mask = (1 << depth) - 1
        indices = [(line[x // per_byte] >> (8 - depth * (x % per_byte + 1))) & mask
                   for x in range(width)]
    check(max(indices, default=0) < len(palette), path + ": index past the palette")
    return b"".join(palette[i] for i in indices)


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields = data.split(maxsplit=4)
    check(fields[0] == b"P6" and fields[3] == b"255", path + " is not a binary PPM")
    width, height = int(fields[1]), int(fields[2])
    pixels = fields[4]
    check(len(pixels) >= width * height * 3, path + " is short")
    rows = [pixels[y * width * 3:(y + 1) * width * 3] for y in range(height)]
    return width, height, rows


def first_difference(actual, expected):
    """None if the captured client area shows the expected canvas at its top
    left (white beyond it), else a description of the first wrong pixel."""
    width, height, rows = actual
    ew, eh, erows = expected
    inside = min(width, ew) * 3
    for y in range(height):
        want = erows[y][:inside] if y < eh else b""
        want += b"\xff" * (width * 3 - len(want))
        if rows[y] != want:
            x = next(i for i in range(width * 3) if rows[y][i] != want[i]) // 3
            return "pixel (%d, %d) of %dx%d is %s, expected %s" % (
                x, y, width, height, tuple(rows[y][x * 3:x * 3 + 3]),
                tuple(want[x * 3:x * 3 + 3]))
    return None


# --- Processes ---------------------------------------------------------------


class Closing:
    """`with` support for what has a close(): the block's end closes it."""

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()


class Session(Closing):
    """An Xvfb and the processes started on it; close() kills them all."""

    def __init__(self, workdir, size, xvfb_args=()):
        self.workdir = workdir
        self.processes = []
        self.xvfb = None
        self.display = None
        self.size = size
        self.xvfb_args = list(xvfb_args)

    def start_xvfb(self):
        read_end, write_end = os.pipe()
        width, height = self.size
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % (width, height),
             "-nolisten", "tcp", "-noreset"] + self.xvfb_args,
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 15
        try:
            while not number.endswith(b"\n"):
                remaining = deadline - time.monotonic()
                check(remaining > 0, "Xvfb did not start within 15 s")
                ready, _, _ = select.select([read_end], [], [], remaining)
                check(ready, "Xvfb did not start within 15 s")
                chunk = os.read(read_end, 16)
                check(chunk, "Xvfb exited at start (code %s)" % self.xvfb.poll())
                number += chunk
        finally:
            os.close(read_end)
        self.display = ":" + number.decode().strip()
        return self.display

    def start_proxy(self, delay_ms, mbit, lose_at_turn=0):
        """A slow link to this Xvfb (bench/first_frame/latency_proxy.py): a
        TCP display that delays each direction and caps its bandwidth, as a
        display elsewhere would, and with `lose_at_turn` goes away at that
        turn of its client's. Returns its DISPLAY; self.proxy is the proxy."""
        proxy = self.proxy = subprocess.Popen(
            [sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                          "bench", "first_frame", "latency_proxy.py"),
             "--socket", "/tmp/.X11-unix/X" + self.display[1:], "--delay-ms", str(delay_ms),
             "--mbit", str(mbit), "--lose-at-turn", str(lose_at_turn)],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.processes.append(proxy)
        ready, _, _ = select.select([proxy.stdout], [], [], 15)
        line = proxy.stdout.readline() if ready else ""
        check(line.startswith("display "), "the latency proxy did not start")
        return "127.0.0.1:" + line.split()[1]

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        # These cases are about X, even on a desktop with a Wayland session.
        env["OSTREVANE_BACKEND"] = "x11"
        return env

    def spawn(self, argv, env=None):
        process = subprocess.Popen(argv, env=env if env is not None else self.env(),
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.processes.append(process)
        return process

    def run(self, argv, timeout=10, env=None):
        result = subprocess.run(argv, env=env if env is not None else self.env(),
                                capture_output=True, text=True, timeout=timeout)
        return result

    def close(self):
        for process in self.processes + ([self.xvfb] if self.xvfb else []):
            if process.poll() is None:
                process.kill()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass


def wait_exit(process, timeout):
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return None


def processes_with(variable, names=None):
    """Pids of the other processes whose environment holds `variable`
    ("NAME=value"), of those named in `names` only when given."""
    wanted = variable.encode()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            if names is not None:
                with open("/proc/%s/comm" % entry) as f:
                    if f.read().strip() not in names:
                        continue
            with open("/proc/%s/environ" % entry, "rb") as f:
                if wanted in f.read().split(b"\0"):
                    found.append(int(entry))
        except OSError:
            pass
    return found


def wait_until(what, condition, describe, timeout=5.0, interval=0.05):
    """Calls condition() until it gives a true value, and returns that value;
    after `timeout` seconds (and at least one call) fails with
    "what: describe()" (describe may also be a string)."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Failure("%s: %s" % (what, describe() if callable(describe) else describe))
        time.sleep(interval)


def wait_for_match(what, difference, timeout=5.0, interval=0.1):
    """Calls difference() until it gives None, as first_difference does when
    the picture is the expected one; after `timeout` seconds fails with the
    last difference."""
    last = [None]

    def matches():
        last[0] = difference()
        return last[0] is None

    wait_until(what, matches, lambda: last[0], timeout, interval)


def expect_exit(process, timeout, code, what, allow_stderr=None):
    """Waits up to `timeout` s for the process to end with `code`; each line
    of its stderr must pass allow_stderr, when given (lambda line: False:
    none may be there). Returns stderr and the time the exit took."""
    started = time.monotonic()
    got = wait_exit(process, timeout)
    elapsed = time.monotonic() - started
    check(got is not None, "%s: still running %.1f s later" % (what, timeout))
    stderr = process.stderr.read().decode(errors="replace")
    check(got == code, "%s: exit code %s (stderr: %r)" % (what, got, stderr))
    if allow_stderr is not None:
        check(all(allow_stderr(line) for line in stderr.splitlines()),
              "%s: unexpected stderr: %r" % (what, stderr))
    return stderr, elapsed


def expect_lost(process, name, what, timeout=1.0):
    """The program ends within `timeout` with exit code 1 and one line on
    stderr naming the display or compositor `name`. Returns the time it
    took."""
    stderr, elapsed = expect_exit(process, timeout, 1, what)
    lines = stderr.splitlines()
    check(len(lines) == 1 and name in lines[0],
          "%s: stderr does not name %s in one line: %r" % (what, name, stderr))
    print("ok - %s: exit 1 after %.3f s: %s" % (what, elapsed, lines[0]))
    return elapsed


def crop(image, x, y, width, height):
    iw, ih, rows = image
    check(x >= 0 and y >= 0 and x + width <= iw and y + height <= ih,
          "%dx%d at (%d, %d) is not inside the %dx%d image" % (width, height, x, y, iw, ih))
    return width, height, [row[x * 3:(x + width) * 3] for row in rows[y:y + height]]


# --- Cases -------------------------------------------------------------------


def render_expected(args, workdir, size):
    """The canvas the program draws on a screen of the given size."""
    expected_png = os.path.join(workdir, "expected-%dx%d.png" % size)
    # The hostile and memcheck cases have no --runner: they run the native build.
    render = subprocess.run(getattr(args, "runner", []) + [args.render, "--size", "%dx%d" % size,
                                                           "--output", expected_png],
                            capture_output=True, text=True, timeout=120)
    check(render.returncode == 0, "ostrevane-render failed: " + render.stderr.strip())
    expected = read_png(expected_png)
    check(expected[:2] == size, "render size mismatch")
    return expected


class WindowCase:
    """The program's window on an Xvfb session, and the tools to look at it.
    `timeout` bounds each tool run (larger for slow builds and screens)."""

    def __init__(self, args, session, metrics, timeout=10):
        self.args = args
        self.session = session
        self.metrics = metrics  # the program's screen: the primary output
        self.timeout = timeout
        self.window = None
        self.process = None

    def start(self, argv=(), env=None, preexec=None):
        """Starts the program (with `env` added to the session's)."""
        environment = dict(self.session.env(), **(env or {}))
        self.process = subprocess.Popen(getattr(self.args, "runner", []) + [self.args.program]
                                        + list(argv), env=environment, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, preexec_fn=preexec)
        self.session.processes.append(self.process)
        return self.process

    def find(self, title=TITLE, ms=10000):
        """Waits up to `ms` for the window captioned `title`."""
        result = self.session.run([self.args.probe, "find", title, str(ms)],
                                  timeout=ms / 1000 + 10)
        check(result.returncode == 0, "no window: %s (program exit %s)" % (
            result.stderr.strip(), self.process and self.process.poll()))
        self.window = result.stdout.strip()
        return self.window

    def place(self, x, y, width, height, timeout=10.0):
        """Moves and resizes the window and waits until the server shows it
        there."""
        self.xdotool("windowmove", self.window, str(x), str(y))
        self.xdotool("windowsize", self.window, str(width), str(height))
        self.wait_geometry("placing", (x, y, width, height), timeout)

    def close(self, what, allow_stderr=lambda line: False, timeout=5):
        """Closes the window as a window manager does (WM_DELETE_WINDOW):
        the program must end with exit code 0 and nothing on stderr."""
        self.probe("close", self.window)
        expect_exit(self.process, timeout, 0, what + ", after WM_DELETE_WINDOW", allow_stderr)

    def probe(self, *argv, timeout=None):
        result = self.session.run([self.args.probe] + list(argv), timeout=timeout or self.timeout)
        check(result.returncode == 0,
              "x11_probe %s failed: %s" % (" ".join(argv), result.stderr.strip()))
        return result.stdout

    def info(self):
        fields = {}
        for line in self.probe("info", self.window).splitlines():
            key, _, value = line.partition("=")
            fields[key] = value
        return fields

    def geometry(self):
        return tuple(int(v) for v in self.info()["geometry"].split())

    def xdotool(self, *argv):
        result = self.session.run(["xdotool"] + list(argv), timeout=self.timeout)
        check(result.returncode == 0,
              "xdotool %s failed: %s" % (" ".join(argv), result.stderr.strip()))

    def capture(self):
        path = os.path.join(self.session.workdir, "capture.ppm")
        self.probe("capture", self.window, path)
        return read_ppm(path)

    def expect_picture(self, what, expected, timeout=5.0):
        """Waits until the client area shows the expected picture."""
        wait_for_match(what, lambda: first_difference(self.capture(), expected), timeout)

    def expect_repaint_after_cover(self, expected):
        """Covers the client area with another window, uncovers it with no
        resize in between, and waits for the canvas to be painted again:
        only the Expose events the uncovering sends can bring it back."""
        self.probe("cover", self.window, "300")
        self.expect_picture("after being covered and uncovered", expected)

    def wait_geometry(self, what, want, timeout=5.0):
        got = [None]

        def there():
            got[0] = self.geometry()
            return all(w is None or w == g for w, g in zip(want, got[0])) and got[0]

        return wait_until(what, there, lambda: "window geometry %s, expected %s" % (got[0], want),
                          timeout)

    @staticmethod
    def written(program):
        """Bytes the program has written so far, or None if unknown."""
        try:
            with open("/proc/%d/io" % program.pid) as f:
                fields = dict(line.split(": ") for line in f.read().splitlines())
            return int(fields["wchar"])
        except (OSError, KeyError, ValueError):
            return None

    def check_transport(self, program, before, client_bytes):
        """The client pixels went the way the server allows: through shared
        memory, or through the socket. What the program wrote while it
        repainted `client_bytes` of them tells which."""
        after = self.written(program)
        if before is None or after is None:
            print("ok - # cannot read what the program wrote; transport not checked")
            return
        written = after - before
        # Through the socket the canvas goes as fills and rectangles where
        # they cost less than its image, still some bytes for every line.
        if self.args.shm == "expect":
            check(written < client_bytes // 64,
                  "%d bytes written for %d bytes of client pixels: MIT-SHM was not used"
                  % (written, client_bytes))
            print("ok - pixels through MIT-SHM (%d bytes written)" % written)
        else:
            check(written >= client_bytes // 64,
                  "only %d bytes written for %d bytes of client pixels without MIT-SHM"
                  % (written, client_bytes))
            print("ok - pixels through the socket (%d bytes written)" % written)

    def run(self):
        width, height = self.session.size
        expected = render_expected(self.args, self.session.workdir, self.metrics)

        self.session.start_xvfb()
        if self.metrics != self.session.size:
            self.probe("primary", str(self.metrics[0]), str(self.metrics[1]))
        env = None
        if self.args.shm == "remote":
            env = dict(self.session.env(), DISPLAY=self.session.start_proxy(10, 20))
        # The command line is ignored, whatever it holds.
        program = self.process = self.session.spawn(
            program_prefix(self.args.shm) + self.args.runner +
            [self.args.program, "--size", "1x1", "-h", "arg with spaces", "\u00e9\u00e8", ""],
            env=env)
        self.find()

        fields = self.info()
        check(fields["wm_name"] == TITLE, "WM_NAME is %r" % fields["wm_name"])
        check(fields["net_wm_name"] == TITLE, "_NET_WM_NAME is %r" % fields["net_wm_name"])
        check_client_identity(fields, program)
        x, y, w, h = self.geometry()
        check(0 < w <= self.metrics[0] and 0 < h <= self.metrics[1],
              "default client area %dx%d does not fit the %dx%d screen" % ((w, h) + self.metrics))
        self.expect_picture("first frame", expected)
        print("ok - window %s %dx%d at (%d, %d) shows the canvas" % (self.window, w, h, x, y))
        self.expect_repaint_after_cover(expected)
        print("ok - covered by another window and uncovered, it shows the canvas again")
        written = self.written(program)

        # Typed keys change nothing.
        self.xdotool("windowfocus", "--sync", self.window)
        self.xdotool("type", "--delay", "2", "hello, world q")
        self.xdotool("key", "Escape", "Return", "space", "BackSpace", "Delete", "ctrl+c", "ctrl+w",
                     "alt+F4", "F1", "Tab")
        time.sleep(0.3)
        check(program.poll() is None, "the program ended after typed keys")
        self.expect_picture("after typing", expected, timeout=0)
        print("ok - typed keys change nothing")

        # Moves and resizes keep the picture where it is in the client area.
        self.xdotool("windowmove", self.window, "37", "23")
        self.wait_geometry("move", (37, 23, None, None))
        self.expect_picture("after a move", expected)
        self.xdotool("windowsize", self.window, "211", "97")
        self.wait_geometry("shrink", (37, 23, 211, 97))
        self.expect_picture("after shrinking", expected)
        self.xdotool("windowsize", self.window, str(width - 50), str(height - 30))
        self.wait_geometry("grow", (37, 23, width - 50, height - 30))
        self.expect_picture("after growing", expected)
        self.xdotool("windowmove", self.window, "0", "0")
        self.xdotool("windowsize", self.window, str(width), str(height))
        self.wait_geometry("full screen", (0, 0, width, height))
        self.expect_picture("at full screen size", expected)
        check(program.poll() is None, "the program ended while moved and resized")
        print("ok - moving and resizing keep the picture in place")
        # Growing from 211x97 repainted at least the rest of the larger size.
        self.check_transport(program, written, ((width - 50) * (height - 30) - 211 * 97) * 4)

        # The close button: WM_DELETE_WINDOW ends the program with code 0.
        self.close("the program")
        print("ok - closing the window ends the program with exit code 0")


def check_client_identity(fields, program):
    """_NET_WM_PID and WM_CLIENT_MACHINE name the program's process and host,
    so that a desktop can offer to end it when it hangs."""
    check(fields.get("net_wm_pid") == str(program.pid),
          "_NET_WM_PID is %s, the program's pid %d" % (fields.get("net_wm_pid"), program.pid))
    check(fields.get("wm_client_machine") == socket.gethostname(),
          "WM_CLIENT_MACHINE is %r, the host %r" % (fields.get("wm_client_machine"),
                                                    socket.gethostname()))


def screen_change_case(args, session, metrics):
    """The screen size the program keeps is read again after RandR changes:
    the window procedure copies as much of the canvas as the screen is
    large."""
    case = WindowCase(args, session, session.size)
    expected = render_expected(args, session.workdir, session.size)
    session.start_xvfb()
    program = case.start()
    case.find()
    case.expect_picture("first frame", expected)
    case.probe("primary", str(metrics[0]), str(metrics[1]))
    # Shrinking and growing repaints all but the top-left corner.
    x, y, _, _ = case.geometry()
    case.xdotool("windowsize", case.window, "50", "40")
    case.wait_geometry("shrink", (None, None, 50, 40))
    grown = (session.size[0] - 20, session.size[1] - 20)
    case.xdotool("windowsize", case.window, str(grown[0]), str(grown[1]))
    case.wait_geometry("grow", (None, None) + grown)
    cut = (metrics[0], metrics[1],
           [row[:metrics[0] * 3] for row in expected[2][:metrics[1]]])
    case.expect_picture("after the screen became %dx%d" % metrics, cut)
    check(program.poll() is None, "the program ended when the screen changed")
    case.close("after the screen change")
    print("ok - after the screen became %dx%d the window shows the canvas cut to it" % metrics)


def program_prefix(shm):
    """What the program is started under: for attach-fails, an IPC namespace
    of its own, so that the X server cannot attach its shared memory."""
    if shm != "attach-fails":
        return []
    require_tools("unshare")
    for prefix in (["unshare", "--ipc"], ["unshare", "--user", "--map-root-user", "--ipc"]):
        if subprocess.run(prefix + ["true"], capture_output=True, timeout=10).returncode == 0:
            return prefix
    message = "cannot make an IPC namespace (unshare --ipc)"
    if os.environ.get("CI") == "true":
        raise Failure(message)
    raise Skip(message)


def expect_quick_failure(args, env, named, what):
    """The program, run with `env`, exits with 1 at once and one line on
    stderr that holds every string of `named`."""
    started = time.monotonic()
    result = subprocess.run([args.program], env=env, capture_output=True, text=True, timeout=10)
    elapsed = time.monotonic() - started
    lines = result.stderr.splitlines()
    check(result.returncode == 1, "%s: exit code %d" % (what, result.returncode))
    check(elapsed < 1.0, "%s: took %.2f s to give up" % (what, elapsed))
    check(len(lines) == 1, "%s: stderr is not one line: %r" % (what, result.stderr))
    for name in named:
        check(name in lines[0], "%s: message does not name %s: %r" % (what, name, lines[0]))
    check(result.stdout == "", "%s: unexpected stdout: %r" % (what, result.stdout))
    print("ok - %s: %s (%.3f s)" % (what, lines[0], elapsed))


def no_display_case(args, workdir):
    # A display number nobody serves: no socket, no lock file.
    number = next(n for n in range(173, 1000)
                  if not os.path.exists("/tmp/.X11-unix/X%d" % n)
                  and not os.path.exists("/tmp/.X%d-lock" % n))
    # A runtime folder without a compositor's socket.
    runtime = os.path.join(workdir, "runtime")
    os.mkdir(runtime, 0o700)
    base = {key: value for key, value in os.environ.items()
            if key not in ("DISPLAY", "WAYLAND_DISPLAY", "OSTREVANE_BACKEND")}
    base["XDG_RUNTIME_DIR"] = runtime
    for display in (":%d" % number, None):
        env = dict(base)
        if display is not None:
            env["DISPLAY"] = display
        expect_quick_failure(args, env, ['"%s"' % (display or ""), "display"],
                             "DISPLAY=%s" % display)
    # A named compositor that is not there: both displays tried, both named.
    env = dict(base, DISPLAY=":%d" % number, WAYLAND_DISPLAY="ostrevane-nobody")
    expect_quick_failure(args, env, ['"ostrevane-nobody"', '":%d"' % number],
                         "WAYLAND_DISPLAY and DISPLAY unserved")
    # Forced: only the named one is tried.
    env = dict(base, DISPLAY=":%d" % number, WAYLAND_DISPLAY="ostrevane-nobody",
               OSTREVANE_BACKEND="wayland")
    expect_quick_failure(args, env, ['"ostrevane-nobody"'], "OSTREVANE_BACKEND=wayland")
    env["OSTREVANE_BACKEND"] = "x11"
    expect_quick_failure(args, env, ['":%d"' % number], "OSTREVANE_BACKEND=x11")
    env["OSTREVANE_BACKEND"] = "mir"
    expect_quick_failure(args, env, ["OSTREVANE_BACKEND", '"mir"'], "OSTREVANE_BACKEND=mir")


def display_lost_case(args, session):
    session.start_xvfb()
    case = WindowCase(args, session, session.size)
    case.start()
    case.find()
    session.xvfb.kill()
    session.xvfb.wait(timeout=5)
    expect_lost(case.process, session.display, "losing " + session.display)


def display_lost_at_each_turn_case(args, session):
    """The display goes away at each of the program's turns in turn (what it
    sends when it has heard from the server: each question, each answer to
    an event), through a proxy that ends the connection there: while it
    opens the display, draws the first frame, asks what it asks after it,
    and, once the picture is there, closes the window. Every loss ends the
    program with exit code 1 and one line, never a signal."""
    session.start_xvfb()
    expected = render_expected(args, session.workdir, session.size)
    turn = 0
    while True:
        turn += 1
        case = WindowCase(args, session, session.size)
        display = session.start_proxy(0, 0, lose_at_turn=turn)
        process = case.start(env={"DISPLAY": display})
        closed = []

        def outcome():
            ready, _, _ = select.select([session.proxy.stdout], [], [], 0)
            if ready:
                return session.proxy.stdout.readline().strip() or "proxy ended"
            if process.poll() is not None:
                return "exit %d" % process.returncode
            # Once the picture is whole, the window is closed as a window
            # manager closes it: the rest of the program's turns follow. The
            # window may go at any moment, its display with it.
            if not closed:
                capture = os.path.join(session.workdir, "capture.ppm")
                found = session.run([args.probe, "find", TITLE, "0"])
                window = found.stdout.strip()
                if (found.returncode == 0 and
                        session.run([args.probe, "capture", window, capture]).returncode == 0 and
                        first_difference(read_ppm(capture), expected) is None):
                    session.run([args.probe, "close", window])
                    closed.append(True)
            return None

        what = "losing %s at turn %d" % (display, turn)
        result = wait_until(what, outcome, "neither lost nor ended", timeout=60, interval=0.02)
        if result.startswith("lost at turn") and closed and wait_exit(process, 1) == 0:
            # Lost as the program ends after its window was closed: when its
            # end comes before it sees the loss, it ends as a close does.
            expect_exit(process, 0, 0, what + ", after the close", lambda line: False)
            print("ok - %s: the close came first: exit 0, nothing on stderr" % what)
        elif result.startswith("lost at turn"):
            expect_lost(process, display, what)
        else:
            # The program ran to its end before this turn came.
            check(closed and turn > 10, "%s: %s after %d turns%s" % (
                what, result, turn - 1, "" if closed else ", its window never closed"))
            expect_exit(process, 10, 0, "after its last turn, " + result, lambda line: False)
            print("ok - the display lost at each of its %d turns" % (turn - 1))
            return
        session.proxy.kill()
        session.proxy.wait()


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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--render", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--web", help="the built web version (dist/web), for the web cases")
    parser.add_argument("--web-build", help="the web build (build/web), for web-chars")
    parser.add_argument("--axe", help="axe-core's axe.min.js, for the web cases")
    parser.add_argument("--reporter", help="window_rect_reporter, for the window-rect case")
    parser.add_argument("--states", help="tests/e2e/show_states, for sway-show-states")
    parser.add_argument("--other-module", help="a Wayland module of another build, for "
                        "weston-no-xdg-shell")
    parser.add_argument("--runner", type=shlex.split, default=[],
                        help="the command line the program and the render tool run under")
    parser.add_argument("case", choices=["window", "screen-change", "no-display",
                                         "display-lost", "openbox", "window-rect", "web",
                                         "web-dense", "web-fallbacks", "web-chars", "web-update",
                                         "weston-window",
                                         "weston-lost", "weston-no-xdg-shell", "xwayland-lost",
                                         "sway-window", "sway-show-states", "sway-scaled",
                                         "sway-chars", "appkit-window", "appkit-openbox",
                                         "appkit-lost"])
    parser.add_argument("size", nargs="?", default="800x600")
    parser.add_argument("primary", nargs="?")
    parser.add_argument("--shm", choices=["expect", "no-extension", "attach-fails", "remote"],
                        default="expect")
    parser.add_argument("--each-turn", action="store_true",
                        help="display-lost: lose the display at each of the program's turns")
    args = parser.parse_args()
    width, height = (int(v) for v in args.size.split("x"))
    metrics = tuple(int(v) for v in (args.primary or args.size).split("x"))

    # The case modules beside this harness import it by name: let them find
    # this run's one, whose Failure and Skip the runner catches.
    sys.modules.setdefault("ostrevane_e2e", sys.modules[__name__])

    def body(workdir):
        if args.runner:
            require_tools(args.runner[0])
            if not os.path.exists(args.program):
                raise Skip("no %s (not built)" % args.program)
        xvfb_args = ["-extension", "MIT-SHM"] if args.shm == "no-extension" else []
        session = Session(workdir, (width, height), xvfb_args)
        try:
            if args.case == "window":
                require_tools("Xvfb", "xdotool")
                WindowCase(args, session, metrics).run()
            elif args.case == "screen-change":
                require_tools("Xvfb", "xdotool")
                screen_change_case(args, session, metrics)
            elif args.case.startswith("web"):
                import web_cases
                web_cases.run(args, workdir, (width, height))
            elif args.case in ("openbox", "window-rect"):
                import window_manager_cases
                window_manager_cases.CASES[args.case](args, session)
            elif args.case.startswith("appkit-"):
                import appkit_cases
                appkit_cases.CASES[args.case](args, session)
            elif args.case == "no-display":
                no_display_case(args, workdir)
            elif args.case in ("weston-window", "weston-lost", "weston-no-xdg-shell",
                               "xwayland-lost", "sway-window", "sway-show-states",
                               "sway-scaled", "sway-chars"):
                import wayland_cases
                wayland_cases.run(args, workdir, args.case, (width, height))
            elif args.each_turn:
                require_tools("Xvfb")
                display_lost_at_each_turn_case(args, session)
            else:
                require_tools("Xvfb")
                display_lost_case(args, session)
        finally:
            session.close()

    return run_case("ostrevane-e2e-", body)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())
