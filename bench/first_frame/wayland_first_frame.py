#!/usr/bin/env python3
"""How long Wayland clients take from exec to their first whole frame on the
compositor, and how much memory they use at most.

    wayland_first_frame.py RUNS -- PROGRAM_A [ARGS...] [-- PROGRAM_B [ARGS...]] ...

WAYLAND_DISPLAY (and XDG_RUNTIME_DIR) name the compositor. Each program is
started RUNS times, the programs taking turns, with WAYLAND_DEBUG=1: the
client's own libwayland then writes every request it sends and every event
it dispatches to stderr, each stamped with the wall clock in microseconds.
The same rule reads every program's log:

  * the window is the wl_surface of the first xdg_surface given an
    xdg_toplevel role;
  * its first whole frame is the first commit of that surface with a buffer
    attached and one damage rectangle covering all of that buffer;
  * the run ends when the client dispatches the done event of a frame
    callback asked for in that commit: the compositor has repainted its
    output with the frame (with weston, after the renderer has drawn it),
    together with any subsurface state the commit applied (libdecor's
    frame).

A run's time goes from just before the program is spawned (under
/usr/bin/time -v) to that event's stamp. The probe then sends the program
SIGTERM and takes its peak resident memory from time's report ("Maximum
resident set size").

Prints one line per run and, per program (NAME its arguments joined by ':'):
  program NAME median_ms M min_ms A max_ms B peak_rss_kib_median R peak_rss_kib_max S
          commit_ms_median C
  frame NAME WxH decorations N surfaces P pixels
(C: from exec to the frame's commit, the rest being the compositor's), the
second line telling the window's buffer size and what else the client
had put on screen by its first frame (other surfaces' buffers: libdecor's
shadow and title bar, say).
Exit status: 0 done, 1 a run failed (reason on stderr), 2 bad usage.
"""
import os
import re
import select
import shutil
import signal
import statistics
import sys
import tempfile
import time

LINE = re.compile(r"^\[\s*(\d+)\.(\d+)\]\s+(->\s+)?([A-Za-z0-9_]+)@(\d+)\.([A-Za-z0-9_]+)\((.*)\)")
NEW_ID = re.compile(r"new id (?:[A-Za-z0-9_]+|\[unknown\])@(\d+)")
OBJECT = re.compile(r"[A-Za-z0-9_]+@(\d+)")
RUN_TIMEOUT = 60.0
WRAP_US = 1 << 32  # libwayland's stamps are microseconds in 32 bits


class Failure(Exception):
    pass


class Log:
    """The first whole frame, read from one client's WAYLAND_DEBUG lines."""

    def __init__(self, start_realtime_us, start_monotonic_us):
        self.starts = (start_realtime_us % WRAP_US, start_monotonic_us % WRAP_US)
        self.clock = None  # which of the two the stamps follow
        self.buffers = {}  # wl_buffer id -> (width, height)
        self.pending = {}  # wl_surface id -> {buffer, damage, callbacks}
        self.attached = {}  # wl_surface id -> (width, height) of its buffer
        self.window = None  # the toplevel's wl_surface id
        self.xdg_surfaces = {}  # xdg_surface id -> wl_surface id
        self.frame_callbacks = set()
        self.size = None
        self.commit_us = None  # when the whole frame was committed
        self.end_us = None

    def elapsed_us(self, stamp_us):
        if self.clock is None:
            # The wall clock in libwayland up to 1.21; be ready for the
            # monotonic one too: whichever puts the first line just after
            # the spawn.
            for index, start in enumerate(self.starts):
                if (stamp_us - start) % WRAP_US < 30 * 1000000:
                    self.clock = index
                    break
            else:
                raise Failure("WAYLAND_DEBUG stamps follow neither the wall nor the monotonic "
                              "clock of this machine")
        return (stamp_us - self.starts[self.clock]) % WRAP_US

    def surface(self, ident):
        return self.pending.setdefault(ident, {"buffer": None, "damage": [], "callbacks": []})

    def feed(self, line):
        """Reads one line; True once the first whole frame is done."""
        match = LINE.match(line)
        if match is None:
            return False
        stamp_us = int(match.group(1)) * 1000 + int(match.group(2))
        elapsed = self.elapsed_us(stamp_us)
        request = match.group(3) is not None
        kind, ident, message, args = (match.group(4), int(match.group(5)), match.group(6),
                                      match.group(7))
        if not request:
            if kind == "wl_callback" and message == "done" and ident in self.frame_callbacks:
                self.end_us = elapsed
                return True
            return False
        new_id = NEW_ID.search(args)
        fields = [field.strip() for field in args.split(",")]
        if kind == "wl_shm_pool" and message == "create_buffer" and new_id:
            self.buffers[int(new_id.group(1))] = (int(fields[2]), int(fields[3]))
        elif kind == "xdg_wm_base" and message == "get_xdg_surface" and new_id:
            objects = OBJECT.findall(args.replace(new_id.group(0), ""))
            self.xdg_surfaces[int(new_id.group(1))] = int(objects[0])
        elif kind == "xdg_surface" and message == "get_toplevel" and self.window is None:
            self.window = self.xdg_surfaces.get(ident)
        elif kind == "wl_surface" and message == "attach":
            objects = OBJECT.findall(args)
            self.surface(ident)["buffer"] = int(objects[0]) if objects else 0
        elif kind == "wl_surface" and message in ("damage", "damage_buffer"):
            self.surface(ident)["damage"].append(tuple(int(field) for field in fields[:4]))
        elif kind == "wl_surface" and message == "frame" and new_id:
            self.surface(ident)["callbacks"].append(int(new_id.group(1)))
        elif kind == "wl_surface" and message == "commit":
            state = self.pending.pop(ident, None)
            if state is None:
                return False
            if state["buffer"] is not None:
                size = self.buffers.get(state["buffer"])
                if size is None:
                    self.attached.pop(ident, None)
                else:
                    self.attached[ident] = size
            size = self.attached.get(ident)
            if (ident == self.window and self.size is None and size is not None
                    and any(x <= 0 and y <= 0 and x + w >= size[0] and y + h >= size[1]
                            for x, y, w, h in state["damage"])):
                self.size = size
            if ident == self.window and self.size is not None:
                if self.commit_us is None:
                    self.commit_us = elapsed
                self.frame_callbacks.update(state["callbacks"])
        return False

    def decorations(self):
        """Other surfaces with a buffer: their number and pixels."""
        others = [size for ident, size in self.attached.items() if ident != self.window]
        return len(others), sum(w * h for w, h in others)


def children(pid):
    """The processes `pid` started (the program under time)."""
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as listing:
            return [int(child) for child in listing.read().split()]
    except OSError:
        return []


def run_once(argv, workdir):
    env = {key: value for key, value in os.environ.items()
           if key not in ("DISPLAY", "WAYLAND_DEBUG", "WAYLAND_SOCKET")}
    env["WAYLAND_DEBUG"] = "1"
    # Through /usr/bin/time: a child of this interpreter would carry its
    # resident pages in the kernel's peak (exec keeps the larger), one forked
    # by time only time's few. time's own start is in both programs' times.
    report = os.path.join(workdir, "time.txt")
    argv = ["/usr/bin/time", "-v", "-o", report] + argv
    reader, writer = os.pipe()
    os.set_inheritable(writer, False)
    null = os.open(os.devnull, os.O_RDWR)
    actions = [(os.POSIX_SPAWN_DUP2, null, 0), (os.POSIX_SPAWN_DUP2, null, 1),
               (os.POSIX_SPAWN_DUP2, writer, 2)]
    start_realtime = time.clock_gettime_ns(time.CLOCK_REALTIME) // 1000
    start_monotonic = time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000
    try:
        pid = os.posix_spawn(argv[0], argv, env, file_actions=actions)
    finally:
        os.close(writer)
        os.close(null)
    log = Log(start_realtime, start_monotonic)
    tail = []
    done = False
    pending = b""
    deadline = time.monotonic() + RUN_TIMEOUT
    try:
        while not done:
            left = deadline - time.monotonic()
            if left <= 0:
                raise Failure("%s showed no whole frame within %d s" % (argv[0], RUN_TIMEOUT))
            ready, _, _ = select.select([reader], [], [], left)
            if not ready:
                continue
            chunk = os.read(reader, 65536)
            if not chunk:
                raise Failure("%s ended before its first whole frame: %s"
                              % (argv[0], "".join(tail[-5:]).strip()))
            lines = (pending + chunk).split(b"\n")
            pending = lines.pop()
            for raw in lines:
                line = raw.decode(errors="replace")
                tail = (tail + [line + "\n"])[-20:]
                if log.feed(line):
                    done = True
                    break
    finally:
        for child in children(pid):
            os.kill(child, signal.SIGTERM)
        # Drain what is still written so that the program never blocks on it.
        while select.select([reader], [], [], 10)[0]:
            if not os.read(reader, 65536):
                break
        else:
            for child in children(pid):
                os.kill(child, signal.SIGKILL)
        os.waitpid(pid, 0)
        os.close(reader)
    peak_kib = 0
    with open(report) as lines:
        for line in lines:
            if "Maximum resident set size" in line:
                peak_kib = int(line.split(":")[1])
    return log.end_us / 1000.0, peak_kib, log


def main(args):
    try:
        runs = int(args[0])
    except (IndexError, ValueError):
        runs = 0
    if runs <= 0 or len(args) < 3 or args[1] != "--":
        print("usage: wayland_first_frame.py RUNS -- PROGRAM [ARGS...] [-- PROGRAM ...]",
              file=sys.stderr)
        return 2
    programs = []
    for arg in args[2:]:
        if arg == "--":
            programs.append([])
        elif not programs:
            programs.append([arg])
        else:
            programs[-1].append(arg)
    programs = [argv for argv in programs if argv]
    names = [":".join(argv) for argv in programs]
    results = {name: [] for name in names}
    frames = {}
    workdir = tempfile.mkdtemp(prefix="wayland_first_frame.")
    try:
        for index in range(runs):
            for name, argv in zip(names, programs):
                milliseconds, rss, log = run_once(argv, workdir)
                results[name].append((milliseconds, rss, log.commit_us / 1000.0))
                frames[name] = (log.size, log.decorations())
                print("run %d %s ms %.2f peak_rss_kib %d commit_ms %.2f"
                      % (index + 1, name, milliseconds, rss, log.commit_us / 1000.0), flush=True)
    except Failure as error:
        print("wayland_first_frame: %s" % error, file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    for name in names:
        times = [run[0] for run in results[name]]
        memory = [run[1] for run in results[name]]
        commits = [run[2] for run in results[name]]
        print("program %s median_ms %.2f min_ms %.2f max_ms %.2f peak_rss_kib_median %d "
              "peak_rss_kib_max %d commit_ms_median %.2f"
              % (name, statistics.median(times), min(times), max(times),
                 statistics.median(memory), max(memory), statistics.median(commits)))
        size, (surfaces, pixels) = frames[name]
        print("frame %s %dx%d decorations %d surfaces %d pixels"
              % (name, size[0], size[1], surfaces, pixels))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
