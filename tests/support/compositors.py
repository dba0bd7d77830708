"""Headless Wayland compositors for the tests and the benchmarks: weston
(pixman) and sway (run as an unprivileged user, which is made once; sway
refuses root), each in a runtime folder (mode 0700), process group and
socket of its own. Whatever is left of a compositor's runtime folder when
it closes (Xwayland, shell helpers) is killed, and the close fails.
"""

import os
import pwd
import shutil
import signal
import subprocess
import tempfile
import time

from ostrevane_support import (DEADLINE, Closing, Failure, Skip, check, processes_with,
                               require_tools, wait_until)

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


class Compositor(Closing):
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
                                      "HOME", "LANG", "LC_ALL", "ASAN_OPTIONS", "LSAN_OPTIONS",
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

        self.socket = wait_until(argv[0], socket, "made no socket")

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

    def run(self, argv, timeout=DEADLINE, extra_env=None, cwd=None):
        env = self.env(extra_env)
        return subprocess.run(self.command(argv, env), env=env, capture_output=True, text=True,
                              timeout=timeout, cwd=cwd or self.runtime_dir)

    def spawn_program(self, program, extra_env=None, stdout=subprocess.PIPE,
                      stderr=subprocess.PIPE):
        """Starts `program` (a path, or a command line) on the compositor."""
        env = self.env(extra_env)
        argv = [program] if isinstance(program, str) else list(program)
        process = subprocess.Popen(self.command(argv, env), env=env, stdout=stdout,
                                   stderr=stderr, start_new_session=True)
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
            self.process.wait(timeout=DEADLINE)

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
            process.wait(timeout=DEADLINE)
        if self.process is not None:
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.process.wait(timeout=DEADLINE)
        if getattr(self, "log", None) is not None:
            self.log.close()
        # Anything left of this compositor (Xwayland, shell helpers) is a
        # fault of the test's clean-up: kill it, then say so.
        def leftover():
            return processes_with("XDG_RUNTIME_DIR=" + self.runtime_dir)
        try:
            wait_until("processes outlived the compositor", lambda: not leftover(), leftover)
        finally:
            for pid in leftover():
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass


def start_weston(workdir, size, options=()):
    require_tools("weston")
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


def sway_user():
    """The unprivileged account sway runs as, made once."""
    check(os.geteuid() == 0, "the sway case creates a user: run it as root")
    try:
        return pwd.getpwnam(SWAY_USER)
    except KeyError:
        pass
    result = subprocess.run(["useradd", "--system", "--no-create-home", "--shell",
                             "/usr/sbin/nologin", SWAY_USER], capture_output=True, text=True,
                            timeout=DEADLINE)
    # 9: made meanwhile by a test running beside this one.
    check(result.returncode in (0, 9), "useradd failed: " + result.stderr.strip())
    return pwd.getpwnam(SWAY_USER)


def start_sway(workdir, size):
    """sway on one WxH output, without Xwayland; its `extra` environment
    (SWAYSOCK among it) is what swaymsg and the programs run with."""
    require_tools("sway", "runuser", "useradd")
    if os.geteuid() != 0:
        if os.environ.get("CI") == "true":
            raise Failure("sway must run as root in CI (it makes a user)")
        raise Skip("sway runs as root here (it makes an unprivileged user)")
    user = sway_user()
    compositor = Compositor(workdir, user)
    config = os.path.join(compositor.runtime_dir, "config")
    with open(config, "w") as f:
        f.write("output HEADLESS-1 resolution %dx%d\n" % size)
        f.write("xwayland disable\n")
    os.chown(config, user.pw_uid, user.pw_gid)
    compositor.extra = {"WLR_BACKENDS": "headless", "WLR_RENDERER": "pixman",
                        "WLR_LIBINPUT_NO_DEVICES": "1", "HOME": compositor.runtime_dir}
    try:
        compositor.start(["sway", "-c", config], compositor.extra)
        # sway names its IPC socket after its user and process.
        names = wait_until("sway made no IPC socket", lambda: [
            name for name in os.listdir(compositor.runtime_dir)
            if name.startswith("sway-ipc.") and name.endswith(".sock")], compositor.log_tail)
    except BaseException:
        compositor.close()
        raise
    compositor.extra["SWAYSOCK"] = os.path.join(compositor.runtime_dir, names[0])
    return compositor
