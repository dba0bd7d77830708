"""The AppKit drivers of the end-to-end tests: GNUstep's AppKit drawing into
an Xvfb (OSTREVANE_BACKEND=appkit, a build with -DOSTREVANE_APPKIT=ON),
without a window manager (appkit) and under openbox (appkit-openbox); the
X11 drivers' tools look at the window.

Every case gives GNUstep a HOME of its own and checks that nothing was
written outside that HOME; the GNUstep helpers the program starts (gdnc,
the notification centre GNUstep's themes register with; gpbs, the
pasteboard server) are ended with the case.

Their own cases follow the drivers.
"""

import os
import pwd
import signal
import time

import ostrevane_e2e as e2e
from ostrevane_support import check, processes_with, wait_exit, wait_until
import x11_drivers

HELPERS = ("gdnc", "gpbs")
SYSTEM_CONFIG = "/etc/GNUstep/GNUstep.conf"


def appkit_env(session):  # session: its workdir and env()
    """The program's environment: the AppKit display, with everything GNUstep
    writes (defaults, service lists, message ports) in a HOME of the case's
    own. GNUstep takes the user's folders from the password database, not
    from HOME: a copy of its configuration puts them there."""
    home = os.path.join(session.workdir, "home")
    tmp = os.path.join(home, "tmp")
    os.makedirs(tmp, mode=0o700, exist_ok=True)
    config = os.path.join(home, "GNUstep.conf")
    lines = []
    if os.path.exists(SYSTEM_CONFIG):
        with open(SYSTEM_CONFIG) as f:
            lines = [line for line in f.read().splitlines() if not line.startswith("GNUSTEP_USER_")]
    for key, folder in (("DEFAULTS_DIR", "Defaults"), ("DIR_APPS", "Applications"),
                        ("DIR_ADMIN_APPS", "Applications/Admin"), ("DIR_TOOLS", "Tools"),
                        ("DIR_ADMIN_TOOLS", "Tools/Admin"), ("DIR_LIBRARY", "Library"),
                        ("DIR_WEB_APPS", "WebApplications")):
        lines.append("GNUSTEP_USER_%s=%s/GNUstep/%s" % (key, home, folder))
    lines.append("GNUSTEP_USER_CONFIG_FILE=")
    with open(config, "w") as f:
        f.write("\n".join(lines) + "\n")
    return dict(session.env(), OSTREVANE_BACKEND="appkit", HOME=home, TEMP=tmp, TMPDIR=tmp,
                GNUSTEP_CONFIG_FILE=config)


def outside_state():
    """What GNUstep would write outside the case's HOME without it: the
    account's own GNUstep folder and the shared secure temporary folder."""
    state = {}
    for top in (os.path.expanduser("~%s/GNUstep" % pwd.getpwuid(os.getuid()).pw_name),
                "/tmp/GNUstepSecure%d" % os.getuid()):
        for folder, _, files in os.walk(top):
            for name in [""] + files:
                path = os.path.join(folder, name)
                try:
                    state[path] = os.stat(path).st_mtime_ns
                except OSError:
                    pass
    return state


def end_helpers(env, before):
    """Ends the helpers the program started (they would stop on their own
    some seconds after it), and checks that nothing was written outside its
    HOME."""
    # gdnc starts a daemon of itself and leaves: looked for until none has
    # been seen for half a second.
    seen = [time.monotonic()]

    def quiet():
        for pid in processes_with("HOME=" + env["HOME"], HELPERS):
            seen[0] = time.monotonic()
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        return time.monotonic() - seen[0] >= 0.5

    wait_until("GNUstep's helpers", quiet, "they kept starting again")
    after = outside_state()
    changed = sorted(path for path in set(before) | set(after) if before.get(path) != after.get(path))
    check(changed == [], "written outside the program's HOME: %s" % changed)


class AppKit(x11_drivers.Xvfb):
    name = "appkit"
    labels = ("appkit",)

    def start(self):
        super().start()
        before = outside_state()
        # GNUstep's helpers end after the program, before the X server.
        self.processes.at_close(lambda: end_helpers(self.program_env(), before))

    def program_env(self):
        return appkit_env(self)

    def wait_helper_started(self):
        """Until the program has started gdnc: as it finishes launching,
        before its window is shown."""
        home = "HOME=" + os.path.join(self.workdir, "home")
        wait_until("gdnc started by the program", lambda: processes_with(home, ("gdnc",)),
                   lambda: "none (program exit %s): %s" % (self.process.poll(), self.stderr()))

    def check_identity(self, fields=None):
        if isinstance(self, x11_drivers.Openbox):
            check(self.info().get("parent") == "frame", "openbox did not frame the window")


class AppKitOpenbox(AppKit, x11_drivers.Openbox):
    name = "appkit-openbox"


def signals_case(d):
    """kill and Ctrl+C end the program, as on every display."""
    for sig in (signal.SIGTERM, signal.SIGINT):
        d.launch()
        d.process.send_signal(sig)
        code = wait_exit(d.process)
        check(code == -sig, "%s: exit %s, expected death by the signal" % (sig.name, code))
    print("ok - SIGTERM and SIGINT end the program")


def no_display_case(d):
    """No X server to connect to: one line naming the AppKit display and the
    X display, exit code 1, at once."""
    d.start()
    unserved = x11_drivers.unserved_display()
    x11_drivers.expect_quick_failure(d.args.program, dict(d.program_env(), DISPLAY=unserved),
                                     e2e.failure_lines(("cannot-open", "appkit"), name=unserved),
                                     "OSTREVANE_BACKEND=appkit, DISPLAY=%s unserved" % unserved)


AppKit.OWN_CASES = {"signals": (signals_case, ("800x600",)),
                    "no-display": (no_display_case, ("800x600",))}
AppKitOpenbox.OWN_CASES = {}

DRIVERS = (AppKit, AppKitOpenbox)
