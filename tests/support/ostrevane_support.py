#!/usr/bin/env python3
"""What the tests and the benchmarks share: one deadline for every wait for a
state, an X server (Xvfb) and a slow link to it (latency_proxy.py) started
on a display of their own, processes that never outlive their run, and
images read and compared (Wayland compositors: compositors.py).

Run as a command, it puts another command on a display of its own (as
xvfb-run does, without guessing a display number), for shell scripts:

  ostrevane_support.py xvfb WxH [XVFB_ARG...] -- COMMAND [ARG...]
  ostrevane_support.py weston|sway WxH -- COMMAND [ARG...]

COMMAND runs with DISPLAY set (xvfb), or WAYLAND_DISPLAY and XDG_RUNTIME_DIR
(weston, sway); its exit code is the command's, and the display is ended
whatever happens.
"""

import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
# The one bound of every wait for a state (deadline.h says why it is large).
with open(os.path.join(HERE, "deadline.h")) as _header:
    DEADLINE = float(re.search(r"DEADLINE_SECONDS (\d+)", _header.read()).group(1))
SKIP = 77


class Failure(Exception):
    pass


class Skip(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def unavailable(message):
    """Something a case needs is missing: under CI=true a failure (the run
    would not check what it claims), elsewhere a skip."""
    if os.environ.get("CI") == "true":
        raise Failure(message + " (CI must have it: scripts/deps.sh test)")
    raise Skip(message)


def require_tools(*names):
    missing = [name for name in names if shutil.which(name) is None]
    if missing:
        unavailable("missing tools: " + ", ".join(missing))


def wait_until(what, condition, describe, timeout=DEADLINE, interval=0.05):
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


def wait_for_match(what, difference, timeout=DEADLINE):
    """Calls difference() until it gives None (first_difference's "the
    same"); after `timeout` seconds fails with the last difference."""
    last = [None]

    def matches():
        last[0] = difference()
        return last[0] is None

    wait_until(what, matches, lambda: last[0], timeout, 0.1)


def wait_exit(process, timeout=DEADLINE):
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return None


# --- Processes ---------------------------------------------------------------


class Closing:
    """What a with-statement closes at its end."""

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()


class Processes(Closing):
    """The processes a run started; close() ends them all (with their process
    groups, for those started in a session of their own) and reaps them."""

    def __init__(self):
        self.started = []

    def spawn(self, argv, **popen):
        process = subprocess.Popen(argv, **popen)
        process.own_group = bool(popen.get("start_new_session"))
        self.started.append(process)
        return process

    def adopt(self, thing, own_group=False):
        """Something more to end with the run: a process, or whatever else
        has a close() (a compositor and what it runs)."""
        if isinstance(thing, subprocess.Popen):
            thing.own_group = own_group
        self.started.append(thing)
        return thing

    def at_close(self, function):
        """Calls function() where close() reaches it, as if it were a
        process started now."""
        self.adopt(type("Closer", (), {"close": staticmethod(function)})())

    def close(self):
        """Ends everything, the last started first; the first error any
        close() raised is raised once all are ended."""
        error = None
        while self.started:
            thing = self.started.pop()
            try:
                if isinstance(thing, subprocess.Popen):
                    end(thing, thing.own_group)
                else:
                    thing.close()
            except Exception as raised:  # noqa: BLE001 - the rest must still end
                error = error or raised
        if error is not None:
            raise error


def end(process, group=False):
    """Kills a process (and its group) if it still runs, and reaps it."""
    if process.poll() is None:
        try:
            if group:
                os.killpg(process.pid, signal.SIGKILL)
            else:
                process.kill()
        except ProcessLookupError:
            pass
    try:
        process.wait(timeout=DEADLINE)
    except subprocess.TimeoutExpired:
        pass


def sched_seconds(pid):
    """The time the process has spent on a processor and waiting for one
    (Linux's schedstat, readable until it is reaped), or None once it is
    gone."""
    try:
        with open("/proc/%d/schedstat" % pid) as f:
            fields = f.read().split()
        return int(fields[0]) / 1e9, int(fields[1]) / 1e9
    except (OSError, ValueError, IndexError):
        return None


# A sanitized build (the tests of one have OSTREVANE_SANITIZED set) takes
# up to this many times a plain build's processor time for the same work:
# AddressSanitizer's checks, and its shadow memory taken down at the exit.
CPU_SCALE = 4.0 if os.environ.get("OSTREVANE_SANITIZED") else 1.0


class OwnClock:
    """The time a process (the one a wrapper such as runuser runs, where
    there is one) takes from now until it ends, split as Linux's scheduler
    saw it: on a processor (cpu), waiting for one (what a busy machine
    adds), and neither: asleep, waiting for anything else (a poll, a
    timer, the disk)."""

    # What the tests start programs under.
    WRAPPERS = ("runuser",)

    def __init__(self, process):
        self.process, self.pid = process, process.pid
        # Through the wrapper, never into the program's own child (GNUstep's
        # gdnc as it starts): that one's waits are not the program's.
        while True:
            try:
                with open("/proc/%d/comm" % self.pid) as f:
                    wrapper = f.read().strip() in self.WRAPPERS
                with open("/proc/%d/task/%d/children" % (self.pid, self.pid)) as f:
                    children = f.read().split()
            except OSError:
                break
            if not wrapper or len(children) != 1:
                break
            self.pid = int(children[0])
        self.started = time.monotonic()
        self.first = self.last = sched_seconds(self.pid) or (0.0, 0.0)
        self.stopped = None  # when it was seen to have ended

    def sample(self):
        """Reads the process's times, as long as they can still be read."""
        self.last = sched_seconds(self.pid) or self.last

    def elapsed(self):
        return (self.stopped or time.monotonic()) - self.started

    def wait(self):
        """Waits (within the DEADLINE) until the process has ended, leaving
        it to be reaped; returns its own time then (now()), or None."""
        while not self.ended():
            self.sample()
            if time.monotonic() - self.started > DEADLINE:
                return None
            time.sleep(0.005)
        # Its last times, readable until it is reaped.
        self.sample()
        self.stopped = time.monotonic()
        return self.now()

    def ended(self):
        """Whether the process has ended, reaped (by Popen.poll, say) or not."""
        if self.process.returncode is not None:
            return True
        try:
            return os.waitid(os.P_PID, self.process.pid,
                             os.WEXITED | os.WNOWAIT | os.WNOHANG) is not None
        except ChildProcessError:  # reaped meanwhile
            return True

    def now(self):
        """Its own time so far: all of it but the waits for a processor."""
        self.sample()
        return max(0.0, self.elapsed() - (self.last[1] - self.first[1]))

    def cpu(self):
        """Its time on a processor so far (as last read)."""
        return self.last[0] - self.first[0]

    def asleep(self):
        """Its time asleep so far: neither on a processor nor waiting for
        one. Time after the last reading counts as asleep."""
        self.sample()
        return max(0.0, self.elapsed() - (self.last[0] - self.first[0]) -
                   (self.last[1] - self.first[1]))

    def check_within(self, what, bound):
        """It took `bound` seconds at most, as a promise of that time means
        it on any machine and in any build: asleep (waiting, for whatever)
        at most `bound`; on a processor at most `bound` times CPU_SCALE.
        Returns its own time."""
        asleep, cpu = self.asleep(), self.cpu()
        check(asleep < bound, "%s: waited %.2f s (%.2f s on a processor)" % (what, asleep, cpu))
        check(cpu < bound * CPU_SCALE, "%s: %.2f s on a processor (waited %.2f s)"
              % (what, cpu, asleep))
        return asleep + cpu


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


def read_announcement(process, stream, what):
    """The first line a starting process writes to `stream` (a pipe's read
    end, a file descriptor), once it is there; fails if it ends first."""
    data = b""
    deadline = time.monotonic() + DEADLINE
    while not data.endswith(b"\n"):
        remaining = deadline - time.monotonic()
        check(remaining > 0, "%s did not start within %.0f s" % (what, DEADLINE))
        ready, _, _ = select.select([stream], [], [], remaining)
        chunk = os.read(stream, 64) if ready else b""
        check(chunk or not ready, "%s exited at start (code %s)" % (what, process.poll()))
        data += chunk
    return data.decode().strip()


def start_xvfb(processes, size, args=(), log=None):
    """An Xvfb with one WxH screen (size: a (w, h) pair) on a display it picks
    itself (-displayfd): nothing is guessed and nothing slept. Returns the
    process and its DISPLAY."""
    require_tools("Xvfb")
    read_end, write_end = os.pipe()
    try:
        xvfb = processes.spawn(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % tuple(size),
             "-nolisten", "tcp", "-noreset"] + list(args),
            pass_fds=(write_end,), stdout=subprocess.DEVNULL,
            stderr=log if log is not None else subprocess.DEVNULL)
        os.close(write_end)
        write_end = None
        return xvfb, ":" + read_announcement(xvfb, read_end, "Xvfb")
    finally:
        os.close(read_end)
        if write_end is not None:
            os.close(write_end)


def start_proxy(processes, display, delay_ms, mbit, log=None, lose_at_turn=0):
    """A slow link to the local X server `display` (latency_proxy.py): a TCP
    display that delays each direction and caps its bandwidth, as a display
    elsewhere would, and with `lose_at_turn` goes away at that turn of its
    client's. Returns the process and the DISPLAY through it."""
    argv = [sys.executable, os.path.join(HERE, "latency_proxy.py"), "--socket",
            "/tmp/.X11-unix/X" + display.lstrip(":").split(".")[0], "--delay-ms", str(delay_ms),
            "--mbit", str(mbit), "--lose-at-turn", str(lose_at_turn)] + (
                ["--log", log] if log else [])
    proxy = processes.spawn(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    line = read_announcement(proxy, proxy.stdout.fileno(), "the latency proxy")
    check(line.startswith("display "), "the latency proxy said %r" % line)
    return proxy, "127.0.0.1:" + line.split()[1]


# --- Images ------------------------------------------------------------------


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


def doubled_difference(shot, x, y, width, height, expected):
    """first_difference for a shot at scale 2: the part of width x height
    at (x, y), in pixels of scale 1, has each pixel as a 2x2 block."""
    rows = shot[2]
    for dy, dx in ((0, 0), (0, 1), (1, 0), (1, 1)):
        sampled = [b"".join(rows[2 * (y + j) + dy][6 * (x + i) + 3 * dx:6 * (x + i) + 3 * dx + 3]
                            for i in range(width)) for j in range(height)]
        difference = first_difference((width, height, sampled), expected)
        if difference is not None:
            return "%s (the pixel at %d, %d of its 2x2 block)" % (difference, dx, dy)
    return None


def crop(image, x, y, width, height):
    iw, ih, rows = image
    check(x >= 0 and y >= 0 and x + width <= iw and y + height <= ih,
          "%dx%d at (%d, %d) is not inside the %dx%d image" % (width, height, x, y, iw, ih))
    return width, height, [row[x * 3:(x + width) * 3] for row in rows[y:y + height]]


def uniform(width, height, colour):
    return (width, height, [bytes(colour) * width] * height)


def count_red(image):
    _, _, rows = image
    return sum(row[i:i + 3] == b"\xff\x00\x00" for row in rows for i in range(0, len(row), 3))


# --- Command line --------------------------------------------------------------


def display_run(argv):
    """The command line (see above)."""
    split = argv.index("--", 2) if "--" in argv[2:] else 0
    if split == 0 or len(argv) == split + 1 or (
            argv[0] not in ("xvfb", "weston", "sway") or (argv[0] != "xvfb" and split != 2)):
        sys.stderr.write(__doc__)
        return 2
    size = tuple(int(v) for v in argv[1].split("x"))
    try:
        with Processes() as processes:
            if argv[0] == "xvfb":
                _, display = start_xvfb(processes, size, argv[2:split], log=sys.stderr)
                env = dict(os.environ, DISPLAY=display)
            else:
                import compositors
                workdir = tempfile.mkdtemp(prefix="ostrevane-%s-" % argv[0])
                processes.at_close(lambda: shutil.rmtree(workdir, ignore_errors=True))
                start = compositors.start_weston if argv[0] == "weston" else compositors.start_sway
                env = processes.adopt(start(workdir, size)).env()
            command = processes.spawn(argv[split + 1:], env=env)
            signal.signal(signal.SIGTERM, lambda *_: command.terminate())
            signal.signal(signal.SIGINT, lambda *_: command.terminate())
            code = command.wait()
    except (Failure, Skip) as error:
        sys.stderr.write("ostrevane_support: %s\n" % error)
        return 1
    return code


if __name__ == "__main__":
    sys.exit(display_run(sys.argv[1:]))
