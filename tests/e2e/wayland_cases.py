"""End-to-end cases of the ostrevane program on real Wayland compositors,
with no X server: weston (headless, pixman) and sway (headless, as an
unprivileged user). ostrevane_e2e.py dispatches to them.

Each compositor gets a runtime folder of its own (mode 0700), a socket name
of its own and a process group of its own; the whole group is killed at the
end, and the case fails if any process of that runtime folder outlives it
(Xwayland, shell helpers).

Cases:
  weston-window WxH  the program chooses Wayland on its own (DISPLAY
                     unset); its window, captioned "Ostrevane" and framed by
                     libdecor (weston has no server-side decorations), shows
                     the top-left part of `ostrevane-render --size WxH` in a
                     client area 3/4 of the output
  weston-lost        killing weston ends the program with exit code 1 and
                     one line naming the compositor, within a second
  weston-no-xdg-shell
                     weston's fullscreen shell (no xdg_wm_base), and a copy
                     of the program without its Wayland module or with one
                     of another build (--other-module): one line and exit
                     code 1 without X; with an X server, the window
                     opens there
  xwayland-lost      the X11 display through weston's Xwayland: weston shut
                     down or killed ends the program with exit code 1 and one
                     line naming the X display, even though the window is
                     destroyed before the connection closes
  sway-scaled WxH    on a WxH output at scale 2, the client area shows the
                     canvas of the logical size (W/2 x H/2) with every pixel
                     doubled by sway
  sway-show-states   tests/e2e/show_states (--states) on sway, typed at:
                     hidden and shown again, maximised, restored, minimised
  sway-chars         tests/e2e/window_rect_reporter (--reporter) on sway:
                     the WM_CHARs of typed characters, the last one too, of
                     a dead key, and of a held key at sway's repeat rate and
                     delay
  sway-window WxH    sway tiles the window: the client area shows the
                     canvas at the size sway gives it, also after typed
                     keys (wtype); floated and resized
                     with swaymsg it still does; `swaymsg kill` ends the
                     program with exit code 0
"""

import json
import os
import pwd
import shutil
import signal
import subprocess
import tempfile
import time

import ostrevane_e2e as e2e
from ostrevane_e2e import (Failure, Skip, check, crop, first_difference, read_png, require_tools,
                           wait_for_match, wait_until)

TITLE = e2e.TITLE
# The unprivileged account sway runs as (sway refuses root).
SWAY_USER = "ostrevane-e2e"
# weston's desktop: one flat colour, no panel, no animations.
WESTON_BACKGROUND = (0x20, 0x40, 0xC0)
WESTON_INI = """[core]
idle-time=0

[shell]
background-color=0xff2040c0
panel-position=none
animation=none
startup-animation=none
close-animation=none
focus-animation=none
"""


class Compositor(e2e.Closing):
    """A compositor in a process group and runtime folder of its own, and
    the programs started on it."""

    def __init__(self, workdir, user=None):
        self.user = user
        self.runtime_dir = tempfile.mkdtemp(prefix="ostrevane-wl-", dir=workdir)
        os.chmod(self.runtime_dir, 0o700)
        if user is not None:
            os.chmod(workdir, 0o755)
            os.chown(self.runtime_dir, user.pw_uid, user.pw_gid)
        self.socket = "ostrevane-%d-%d" % (os.getpid(), int(time.monotonic() * 1000) % 100000)
        self.process = None
        self.programs = []

    def env(self, extra=None):
        env = {key: value for key, value in os.environ.items()
               if key not in ("DISPLAY", "WAYLAND_DISPLAY", "OSTREVANE_BACKEND", "XAUTHORITY")}
        env["XDG_RUNTIME_DIR"] = self.runtime_dir
        env["WAYLAND_DISPLAY"] = self.socket
        env.update(extra or {})
        return env

    def stage(self, path):
        """A copy of the file at `path` that the compositor's user can read
        and run (the build may sit in a folder closed to it), with the
        suppression files (memcheck.sh reads its own) and the Wayland
        module beside it."""
        staged_dir = os.path.join(os.path.dirname(self.runtime_dir), "staged")
        os.makedirs(staged_dir, mode=0o755, exist_ok=True)
        source_dir = os.path.dirname(os.path.abspath(path))
        for name in os.listdir(source_dir):
            if name.endswith(".supp") or name.endswith(".so"):
                shutil.copy(os.path.join(source_dir, name), staged_dir)
        target = os.path.join(staged_dir, os.path.basename(path))
        shutil.copy(path, target)
        os.chmod(target, 0o755)
        return target

    def command(self, argv, env):
        """argv run with `env`, as the compositor's user."""
        if self.user is None:
            return argv
        argv = [self.stage(arg) if os.path.isabs(arg) and os.path.isfile(arg)
                and not arg.startswith("/usr/") else arg
                for arg in argv]
        env = dict(env)
        options = env.get("LSAN_OPTIONS", "")
        if "suppressions=" in options:
            parts = [part if not part.startswith("suppressions=")
                     else "suppressions=" + self.stage(part[len("suppressions="):])
                     for part in options.split(":")]
            env["LSAN_OPTIONS"] = ":".join(parts)
        assignments = ["%s=%s" % item for item in sorted(env.items())
                       if item[0] in ("XDG_RUNTIME_DIR", "WAYLAND_DISPLAY", "SWAYSOCK", "PATH",
                                      "HOME", "LANG", "ASAN_OPTIONS", "LSAN_OPTIONS",
                                      "UBSAN_OPTIONS")
                       or item[0].startswith("WLR_")]
        return ["runuser", "-u", self.user.pw_name, "--", "env", "-i"] + assignments + argv

    def start(self, argv, extra_env=None):
        env = self.env(extra_env)
        self.log = open(os.path.join(self.runtime_dir, "..", "compositor.log"), "wb")
        self.process = subprocess.Popen(self.command(argv, env), env=env, stdout=self.log,
                                        stderr=subprocess.STDOUT, start_new_session=True,
                                        cwd=self.runtime_dir)

        def socket():
            check(self.process.poll() is None, "%s exited at start (code %s): %s"
                  % (argv[0], self.process.returncode, self.log_tail()))
            return self.find_socket()

        self.socket = wait_until(argv[0], socket, "made no socket within 15 s", 15)

    def find_socket(self):
        """The compositor's socket: the name asked for, or the one it chose
        itself (sway takes the first free wayland-N)."""
        names = os.listdir(self.runtime_dir)
        if self.socket in names:
            return self.socket
        chosen = sorted(name for name in names
                        if name.startswith("wayland-") and not name.endswith(".lock"))
        return chosen[0] if chosen else None

    def log_tail(self, limit=600):
        try:
            with open(os.path.join(self.runtime_dir, "..", "compositor.log"), "rb") as f:
                data = f.read()
            return (data[-limit:] if limit else data).decode(errors="replace").strip()
        except OSError:
            return ""

    def run(self, argv, timeout=10, extra_env=None, cwd=None):
        env = self.env(extra_env)
        return subprocess.run(self.command(argv, env), env=env, capture_output=True, text=True,
                              timeout=timeout, cwd=cwd or self.runtime_dir)

    def spawn_program(self, program, extra_env=None):
        """Starts `program` (a path, or a command line) on the compositor."""
        env = self.env(extra_env)
        argv = [program] if isinstance(program, str) else list(program)
        process = subprocess.Popen(self.command(argv, env), env=env,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   start_new_session=True)
        self.programs.append(process)
        return process

    def kill(self, how=signal.SIGKILL):
        """Ends the compositor: SIGKILL to its whole process group, or
        `how` to the compositor alone (which then takes its helpers
        down; close() kills whatever is left)."""
        if self.process is not None and self.process.poll() is None:
            try:
                if how == signal.SIGKILL:
                    os.killpg(self.process.pid, signal.SIGKILL)
                else:
                    os.kill(self.compositor_pid(), how)
            except ProcessLookupError:
                pass
        if self.process is not None and how == signal.SIGKILL:
            self.process.wait(timeout=5)

    def compositor_pid(self):
        """The compositor itself (under runuser, its child)."""
        if self.user is None:
            return self.process.pid
        with open("/proc/%d/task/%d/children" % (self.process.pid, self.process.pid)) as f:
            children = f.read().split()
        return int(children[0]) if children else self.process.pid

    def close(self):
        for process in self.programs:
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGKILL)
            process.wait(timeout=5)
        if self.process is not None:
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.process.wait(timeout=5)
        if getattr(self, "log", None) is not None:
            self.log.close()
        # Anything left of this compositor (Xwayland, shell helpers) is a
        # fault of the test's clean-up: kill it, then say so.
        deadline = time.monotonic() + 2
        leftover = e2e.processes_with("XDG_RUNTIME_DIR=" + self.runtime_dir)
        while leftover and time.monotonic() < deadline:
            time.sleep(0.05)
            leftover = e2e.processes_with("XDG_RUNTIME_DIR=" + self.runtime_dir)
        for pid in leftover:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        check(not leftover, "processes outlived the compositor: %s" % leftover)


def wait_exit_checked(process, timeout, want_code, what):
    return e2e.expect_exit(process, timeout, want_code, "after " + what)


# --- weston ------------------------------------------------------------------


def start_weston(workdir, size, options=()):
    require_tools("weston", "weston-screenshooter", "weston-debug")
    compositor = Compositor(workdir)
    ini = os.path.join(workdir, "weston.ini")
    with open(ini, "w") as f:
        f.write(WESTON_INI)
    try:
        compositor.start(["weston", "--config=" + ini, "--backend=headless-backend.so",
                          "--use-pixman", "--width=%d" % size[0], "--height=%d" % size[1],
                          "--socket=" + compositor.socket, "--debug", "--idle-time=0"]
                         + list(options))
    except BaseException:
        compositor.close()
        raise
    return compositor


def weston_window_title(compositor, timeout=10):
    """Waits for the program's toplevel in weston's scene graph."""
    wait_until("no toplevel '%s' in weston's scene graph" % TITLE,
               lambda: "top-level window '%s'" % TITLE in compositor.run(
                   ["timeout", "2", "weston-debug", "scene-graph"], timeout=5).stdout,
               "not within %d s" % timeout, timeout, 0.1)


def weston_screenshot(compositor, workdir):
    shots = os.path.join(workdir, "shots")
    shutil.rmtree(shots, ignore_errors=True)
    os.mkdir(shots)
    result = compositor.run(["weston-screenshooter"], cwd=shots)
    check(result.returncode == 0, "weston-screenshooter failed: " + result.stderr.strip())
    names = [name for name in os.listdir(shots) if name.endswith(".png")]
    check(len(names) == 1, "weston-screenshooter wrote %s" % names)
    return read_png(os.path.join(shots, names[0]))


def find_client_area(shot, expected, size):
    """(x, y) where the screenshot shows the expected canvas's top-left
    `size` part, or None. Candidates are where the canvas's first row
    begins; a frame drawn around the client area never matches it."""
    width, height, rows = shot
    cw, ch = size
    first = expected[2][0][:cw * 3]
    second = expected[2][1][:cw * 3] if ch > 1 else None
    for y in range(height - ch + 1):
        at = rows[y].find(first)
        while at != -1:
            x = at // 3
            if at % 3 == 0 and x + cw <= width and (
                    second is None or rows[y + 1][at:at + cw * 3] == second):
                if first_difference(crop(shot, x, y, cw, ch), expected) is None:
                    return x, y
            at = rows[y].find(first, at + 1)
    return None


def weston_window_case(args, workdir, size):
    expected = e2e.render_expected(args, workdir, size)
    compositor = start_weston(workdir, size)
    try:
        # No DISPLAY and no OSTREVANE_BACKEND: the program finds Wayland
        # itself. The command line is ignored, whatever it holds.
        program = compositor.spawn_program(args.runner + [args.program])
        weston_window_title(compositor)
        # weston leaves the size to the client: 3/4 of the output.
        want = (size[0] * 3 // 4, size[1] * 3 // 4)

        def client_area():
            nonlocal shot
            shot = weston_screenshot(compositor, workdir)
            check(shot[:2] == size, "screenshot is %dx%d" % shot[:2])
            return find_client_area(shot, expected, want)

        shot = None
        x, y = wait_until("weston %dx%d" % size, client_area, "no %dx%d client area showing the "
                          "canvas in the screenshot" % want, 5, 0.1)
        w, h = want
        # weston draws no decorations: libdecor's frame and caption must be
        # there, above the client area, where the desktop would show.
        check(y >= 20, "no room for a caption above the client area at y=%d" % y)
        caption = shot[2][y - 10][x * 3:(x + w) * 3]
        background = bytes(WESTON_BACKGROUND)
        desktop = sum(caption[i:i + 3] == background for i in range(0, len(caption), 3))
        check(desktop == 0, "no caption bar above the client area (%d of %d pixels are desktop)"
              % (desktop, w))
        check(program.poll() is None, "the program ended on its own")
        print("ok - weston %dx%d: client area %dx%d at (%d, %d), under a caption bar, shows "
              "the canvas pixel for pixel" % (size + (w, h, x, y)))
    finally:
        compositor.close()
    check(program.returncode is not None, "the program outlived the test")


def weston_lost_case(args, workdir):
    # Killed outright, and shut down in order (SIGTERM).
    for how in (signal.SIGKILL, signal.SIGTERM):
        compositor = start_weston(workdir, (640, 480))
        try:
            program = compositor.spawn_program(args.program)
            weston_window_title(compositor)
            compositor.kill(how)
            stderr, elapsed = wait_exit_checked(program, 1.0, 1, "weston got %s" % how.name)
            lines = stderr.splitlines()
            check(len(lines) == 1 and compositor.socket in lines[0],
                  "stderr does not say which compositor was lost: %r" % stderr)
            print("ok - weston got %s: %s (%.3f s)" % (how.name, lines[0], elapsed))
        finally:
            compositor.close()


def weston_no_xdg_shell_case(args, workdir):
    """weston's fullscreen shell offers no xdg_wm_base: the program says so
    and, with an X server reachable, opens its window there instead."""
    require_tools("Xvfb")
    compositor = start_weston(workdir, (640, 480), ["--shell=fullscreen-shell.so"])
    session = e2e.Session(workdir, (640, 480))
    try:
        env = compositor.env()
        started = time.monotonic()
        result = subprocess.run([args.program], env=env, capture_output=True, text=True,
                                timeout=10)
        elapsed = time.monotonic() - started
        lines = result.stderr.splitlines()
        check(result.returncode == 1 and elapsed < 1.0,
              "no xdg_wm_base, no X: exit code %d after %.2f s" % (result.returncode, elapsed))
        check(len(lines) == 1 and "xdg_wm_base" in lines[0] and compositor.socket in lines[0],
              "no xdg_wm_base, no X: stderr is not one line naming both: %r" % result.stderr)
        print("ok - no xdg_wm_base, no X: %s" % lines[0])

        # A copy of the program without its Wayland module beside it (an
        # incomplete install) cannot use the compositor either.
        alone = os.path.join(workdir, "alone")
        os.makedirs(alone, exist_ok=True)
        lone = os.path.join(alone, os.path.basename(args.program))
        shutil.copy(args.program, lone)
        result = subprocess.run([lone], env=env, capture_output=True, text=True, timeout=10)
        lines = result.stderr.splitlines()
        check(result.returncode == 1 and len(lines) == 1 and "ostrevane-wayland.so" in lines[0],
              "no module, no X: exit code %d, stderr %r" % (result.returncode, result.stderr))
        print("ok - no Wayland module, no X: %s" % lines[0])
        # Nor can it with a module of another build, which it must not call.
        if args.other_module is not None:
            module = os.path.join(alone, "ostrevane-wayland.so")
            shutil.copy(args.other_module, module)
            result = subprocess.run([lone], env=env, capture_output=True, text=True, timeout=10)
            os.unlink(module)
            check(result.returncode == 1 and "from another build" in result.stderr,
                  "module of another build: exit code %d, stderr %r"
                  % (result.returncode, result.stderr))
            print("ok - a Wayland module of another build, no X: %s" % result.stderr.strip())

        session.start_xvfb()
        env["DISPLAY"] = session.display
        for program_path, why in ((args.program, "no xdg_wm_base"), (lone, "no Wayland module")):
            program = subprocess.Popen([program_path], env=env, stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE)
            session.processes.append(program)
            found = session.run([args.probe, "find", TITLE, "10000"], timeout=15)
            check(found.returncode == 0, "%s: no window on X: %s" % (why, found.stderr.strip()))
            session.run([args.probe, "close", found.stdout.strip()])
            code = e2e.wait_exit(program, 5)
            check(code == 0, "%s: exit code %s after closing the X window" % (why, code))
            print("ok - %s: the window opens on X11 %s and closes with 0"
                  % (why, session.display))
    finally:
        session.close()
        compositor.close()


def xwayland_lost_case(args, workdir):
    """The X11 display through weston's Xwayland: when weston shuts down,
    Xwayland destroys the window before the connection closes, and the
    program must still end with 1, not 0."""
    require_tools("Xwayland")
    for how in (signal.SIGTERM, signal.SIGKILL):
        compositor = start_weston(workdir, (640, 480), ["--xwayland"])
        try:
            wait_until("weston announced no X display",
                       lambda: "listening on display :" in compositor.log_tail(None),
                       compositor.log_tail, 10)
            log = compositor.log_tail(None)
            display = log[log.index("listening on display :") + 21:].split()[0]
            program = compositor.spawn_program(args.program,
                                               {"DISPLAY": display, "OSTREVANE_BACKEND": "x11"})
            weston_window_title(compositor)
            compositor.kill(how)
            stderr, elapsed = wait_exit_checked(program, 1.5, 1, "weston got %s" % how.name)
            lines = stderr.splitlines()
            check(len(lines) == 1 and '"%s"' % display in lines[0],
                  "stderr does not say which display was lost: %r" % stderr)
            print("ok - Xwayland %s of weston, weston got %s: %s (%.3f s)"
                  % (display, how.name, lines[0], elapsed))
        finally:
            compositor.close()


# --- sway --------------------------------------------------------------------


def sway_user():
    """The unprivileged account sway runs as, made once."""
    check(os.geteuid() == 0, "the sway case creates a user: run it as root")
    try:
        return pwd.getpwnam(SWAY_USER)
    except KeyError:
        pass
    result = subprocess.run(["useradd", "--system", "--no-create-home", "--shell",
                             "/usr/sbin/nologin", SWAY_USER], capture_output=True, text=True,
                            timeout=30)
    # 9: made meanwhile by a test running beside this one.
    check(result.returncode in (0, 9), "useradd failed: " + result.stderr.strip())
    return pwd.getpwnam(SWAY_USER)


class Sway(e2e.Closing):
    def __init__(self, workdir, size):
        require_tools("sway", "swaymsg", "grim", "wtype", "runuser", "useradd")
        if os.geteuid() != 0:
            if os.environ.get("CI") == "true":
                raise Failure("the sway case must run as root in CI (it makes a user)")
            raise Skip("the sway case runs as root (it makes an unprivileged user)")
        self.user = sway_user()
        self.workdir = workdir
        self.compositor = Compositor(workdir, self.user)
        config = os.path.join(self.compositor.runtime_dir, "config")
        with open(config, "w") as f:
            f.write("output HEADLESS-1 resolution %dx%d\n" % size)
            f.write("xwayland disable\n")
        os.chown(config, self.user.pw_uid, self.user.pw_gid)
        self.extra = {"WLR_BACKENDS": "headless", "WLR_RENDERER": "pixman",
                      "WLR_LIBINPUT_NO_DEVICES": "1", "HOME": self.compositor.runtime_dir}
        try:
            self.start(config)
        except BaseException:
            self.compositor.close()
            raise

    def start(self, config):
        self.compositor.start(["sway", "-c", config], self.extra)
        # sway names its IPC socket after its user and process.
        names = wait_until("sway made no IPC socket within 10 s", lambda: [
            name for name in os.listdir(self.compositor.runtime_dir)
            if name.startswith("sway-ipc.") and name.endswith(".sock")],
            self.compositor.log_tail, 10)
        self.extra["SWAYSOCK"] = os.path.join(self.compositor.runtime_dir, names[0])

    def msg(self, *argv, all_must_succeed=True):
        """swaymsg; some commands of a batch may be refused (a tiled window
        cannot be moved) unless `all_must_succeed`."""
        result = self.compositor.run(["swaymsg"] + list(argv), extra_env=self.extra)
        check(result.returncode == 0 or (not all_must_succeed and '"success"' in result.stdout),
              "swaymsg %s failed: %s %s"
              % (" ".join(argv)[:200], result.stdout.strip()[:400], result.stderr.strip()))
        return result.stdout

    def window(self, title=TITLE):
        """The program's node in sway's tree, or None."""
        tree = json.loads(self.msg("-t", "get_tree", "-r"))
        stack = [tree]
        while stack:
            node = stack.pop()
            if node.get("name") == title and node.get("pid"):
                return node
            stack.extend(node.get("nodes", []) + node.get("floating_nodes", []))
        return None

    def wait_window(self, program, title=TITLE, timeout=10):
        """The program's node in sway's tree, once it is there; fails if the
        program ends first."""
        def shown():
            if program.poll() is not None:
                raise Failure("the program ended (code %d) with no window in sway's tree: %s" % (
                    program.returncode, program.stderr.read().decode(errors="replace").strip()))
            return self.window(title)

        return wait_until("sway's tree", shown, "no window '%s'" % title, timeout)

    def type_keys(self):
        """Text, special keys and shortcuts through wtype's virtual keyboard
        (it gives the window the keyboard focus, with its own keymap)."""
        for argv in (["wtype", "-s", "300", "hello, world q \u00e9\u20ac"],
                     ["wtype", "-s", "300", "-k", "Escape", "-k", "Return", "-k", "BackSpace", "-k", "Tab",
                      "-k", "F1", "-M", "ctrl", "-k", "c", "-k", "w", "-m", "ctrl",
                      "-M", "alt", "-k", "F4", "-m", "alt"]):
            result = self.compositor.run(argv, extra_env=self.extra)
            check(result.returncode == 0, "%s failed: %s" % (" ".join(argv[:2]),
                                                              result.stderr.strip()))

    def screenshot(self):
        path = os.path.join(self.compositor.runtime_dir, "shot.png")
        if os.path.exists(path):
            os.unlink(path)
        result = self.compositor.run(["grim", path], extra_env=self.extra)
        check(result.returncode == 0, "grim failed: " + result.stderr.strip())
        return read_png(path)

    def expect_picture(self, what, expected, size_ok=None, timeout=5.0):
        """Waits until the window (of a size that size_ok(w, h) accepts,
        if given) shows the canvas."""
        size = [None]

        def difference():
            node = self.window()
            check(node is not None, "%s: the window is gone from sway's tree" % what)
            rect, inner = node["rect"], node["window_rect"]
            x, y = rect["x"] + inner["x"], rect["y"] + inner["y"]
            w, h = size[0] = inner["width"], inner["height"]
            if size_ok is not None and not size_ok(w, h):
                return "client area %dx%d" % (w, h)
            return first_difference(crop(self.screenshot(), x, y, w, h), expected)

        wait_for_match(what, difference, timeout)
        return size[0]

    def close(self):
        self.compositor.close()


def sway_window_case(args, workdir, size):
    expected = e2e.render_expected(args, workdir, size)
    sway = Sway(workdir, size)
    try:
        program = sway.compositor.spawn_program(args.program)
        sway.wait_window(program)
        w, h = sway.expect_picture("tiled", expected)
        print("ok - sway %dx%d: tiled window %dx%d shows the canvas" % (size + (w, h)))

        # Typed keys (a virtual keyboard with a keymap of its own) change
        # nothing.
        sway.type_keys()
        time.sleep(0.3)
        check(program.poll() is None, "the program ended after typed keys")
        sway.expect_picture("after typing", expected, timeout=0)
        print("ok - sway: typed keys change nothing")

        # Floated and resized: the client area follows sway's size (the
        # size asked for holds sway's border and title bar too).
        criteria = '[title="^%s$"]' % TITLE
        sway.msg(criteria, "floating", "enable")
        for asked in ((301, 203), (size[0] - 40, size[1] - 60)):
            sway.msg(criteria, "resize", "set", "width", "%d px" % asked[0], "height",
                     "%d px" % asked[1])
            w, h = sway.expect_picture("resized to %dx%d" % asked, expected,
                                       lambda w, h: asked[0] - 40 < w <= asked[0]
                                       and asked[1] - 60 < h <= asked[1])
            print("ok - sway: resized to %dx%d, the %dx%d client area shows the canvas"
                  % (asked + (w, h)))
        check(program.poll() is None, "the program ended while resized")

        sway.msg(criteria, "kill")
        stderr, elapsed = wait_exit_checked(program, 5.0, 0, "swaymsg kill")
        check(stderr == "", "unexpected stderr: %r" % stderr)
        print("ok - swaymsg kill ends the program with exit code 0 (%.3f s)" % elapsed)
    finally:
        sway.close()


def sway_show_states_case(args, workdir):
    """tests/e2e/show_states on sway: hidden and shown again, maximised,
    restored, minimised; the window survives each change (no protocol
    error), shows its white client area, and closes with exit code 0."""
    check(args.states is not None, "--states is needed")
    title = "Show states"
    sway = Sway(workdir, (800, 600))
    try:
        program = sway.compositor.spawn_program(args.states)
        sway.wait_window(program, title)
        time.sleep(0.3)
        for key in "hmrnhmrh":
            # The seat has a keyboard only while wtype runs: it waits for
            # the program to take it before pressing the key.
            result = sway.compositor.run(["wtype", "-s", "300", key], extra_env=sway.extra)
            check(result.returncode == 0, "wtype failed: " + result.stderr.strip())
            sway.wait_window(program, title, 5)
            time.sleep(0.3)
        node = sway.window(title)
        rect, inner = node["rect"], node["window_rect"]
        x, y = rect["x"] + inner["x"], rect["y"] + inner["y"]
        width, height, rows = crop(sway.screenshot(), x, y, inner["width"], inner["height"])
        check(all(row == b"\xff" * (width * 3) for row in rows),
              "the %dx%d client area is not all white" % (width, height))
        print("ok - sway: hidden and shown, maximised, restored, minimised: the %dx%d client "
              "area is white, no protocol error" % (width, height))
        sway.msg('[title="^%s$"]' % title, "kill")
        stderr, elapsed = wait_exit_checked(program, 5.0, 0, "swaymsg kill")
        check(stderr == "", "unexpected stderr: %r" % stderr)
        print("ok - swaymsg kill ends it with exit code 0")
    finally:
        sway.close()


def sway_chars_case(args, workdir):
    """é, €, ß and Ω typed with wtype become the WM_CHARs e9 80 df 3f (Ω is
    not in Windows-1252), a dead acute and e one e9; a held key repeats after sway's repeat_delay at
    its repeat_rate, and not at all with repeat_rate 0."""
    from window_manager_cases import wait_until
    check(args.reporter is not None, "--reporter is needed")
    title = "Typed characters"
    sway = Sway(workdir, (800, 600))
    try:
        program = sway.compositor.spawn_program([args.reporter, title])
        wait_until("the window", lambda: sway.window(title) is not None,
                   lambda: "no window '%s' in sway's tree" % title, timeout=10)
        os.set_blocking(program.stdout.fileno(), False)
        chars = []

        def typed(*argv):
            del chars[:]
            result = sway.compositor.run(["wtype", "-s", "300"] + list(argv), extra_env=sway.extra)
            check(result.returncode == 0, "wtype failed: " + result.stderr.strip())
            time.sleep(0.3)
            output = program.stdout.read() or b""
            chars.extend(line.split()[1].decode() for line in output.splitlines()
                         if line.startswith(b"char "))
            return chars
        # A dead key and the key it composes with type one character.
        for argv, want in ((["\u00e9\u20ac\u00df\u03a9"], ["e9", "80", "df", "3f"]),
                           (["-k", "dead_acute", "-k", "e"], ["e9"])):
            check(typed(*argv) == want, "typed %s, got the WM_CHARs %s" % (argv, chars))
            print("ok - sway: %s typed are the WM_CHARs %s" % (" ".join(argv), " ".join(want)))
        # Held 1.5 s: the first character, then one every 25 ms after 200 ms
        # (53 in all); 0 repeats none.
        for rate, fewest, most in ((40, 35, 60), (0, 1, 1)):
            sway.msg("input", "type:keyboard", "repeat_delay", "200")
            sway.msg("input", "type:keyboard", "repeat_rate", str(rate))
            count = len(typed("-P", "a", "-s", "1500", "-p", "a"))
            check(fewest <= count <= most and set(chars) == {"61"},
                  "'a' held 1.5 s at repeat_rate %d: %s" % (rate, chars))
            print("ok - sway: 'a' held 1.5 s at repeat_rate %d typed %d 'a's" % (rate, count))
        sway.msg('[title="^%s$"]' % title, "kill")
        wait_exit_checked(program, 5.0, 0, "swaymsg kill")
    finally:
        sway.close()

def sway_scaled_case(args, workdir, size):
    """On an output of `size` pixels at scale 2 the program draws for the
    logical size (half of it each way), at scale 1, and sway doubles every
    pixel: each canvas pixel is a 2x2 block of the screenshot."""
    logical = (size[0] // 2, size[1] // 2)
    expected = e2e.render_expected(args, workdir, logical)
    sway = Sway(workdir, size)
    try:
        sway.msg("output", "HEADLESS-1", "scale", "2")
        program = sway.compositor.spawn_program(args.program)

        def difference():
            nonlocal w, h
            check(program.poll() is None, "the program ended at start")
            node = sway.window()
            if node is None:
                return "no window"
            rect, inner = node["rect"], node["window_rect"]
            x, y = rect["x"] + inner["x"], rect["y"] + inner["y"]
            w, h = inner["width"], inner["height"]
            width, height, rows = sway.screenshot()
            check((width, height) == size, "screenshot is %dx%d" % (width, height))
            difference = None
            for phase in (0, 1):
                sampled = [b"".join(rows[2 * (y + j) + phase][6 * (x + i) + 3 * phase:
                                                               6 * (x + i) + 3 * phase + 3]
                                    for i in range(w)) for j in range(h)]
                difference = difference or first_difference((w, h, sampled), expected)
            return difference

        w = h = None
        wait_for_match("scale 2", difference, 10)
        print("ok - sway %dx%d at scale 2: the %dx%d client area shows the %dx%d canvas, each "
              "pixel doubled" % (size + (w, h) + logical))
        sway.msg('[title="^%s$"]' % TITLE, "kill")
        stderr, _ = wait_exit_checked(program, 5.0, 0, "swaymsg kill")
        check(stderr == "", "unexpected stderr: %r" % stderr)
    finally:
        sway.close()


def run(args, workdir, case, size):
    if case == "weston-window":
        weston_window_case(args, workdir, size)
    elif case == "weston-lost":
        weston_lost_case(args, workdir)
    elif case == "weston-no-xdg-shell":
        weston_no_xdg_shell_case(args, workdir)
    elif case == "xwayland-lost":
        xwayland_lost_case(args, workdir)
    elif case == "sway-scaled":
        sway_scaled_case(args, workdir, size)
    elif case == "sway-show-states":
        sway_show_states_case(args, workdir)
    elif case == "sway-chars":
        sway_chars_case(args, workdir)
    elif case == "sway-window":
        sway_window_case(args, workdir, size)
    else:
        raise Failure("unknown case " + case)
