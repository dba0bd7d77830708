"""The Wayland drivers of the end-to-end tests, with no X server: weston and
sway, headless, as tests/support/compositors.py starts them (sway as an
unprivileged user: the tests run as root in CI), the case failing if any
process of a compositor's runtime folder outlives it. The program finds
Wayland on its own (no DISPLAY, no OSTREVANE_BACKEND). weston draws no
decorations: libdecor's frame and caption must be above the client area;
weston leaves the window its default size, 3/4 of the output. sway tiles
it, frames it itself and types at it through wtype's virtual keyboard.

Their own cases follow each driver.
"""

import json
import os
import shutil
import signal
import subprocess
import time

import ostrevane_e2e as e2e
from ostrevane_e2e import check, expect_lost
from ostrevane_support import (DEADLINE, OwnClock, crop, doubled_difference, first_difference,
                               read_png, require_tools, uniform, wait_for_match, wait_until)
from compositors import WESTON_BACKGROUND, start_sway, start_weston

# --- weston ------------------------------------------------------------------


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


class CompositorDriver(e2e.Driver):
    """What the weston and sway drivers share: the program on
    self.compositor, which is the display."""

    labels = ("wayland",)
    display_kind = "wayland"

    def spawn(self, argv, env, stdout, stderr):
        return self.compositor.spawn_program(argv, env, stdout, stderr)

    def lost_name(self):
        return self.compositor.socket

    def kill_display(self, how=signal.SIGKILL):
        self.compositor.kill(how)
        self.running = False


class Weston(CompositorDriver):
    name = "weston"
    options = ()

    def start(self):
        require_tools("weston-screenshooter", "weston-debug")
        self.compositor = start_weston(self.workdir, self.size, self.options)
        self.processes.adopt(self.compositor)

    def wait_window(self, title):
        """Until the program's toplevel is in weston's scene graph."""
        wait_until("no toplevel '%s' in weston's scene graph" % title,
                   lambda: "top-level window '%s'" % title in self.compositor.run(
                       ["weston-debug", "scene-graph"]).stdout, "not within %d s" % DEADLINE,
                   interval=0.1)

    def screenshot(self):
        shots = os.path.join(self.workdir, "shots")
        shutil.rmtree(shots, ignore_errors=True)
        os.mkdir(shots)
        result = self.compositor.run(["weston-screenshooter"], cwd=shots)
        check(result.returncode == 0, "weston-screenshooter failed: " + result.stderr.strip())
        names = [name for name in os.listdir(shots) if name.endswith(".png")]
        check(len(names) == 1, "weston-screenshooter wrote %s" % names)
        return read_png(os.path.join(shots, names[0]))

    def client_size(self):
        return (self.size[0] * 3 // 4, self.size[1] * 3 // 4)

    def difference(self, expected):
        self.shot = self.screenshot()
        check(self.shot[:2] == self.size, "screenshot is %dx%d" % self.shot[:2])
        self.at = find_client_area(self.shot, expected, self.client_size())
        return None if self.at else ("no %dx%d client area showing the canvas in the screenshot"
                                     % self.client_size())

    def check_identity(self, fields=None):
        # weston draws no decorations: libdecor's frame and caption must be
        # there, above the client area, where the desktop would show.
        self.expect_picture("first frame", self.expected())
        (x, y), (w, _) = self.at, self.client_size()
        check(y >= 20, "no room for a caption above the client area at y=%d" % y)
        caption = self.shot[2][y - 10][x * 3:(x + w) * 3]
        desktop = sum(caption[i:i + 3] == bytes(WESTON_BACKGROUND)
                      for i in range(0, len(caption), 3))
        check(desktop == 0, "no caption bar above the client area (%d of %d pixels are desktop)"
              % (desktop, w))


def weston_no_xdg_shell_case(d):
    """weston's fullscreen shell offers no xdg_wm_base: the program says so
    and, with an X server reachable, opens its window there instead."""
    import x11_drivers
    d.options = ["--shell=fullscreen-shell.so"]
    d.start()
    env = d.compositor.env()
    program = d.args.program
    # A copy of the program without its Wayland module beside it (an
    # incomplete install), and with one of another build, which it must
    # not call.
    alone = os.path.join(d.workdir, "alone")
    os.makedirs(alone)
    lone = os.path.join(alone, os.path.basename(program))
    shutil.copy(program, lone)
    no_x = ("unnamed", "x11")
    x11_drivers.expect_quick_failure(
        program, env, e2e.failure_lines(("no-shell", "wayland"), no_x, name=d.compositor.socket),
        "no xdg_wm_base, no X")
    x11_drivers.expect_quick_failure(lone, env, e2e.failure_lines(("no-module", "wayland"), no_x),
                                     "no Wayland module, no X")
    if d.args.other_module is not None:
        module = os.path.join(alone, "ostrevane-wayland.so")
        shutil.copy(d.args.other_module, module)
        x11_drivers.expect_quick_failure(
            lone, env, e2e.failure_lines(("other-module", "wayland"), no_x),
            "a Wayland module of another build, no X")
        os.unlink(module)
    with x11_drivers.Xvfb(d.args, d.workdir, (640, 480)) as x:
        x.program_env = lambda: dict(env, DISPLAY=x.display)
        for path, why in ((program, "no xdg_wm_base"), (lone, "no Wayland module")):
            x.program_path = lambda kind: path
            x.launch()
            x.close_window()
            x.expect_closed(why + ", the window on X11")
            print("ok - %s: the window opens on X11 %s and closes with 0" % (why, x.display))


def xwayland_lost_case(d):
    """The X11 display through weston's Xwayland: when weston shuts down,
    Xwayland destroys the window before the connection closes, and the
    program must still end with 1, not 0."""
    require_tools("Xwayland")
    d.options = ["--xwayland"]
    for how in (signal.SIGTERM, signal.SIGKILL):
        d.start()
        log = wait_until("weston announced no X display", lambda: (
            lambda text: "listening on display :" in text and text)(d.compositor.log_tail(None)),
            d.compositor.log_tail)
        display = log[log.index("listening on display :") + 21:].split()[0]
        d.running = True
        d.launch(env={"DISPLAY": display, "OSTREVANE_BACKEND": "x11"})
        clock = OwnClock(d.process)
        d.kill_display(how)
        expect_lost(d.process, e2e.failure_lines(("lost", "x11"), name=display),
                    "Xwayland %s, weston got %s" % (display, how.name),
                    d.err_path, timeout=1.5, clock=clock)
        d.compositor.close()


# weston shut down in order (SIGTERM): as when killed.
Weston.OWN_CASES = {
    "lost-term": (lambda d: e2e.lost_case(d, how=signal.SIGTERM), ("640x480",)),
    "no-xdg-shell": (weston_no_xdg_shell_case, ("640x480",)),
    "xwayland-lost": (xwayland_lost_case, ("640x480",)),
}


# --- sway --------------------------------------------------------------------


class SwayDriver(CompositorDriver):
    """sway, and a virtual keyboard (wtype, idle) that keeps the seat's
    keyboard there from the start: a program binds it as it starts, and no
    typed key can come before it has."""

    name = "sway"
    output_size = None

    def start(self):
        require_tools("swaymsg", "grim", "wtype")
        self.compositor = self.processes.adopt(start_sway(self.workdir,
                                                          self.output_size or self.size))
        self.extra = self.compositor.extra
        keeper = self.compositor.spawn_program(["wtype", "-s", "86400000"], self.extra,
                                               subprocess.DEVNULL, subprocess.DEVNULL)
        wait_until("the idle virtual keyboard", lambda: keeper.poll() is not None or any(
            "keyboard" in device.get("type", "") for device in json.loads(
                self.msg("-t", "get_inputs", "-r"))), "no keyboard in sway's inputs")
        check(keeper.poll() is None, "wtype ended at start")

    def msg(self, *argv, all_must_succeed=True):
        """swaymsg; some commands of a batch may be refused (a tiled window
        cannot be moved) unless `all_must_succeed`."""
        result = self.compositor.run(["swaymsg"] + list(argv), extra_env=self.extra)
        check(result.returncode == 0 or (not all_must_succeed and '"success"' in result.stdout),
              "swaymsg %s failed: %s %s"
              % (" ".join(argv)[:200], result.stdout.strip()[:400], result.stderr.strip()))
        return result.stdout

    def node(self):
        """The program's node in sway's tree, or None."""
        stack = [json.loads(self.msg("-t", "get_tree", "-r"))]
        while stack:
            node = stack.pop()
            if node.get("name") == self.title and node.get("pid"):
                return node
            stack.extend(node.get("nodes", []) + node.get("floating_nodes", []))
        return None

    def wait_window(self, title):
        """Until the program's node is in sway's tree; fails if the program
        ends first."""
        def shown():
            check(self.process.poll() is None, "the program ended (code %s) with no window in "
                  "sway's tree" % self.process.returncode)
            return self.node()

        wait_until("sway's tree", shown, "no window '%s'" % title)

    def wtype(self, *argv):
        result = self.compositor.run(["wtype"] + list(argv), extra_env=self.extra)
        check(result.returncode == 0, "wtype failed: " + result.stderr.strip())

    def screenshot(self):
        path = os.path.join(self.compositor.runtime_dir, "shot.png")
        if os.path.exists(path):
            os.unlink(path)
        result = self.compositor.run(["grim", path], extra_env=self.extra)
        check(result.returncode == 0, "grim failed: " + result.stderr.strip())
        return read_png(path)

    def client_area(self):
        node = self.node()
        check(node is not None, "the window is gone from sway's tree")
        rect, inner = node["rect"], node["window_rect"]
        return rect["x"] + inner["x"], rect["y"] + inner["y"], inner["width"], inner["height"]

    def difference(self, expected):
        x, y, w, h = self.client_area()
        return first_difference(crop(self.screenshot(), x, y, w, h), expected)

    def client_size(self):
        return self.client_area()[2:]

    def criteria(self):
        return '[title="^%s$"]' % self.title

    def type(self, text="", keys=()):
        argv = [text] if text else []
        for key in keys:
            *mods, key = key.split("+")
            mods = [{"ctrl": "ctrl", "super": "logo", "shift": "shift", "alt": "alt"}[m]
                    for m in mods]
            argv += [a for m in mods for a in ("-M", m)] + ["-k", key] + [
                a for m in mods for a in ("-m", m)]
        self.wtype(*argv)

    def resize(self, width, height):
        """Floated and resized: the client area follows sway's size (the size
        asked for holds sway's border and title bar too)."""
        self.msg(self.criteria(), "floating", "enable")
        self.msg(self.criteria(), "resize", "set", "width", "%d px" % width, "height",
                 "%d px" % height)
        return wait_until("resized to %dx%d" % (width, height), lambda: (
            lambda w, h: width - 40 < w <= width and height - 60 < h <= height and (w, h))(
                *self.client_size()), lambda: "client area %dx%d" % self.client_size())

    def sync(self, expected):
        # A configure after the keys: once drawn at its size, the program
        # has taken everything before it.
        self.resize(301, 203)
        self.expect_picture("after the keys", expected)

    def close_window(self):
        self.msg(self.criteria(), "kill")

    def burst(self):
        self.msg(self.criteria(), "floating", "enable")
        self.wtype("-d", "1", "a" * 200)
        self.msg("; ".join("%s resize set %d px %d px" % (self.criteria(), 100 + i * 7 % 500,
                                                          80 + i * 11 % 400)
                           for i in range(50)))


def sway_scaled_case(d):
    """On an output of 1600x1200 pixels at scale 2 the program draws for the
    logical size, at scale 1, and sway doubles every pixel: each canvas
    pixel is a 2x2 block of the screenshot."""
    d.output_size, d.metrics = (1600, 1200), (800, 600)
    expected = d.expected()
    d.start()
    d.running = True
    d.msg("output", "HEADLESS-1", "scale", "2")
    d.launch()
    size = [None]

    def difference():
        x, y, w, h = d.client_area()
        size[0] = (w, h)
        shot = d.screenshot()
        check(shot[:2] == d.output_size, "screenshot is %dx%d" % shot[:2])
        return doubled_difference(shot, x, y, w, h, expected)

    wait_for_match("scale 2", difference)
    print("ok - sway 1600x1200 at scale 2: the %dx%d client area shows the 800x600 canvas, each "
          "pixel doubled" % size[0])
    d.close_window()
    d.expect_closed("swaymsg kill")


def sway_show_states_case(d):
    """tests/e2e/show_states: hidden and shown again, maximised, restored,
    minimised; the window survives each change (no protocol error), shows
    its white client area, and closes with exit code 0."""
    d.launch("states")
    for key in "hmrnhmrh":
        d.type(keys=(key,))
        d.wait_window(d.title)
    x, y, w, h = d.client_area()
    d.expect_picture("after the show states", uniform(w, h, (255, 255, 255)))
    print("ok - sway: hidden and shown, maximised, restored, minimised: the %dx%d client area is "
          "white, no protocol error" % (w, h))
    d.close_window()
    d.expect_closed("swaymsg kill")


def sway_key_repeat_case(d):
    """A held key repeats after sway's repeat_delay at its repeat_rate, and
    not at all at rate 0; a key released while another repeats stops
    nothing, a modifier pressed and released neither, and once the
    repeating key is released nothing repeats (window_rect_reporter's
    WM_CHARs counted)."""
    d.launch("reporter")
    d.msg("input", "type:keyboard", "repeat_delay", "200")

    def held(*argv):
        """The WM_CHARs counted, and the most a key held at 40 a second can
        give in the time from its press to the sentinel typed after its
        release: wtype's sleeps may last longer than asked on a busy
        machine, and the key repeats until its release arrives."""
        before = len(d.chars())
        pressed = time.monotonic()
        d.wtype(*argv)
        d.type(e2e.SENTINEL)
        wait_until(" ".join(argv), lambda: ord(e2e.SENTINEL) in d.chars()[before:],
                   lambda: "WM_CHARs %s" % d.chars()[before:])
        most = 2 + int((time.monotonic() - pressed - 0.2) * 40)
        got = d.chars()[before:-1]
        return {c: got.count(c) for c in set(got)}, got, most

    # Held 1.5 s at 40 a second after 200 ms: the first, then about 52 more;
    # at rate 0 none.
    for rate in (40, 0):
        d.msg("input", "type:keyboard", "repeat_rate", str(rate))
        counts, got, most = held("-P", "a", "-s", "1500", "-p", "a")
        fewest, most = (35, most) if rate else (1, 1)
        check(set(counts) == {0x61} and fewest <= counts[0x61] <= most,
              "'a' held 1.5 s at repeat_rate %d: %s (%d-%d)" % (rate, counts, fewest, most))
        print("ok - sway: 'a' held 1.5 s at repeat_rate %d typed %d (%d to %d)"
              % (rate, counts[0x61], fewest, most))
    d.msg("input", "type:keyboard", "repeat_rate", "40")
    # 'b' pressed while 'a' is held repeats in its place; releasing 'a'
    # then stops nothing.
    counts, got, most = held("-P", "a", "-P", "b", "-s", "100", "-p", "a", "-s", "1400", "-p", "b")
    check(counts.get(0x61) == 1 and 30 <= counts.get(0x62, 0) <= most,
          "'b' held over 'a', 'a' released: %s (at most %d)" % (counts, most))
    print("ok - sway: 'a' released while 'b' repeats: %d 'b's" % counts[0x62])
    # A modifier pressed and released while 'a' repeats stops nothing.
    counts, got, most = held("-P", "a", "-s", "300", "-M", "ctrl", "-s", "100", "-m", "ctrl",
                             "-s", "1100", "-p", "a")
    check(set(counts) <= {0x61, 0x01} and 35 <= len(got) <= most,
          "'a' held, Control pressed and released: %s (at most %d)" % (counts, most))
    print("ok - sway: Control pressed and released while 'a' repeats: %d" % len(got))
    # Once the repeating key is released, nothing repeats: neither it nor
    # the key held before it.
    counts, got, _ = held("-P", "a", "-s", "50", "-P", "b", "-s", "50", "-p", "b", "-s", "1200",
                       "-p", "a")
    check(len(got) <= 4 and set(counts) <= {0x61, 0x62},
          "'b' pressed and released over a held 'a': %s" % counts)
    print("ok - sway: the repeating key released over a held one: nothing repeats (%s)" % got)
    d.close_window()
    d.expect_closed("swaymsg kill")


SwayDriver.OWN_CASES = {"scaled": (sway_scaled_case, ("1600x1200",)),
                        "show-states": (sway_show_states_case, ("800x600",)),
                        "key-repeat": (sway_key_repeat_case, ("800x600",))}

DRIVERS = (Weston, SwayDriver)
