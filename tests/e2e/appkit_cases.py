"""End-to-end cases of the AppKit display, with GNUstep's AppKit drawing
into Xvfb (OSTREVANE_BACKEND=appkit, a build with -DOSTREVANE_APPKIT=ON).

  appkit-window WxH   without a window manager: the window titled Ostrevane
                      shows the render tool's canvas of the WxH screen; typed
                      keys change nothing; a resize keeps the picture;
                      WM_DELETE_WINDOW (x11_probe close) ends the program
                      with exit code 0; SIGTERM and SIGINT end it
  appkit-openbox WxH  the same under openbox, closed through the window
                      manager (wmctrl -c)
  appkit-lost         no X server to connect to, and the X server killed
                      under the program: exit code 1 and one line naming the
                      display within a second

Every case gives GNUstep a HOME of its own and checks that nothing reached
stderr and nothing was written outside that HOME; the GNUstep helper the
program starts (gdnc, the notification centre GNUstep's themes register
with; gpbs, the pasteboard server) is ended with the case.

The harness (ostrevane_e2e.py) runs these cases; they use its Session,
WindowCase, checks and picture helpers.
"""

import os
import pwd
import signal
import time

from ostrevane_e2e import (TITLE, WindowCase, check, expect_exit, expect_lost,
                           expect_quick_failure, processes_with, render_expected, require_tools,
                           wait_exit)
from window_manager_cases import start_openbox, wmctrl

HELPERS = ("gdnc", "gpbs")
SYSTEM_CONFIG = "/etc/GNUstep/GNUstep.conf"


def appkit_env(session):
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
    env = session.env()
    env.update(OSTREVANE_BACKEND="appkit", HOME=home, TEMP=tmp, TMPDIR=tmp,
               GNUSTEP_CONFIG_FILE=config)
    return env


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
    quiet_since = time.monotonic()
    while time.monotonic() - quiet_since < 0.5:
        for pid in processes_with("HOME=" + env["HOME"], HELPERS):
            quiet_since = time.monotonic()
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        time.sleep(0.05)
    after = outside_state()
    changed = sorted(path for path in set(before) | set(after) if before.get(path) != after.get(path))
    check(changed == [], "written outside the program's HOME: %s" % changed)


def start(args, session, env):
    program = session.spawn([args.program], env=env)
    case = WindowCase(args, session, session.size)
    case.window = case.probe("find", TITLE, "15000", timeout=20).strip()
    return program, case


def expect_closed(program, what):
    expect_exit(program, 5, 0, "after " + what, allow_stderr=lambda line: False)


# What a user types. A window manager's own bindings stay its own: openbox
# closes the window on Alt+F4.
KEYS = ("Escape", "Return", "space", "BackSpace", "Delete", "ctrl+c", "ctrl+q", "F1", "Tab",
        "super+q")


def check_window(case, program, expected, keys=KEYS + ("alt+F4",)):
    """The canvas before and after typed keys and a resize."""
    x, y, w, h = case.geometry()
    case.expect_picture("first frame", expected)
    print("ok - window %s %dx%d at (%d, %d) shows the canvas" % (case.window, w, h, x, y))

    case.xdotool("windowfocus", "--sync", case.window)
    case.xdotool("type", "--delay", "2", "hello, world q")
    case.xdotool("key", *keys)
    time.sleep(0.3)
    check(program.poll() is None, "the program ended after typed keys")
    case.expect_picture("after typing", expected, timeout=0)
    print("ok - typed keys change nothing")

    width, height = case.session.size
    for size in ((211, 97), (width - 40, height - 60)):
        case.xdotool("windowsize", case.window, str(size[0]), str(size[1]))
        case.wait_geometry("resize to %dx%d" % size, (None, None) + size)
        case.expect_picture("after resizing to %dx%d" % size, expected)
    check(program.poll() is None, "the program ended when resized")
    print("ok - resizing keeps the picture")


def window_case(args, session):
    require_tools("Xvfb", "xdotool")
    expected = render_expected(args, session.workdir, session.size)
    session.start_xvfb()
    env = appkit_env(session)
    before = outside_state()
    try:
        program, case = start(args, session, env)
        check_window(case, program, expected)
        case.probe("close", case.window)
        expect_closed(program, "WM_DELETE_WINDOW")
        print("ok - WM_DELETE_WINDOW ends the program with exit code 0, nothing on stderr")
        # kill and Ctrl+C end it, as on every display (GNUstep's own
        # handlers for them would leave it running).
        for sig in (signal.SIGTERM, signal.SIGINT):
            program, case = start(args, session, env)
            program.send_signal(sig)
            code = wait_exit(program, 5)
            check(code == -sig, "%s: exit %s, expected death by the signal" % (sig.name, code))
        print("ok - SIGTERM and SIGINT end the program")
    finally:
        end_helpers(env, before)


def openbox_case(args, session):
    require_tools("Xvfb", "xdotool", "openbox", "wmctrl")
    expected = render_expected(args, session.workdir, session.size)
    session.start_xvfb()
    start_openbox(session)
    env = appkit_env(session)
    before = outside_state()
    try:
        program, case = start(args, session, env)
        check(case.info().get("parent") == "frame", "openbox did not frame the window")
        check_window(case, program, expected, KEYS)
        wmctrl(session, "-i", "-c", case.window)
        expect_closed(program, "the window manager's close")
        print("ok - closing through openbox ends the program with exit code 0, nothing on stderr")
    finally:
        end_helpers(env, before)


def lost_case(args, session):
    require_tools("Xvfb")
    expected = render_expected(args, session.workdir, session.size)
    session.start_xvfb()
    env = appkit_env(session)
    before = outside_state()
    try:
        unserved = ":%d" % next(n for n in range(173, 1000)
                                if not os.path.exists("/tmp/.X11-unix/X%d" % n))
        expect_quick_failure(args, dict(env, DISPLAY=unserved), ["AppKit display", unserved],
                             "OSTREVANE_BACKEND=appkit, DISPLAY=%s unserved" % unserved)
        program, case = start(args, session, env)
        # Drawn and waiting when the server goes.
        case.expect_picture("first frame", expected)
        session.xvfb.kill()
        session.xvfb.wait(timeout=5)
        expect_lost(program, '"%s"' % session.display, "losing %s" % session.display)
    finally:
        end_helpers(env, before)


CASES = {"appkit-window": window_case, "appkit-openbox": openbox_case, "appkit-lost": lost_case}
