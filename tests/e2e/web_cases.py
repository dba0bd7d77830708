"""The web drivers of the end-to-end tests, one per browser engine: the web
version (scripts/web.sh, dist/web/) served on 127.0.0.1 and opened in
Chromium, Firefox or WebKit (tests/support/browsers.py starts and drives
each), the browser's viewport (scale factor 1) being the screen. The page
frames the window: the canvas is the client area, 3/4 of the viewport
by default; a screenshot of the page shows the same pixels and no other
pure red one. Keys reach the program while the client area has the focus;
the title bar and the corner are dragged to move and resize; the close
button closes; the reporter (window_rect_reporter built for the web) prints
its WM_CHARs on the console.

Its own cases follow the driver (the page's offline copy and its update
among them).
"""

import base64
import os
import re
import shutil
import subprocess
import sys

import ostrevane_e2e as e2e
from ostrevane_e2e import TITLE, check
from ostrevane_support import (DEADLINE, Closing, Processes, count_red, crop,
                               doubled_difference, first_difference, read_png, unavailable,
                               wait_until)

import browsers  # noqa: E402 (tests/support, on the path ostrevane_e2e gives)

PAGE_FILES = ["index.html", "ostrevane.webmanifest", "icon-192.png", "icon-512.png",
              "service-worker.js"]
MAKE_PAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "platform",
                         "backends", "web", "page", "make_page.py")
# The frame around the client area, as ostrevane.css draws it.
BORDER = 4
TITLE_HEIGHT = 28

# The canvas as rows of RGB bytes: [width, height, base64].
READ_CANVAS = """
const canvas = document.querySelector('.client canvas');
if (!canvas) return null;
const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
const rgb = new Uint8Array(canvas.width * canvas.height * 3);
for (let i = 0, j = 0; i < data.length; i += 4, j += 3) {
  rgb[j] = data[i]; rgb[j + 1] = data[i + 1]; rgb[j + 2] = data[i + 2];
}
let text = '';
for (let i = 0; i < rgb.length; i += 0x8000) {
  text += String.fromCharCode.apply(null, rgb.subarray(i, i + 0x8000));
}
return [canvas.width, canvas.height, btoa(text)];
"""

# Where the page put the canvas and the frame, in viewport pixels.
READ_LAYOUT = """
const canvas = document.querySelector('.client canvas');
const frame = document.querySelector('.frame');
if (!canvas || !frame) return null;
const c = canvas.getBoundingClientRect();
return {x: c.left, y: c.top, width: c.width, height: c.height,
        caption: frame.querySelector('.caption').textContent,
        viewport: [window.innerWidth, window.innerHeight]};
"""


# A key typed as soon as the window is shown, before its first frame: the
# focus then, the focus after it, and the events it queued for the program.
KEY_BEFORE_FRAME = """
new MutationObserver((changes, observer) => {
  if (!document.querySelector('.frame:not([hidden])')) return;
  observer.disconnect();
  const sent = () => Object.values(Module.ostrevanePage.eventCounts()).reduce((a, b) => a + b);
  const focus = document.activeElement.className, before = sent();
  document.activeElement.dispatchEvent(new KeyboardEvent('keydown', {key: 'q', bubbles: true}));
  window.keyBeforeFrame = [focus, document.activeElement.className, sent() - before];
}).observe(document, {subtree: true, childList: true, attributes: true});
"""

# axe-core's checks of the page (its script already in the page): the rules
# that fail, with the elements they fail on.
RUN_AXE = """
const done = arguments[arguments.length - 1];
axe.run(document).then(
    r => done(r.violations.map(v => v.id + ' (' + v.nodes.map(n => n.target.join(' ')) + ')')),
    e => done(['axe-core failed: ' + e]));
"""


class Browser(Closing):
    """A browser of one engine with a fresh profile (browsers.py's session:
    `session`), and what the cases ask of the page in it."""

    def __init__(self, workdir, engine, scale=1):
        self.session = browsers.start(engine, workdir, scale)

    def set_viewport(self, width, height, scale=1):
        self.session.set_viewport(width, height, scale)

    def js(self, script, *args):
        return self.session.js(script, *args)

    def lacks(self, feature):
        """Why the engine cannot do `feature`, or None."""
        return self.session.lacks.get(feature)

    def wait_for(self, what, condition, timeout=DEADLINE):
        return wait_until(what, condition, "not within %.0f s" % timeout, timeout)

    def state(self):
        # Not the page at all (a browser's error page): no state, no status.
        return self.js("return [document.documentElement.dataset.state || '',"
                       " (document.getElementById('status') || {}).textContent || '',"
                       " document.documentElement.dataset.exitCode];")

    def offline(self):
        return self.js("return document.documentElement.dataset.offline || '';")

    def kept(self):
        """The URLs in each of the page's caches, by cache name. Opening a
        cache makes it again if a worker has just deleted it: while a worker
        may be changing them, ask only for their names."""
        return dict(self.session.js_async("""
const done = arguments[arguments.length - 1];
caches.keys().then(names => Promise.all(names.map(name => caches.open(name).then(
    cache => cache.keys()).then(requests => [name, requests.map(r => r.url).sort()]))))
    .then(done, e => done([['error', String(e)]]));
"""))

    def cache_names(self):
        return self.session.js_async(
            "const done = arguments[arguments.length - 1];"
            " caches.keys().then(done, e => done(['error', String(e)]));")

    def focused(self):
        return self.js("return document.activeElement.className;")

    def shift_tab(self):
        self.session.key("Tab", ("Shift",))

    def expect_accessible(self, what, axe):
        with open(axe, encoding="utf-8") as f:
            self.js("const s = document.createElement('script'); s.textContent = arguments[0];"
                    " document.head.appendChild(s);", f.read())
        violations = self.session.js_async(RUN_AXE)
        check(violations == [], "%s: axe-core finds %s" % (what, "; ".join(violations)))

    def log(self):
        """Every console entry so far (the driver hands each out once)."""
        self.entries = getattr(self, "entries", []) + self.session.log()
        return self.entries

    def errors(self):
        return [entry["message"] for entry in self.log() if entry.get("level") == "SEVERE"]

    def close(self):
        self.session.close()


def require_file(path, how):
    if not path or not os.path.isfile(path):
        unavailable("no %s: %s" % (path, how))


def canvas_image(browser):
    result = browser.js(READ_CANVAS)
    check(result is not None, "the page has no canvas")
    width, height, data = result
    pixels = base64.b64decode(data)
    rows = [pixels[y * width * 3:(y + 1) * width * 3] for y in range(height)]
    return width, height, rows


# The harness's keys (xdotool's names) as a browser names them; each in
# TYPING types one WM_CHAR (a control character), the others none.
BROWSER_KEYS = {"Return": "Enter", "space": " ", "BackSpace": "Backspace", "Up": "ArrowUp",
                "Down": "ArrowDown", "Left": "ArrowLeft", "Right": "ArrowRight",
                "Prior": "PageUp", "Next": "PageDown", "ctrl": "Control", "shift": "Shift",
                "super": "Meta"}
TYPING = ("Escape", "Return", "space", "BackSpace", "Delete", "Tab")
COUNTS = "return Module.ostrevanePage.eventCounts();"


class PageProgram:
    """The program in the page, as a process: it has ended once the page
    says so, with the exit code the page shows."""

    pid = 0

    def __init__(self, browser):
        self.browser = browser
        self.returncode = None

    def poll(self):
        state, _, code = self.browser.state()
        if state == "ended" and self.returncode is None:
            self.returncode = int(code)
        return self.returncode

    def wait(self, timeout=None):
        self.browser.wait_for("the page did not report the end of the program",
                              lambda: self.poll() is not None, timeout or DEADLINE)
        return self.returncode


class Web(e2e.Driver):
    """The page in one engine's browser (`engine`, as browsers.py names it)."""
    engine = None
    sizes = ("1366x768", "1023x767")
    # Shift+Tab is the page's (as Alt+F4 is a desktop's); the browser keeps
    # Ctrl+W and Ctrl+Q.
    kept_keys = ("shift+Tab", "ctrl+w", "ctrl+q", "super+q")
    scale = 1
    file_url = False
    before_load = None  # a script each page runs before its own

    def start(self):
        browsers.require(self.engine)
        check(self.args.web, "--web names the built web version (dist/web)")
        missing = [name for name in PAGE_FILES
                   if not os.path.isfile(os.path.join(self.args.web, name))]
        if missing:
            unavailable("%s lacks %s: build it with scripts/web.sh" % (self.args.web,
                                                                      ", ".join(missing)))
        self.browser = self.processes.adopt(Browser(self.workdir, self.engine, self.scale))
        self.browser.set_viewport(self.size[0], self.size[1], self.scale)

    def program_path(self, kind):
        if kind == "program":
            return self.args.web
        root = os.path.join(self.args.web_build or "", "reporter")
        require_file(os.path.join(root, "index.html"), "scripts/web.sh builds it")
        return root

    def spawn(self, argv, env, stdout, stderr):
        session = self.browser.session
        if self.before_load:
            session.before_load(self.before_load)
        if self.file_url:
            # From a file: URL, where there are no service workers.
            session.get("file://" + os.path.abspath(argv[0]) + "/index.html")
        else:
            self.server = self.processes.adopt(session.serve(argv[0]))
            session.get(self.server.url)
        self.browser.wait_for("the page did not start the program",
                              lambda: self.browser.state()[0] != "loading")
        self.running_page()
        return PageProgram(self.browser)

    def running_page(self):
        state, status, _ = self.browser.state()
        check(state == "running", "the page is %r (%r), not running" % (state, status))

    def wait_window(self, title):
        self.browser.wait_for("no window captioned %r" % title,
                              lambda: (self.browser.js(READ_LAYOUT) or {}).get("caption") == title)

    def layout(self):
        layout = self.browser.js(READ_LAYOUT)
        check(layout is not None, "the page shows no window")
        return layout

    def capture(self):
        return canvas_image(self.browser)

    def client_size(self):
        layout = self.layout()
        return int(layout["width"]), int(layout["height"])

    def check_identity(self, fields=None):
        """The default window: 3/4 of the screen, the frame at the top left,
        and on screen exactly the canvas's pixels."""
        width, height = self.size
        client = (width * 3 // 4, height * 3 // 4)
        self.expect_picture("first frame", self.expected())
        layout = self.layout()
        check(layout["viewport"] == [width, height],
              "viewport is %r, expected %dx%d" % (layout["viewport"], width, height))
        check((layout["x"], layout["y"]) == (BORDER, BORDER + TITLE_HEIGHT),
              "client area at (%s, %s)" % (layout["x"], layout["y"]))
        check((layout["width"], layout["height"]) == client,
              "canvas shown at %sx%s CSS pixels" % (layout["width"], layout["height"]))
        check(self.capture()[:2] == client, "the canvas is %dx%d" % self.capture()[:2])
        self.expect_screenshot("first frame", self.expected())

    def expect_screenshot(self, what, expected):
        """The page as shown: the client area holds the canvas's pixels, and
        nothing else on the page is pure red."""
        path = os.path.join(self.workdir, "screenshot.png")
        check(self.browser.session.screenshot(path), "no screenshot")
        shot = read_png(path)
        check(shot[:2] == self.size, "%s: screenshot is %dx%d" % ((what,) + shot[:2]))
        layout = self.layout()
        x, y = int(layout["x"]), int(layout["y"])
        width = min(int(layout["width"]), self.size[0] - x)
        height = min(int(layout["height"]), self.size[1] - y)
        difference = first_difference(crop(shot, x, y, width, height), expected)
        check(difference is None, "%s: on screen, %s" % (what, difference))
        want = count_red(crop(expected, 0, 0, min(width, expected[0]), min(height, expected[1])))
        got = count_red(shot)
        check(got == want, "%s: %d pure red pixels on the page, %d in the client area's part of "
              "the figure" % (what, got, want))

    def output_lines(self):
        # Chromium quotes what the page wrote on its console; the others
        # give it as written.
        return re.findall(r'(?:^|")((?:char|ctype|rect) [^"\n]*)', "\n".join(
            entry["message"] for entry in self.browser.log()), re.M)

    def type(self, text="", keys=()):
        self.typed = getattr(self, "typed", 0) + len(text)
        if text:
            self.browser.session.type_text(text)
        for key in keys:
            *mods, key = key.split("+")
            self.browser.session.key(BROWSER_KEYS.get(key, key),
                                     [BROWSER_KEYS[mod] for mod in mods])
            self.typed += key in TYPING or (mods == ["ctrl"] and len(key) == 1)

    def type_dead_acute_e(self):
        self.browser.session.type_dead_key("\u00e9")

    def sync(self, expected):
        # The page queues a key's event as it handles the key: all are
        # taken once none is queued and every typing key was counted.
        want = {"queued": 0, "taken": self.taken + self.typed}
        self.browser.wait_for("the program did not take the typed keys (%s)" % want,
                              lambda: self.browser.js(COUNTS) == want)
        self.expect_picture("after the keys", expected)

    def launch(self, kind="program", argv=(), env=None, title=None):
        # The page passes no arguments: the reporter has its own caption.
        process = super().launch(kind, argv, env, title or (
            "window_rect_reporter" if kind == "reporter" else None))
        self.taken, self.typed = self.browser.js(COUNTS)["taken"], 0
        return process

    def drag(self, selector, dx, dy):
        steps = 4
        moves = [(dx // steps, dy // steps)] * steps
        moves.append((dx - steps * (dx // steps), dy - steps * (dy // steps)))
        self.browser.session.drag(*self.browser.session.center(selector), moves)

    def move(self, x, y):
        taken = self.browser.js(COUNTS)["taken"]
        layout = self.layout()
        self.drag(".titlebar .caption", x - int(layout["x"]) + BORDER,
                  y - int(layout["y"]) + BORDER + TITLE_HEIGHT)
        self.browser.wait_for("the program did not take the move",
                              lambda: self.browser.js(COUNTS)["queued"] == 0 and
                              self.browser.js(COUNTS)["taken"] > taken)
        moved = self.layout()
        check((moved["x"], moved["y"]) == (BORDER + x, BORDER + TITLE_HEIGHT + y),
              "after a move the client area is at (%s, %s)" % (moved["x"], moved["y"]))
        check(self.browser.focused() == "client", "after a move %r has the focus" %
              self.browser.focused())
        return True

    def resize(self, width, height):
        w, h = self.client_size()
        self.drag(".edge.corner", width - w, height - h)
        self.browser.wait_for("the canvas did not become %dx%d" % (width, height),
                              lambda: self.capture()[:2] == (width, height))
        return width, height

    def close_window(self):
        self.browser.session.click(".frame .close")

    def expect_closed(self, what):
        super().expect_closed(what)
        status = self.browser.state()[1]
        check("\n" not in status and "exit code 0" in status, "status line %r" % status)
        check(self.browser.js("return document.querySelector('.frame') === null"),
              "the window is still on the page after the program ended")
        # The reporter's page is the program's without its manifest and
        # worker, which it asks for in vain.
        errors = [error for error in self.browser.errors() if self.title == TITLE or not any(
            name in error for name in ("webmanifest", "fetching the script"))]
        check(not errors, "the browser logged errors: %r" % errors)


def page_case(d):
    """axe-core finds nothing wrong with the page, running or ended; the
    empty status line is a live region; Shift+Tab moves the focus to the
    close button, where keys do not reach the program, Tab or a click brings
    it back; a smaller browser is a smaller screen, the figure stays as
    drawn."""
    require_file(d.args.axe, "scripts/deps.sh test installs axe-core")
    d.before_load = KEY_BEFORE_FRAME
    expected = d.first_frame()
    # The client area takes the focus with the first frame; a key typed
    # before it goes to the window all the same, and leaves it the focus.
    typed = d.browser.js("return window.keyBeforeFrame;")
    check(typed is not None and typed[1:] == ["client", 1],
          "a key before the first frame: %r (focus before, focus after, events)" % typed)
    d.browser.expect_accessible("running", d.args.axe)
    # Empty, the status line takes no room but stays in the accessibility
    # tree, so that screen readers announce the message it will get.
    check(d.browser.js("const s = document.getElementById('status'); return s.textContent"
                       " === '' && s.offsetHeight === 0 && s.getClientRects().length > 0;"),
          "the empty status line is not an empty live region")
    # Shift+Tab is the page's: the focus goes to the close button, where
    # keys do not reach the program; Tab brings it back. The page queues a
    # key's event as it handles the key.
    check(d.browser.focused() == "client", "focus at start: %r" % d.browser.focused())

    def sent():
        return sum(d.browser.js(COUNTS).values())
    before = sent()
    d.browser.shift_tab()
    d.browser.session.type_text("x")
    check((d.browser.focused(), sent()) == ("close", before),
          "after Shift+Tab and x: %r has the focus, %d keys sent" % (d.browser.focused(),
                                                                     sent() - before))
    d.browser.session.key("Tab")
    d.browser.session.type_text("y")
    check((d.browser.focused(), sent()) == ("client", before + 1),
          "after Tab and y: %r has the focus, %d keys sent" % (d.browser.focused(),
                                                               sent() - before))
    # A click on the client area, or a drag of the title bar, gives it the
    # focus back.
    d.browser.shift_tab()
    d.browser.session.click(".client")
    check(d.browser.focused() == "client", "after a click %r has the focus" % d.browser.focused())
    d.browser.shift_tab()
    d.move(37, 23)
    print("ok - Shift+Tab moves the focus to the close button; Tab, a click or a drag brings it "
          "back")
    # A smaller browser is a smaller screen: the figure stays as drawn.
    width, height = d.size
    grown = d.resize(width - 2 * BORDER - 37 - 20, height - 2 * BORDER - TITLE_HEIGHT - 23 - 20)
    d.expect_screenshot("after growing", expected)
    d.resize(grown[0] - 150, grown[1] - 90)
    d.browser.set_viewport(width - 100, height - 60)
    d.browser.wait_for("the viewport did not shrink",
                       lambda: d.layout()["viewport"] == [width - 100, height - 60])
    d.resize(grown[0] - 110, grown[1] - 70)
    d.expect_picture("after growing in the smaller browser", expected)
    d.running_page()
    print("ok - resizing the browser leaves the picture as drawn")
    d.close_window()
    d.expect_closed("the close button")
    d.browser.expect_accessible("ended", d.args.axe)
    print("ok - axe-core finds no violation on the page, running or ended")


def dense_case(d):
    """At two device pixels per CSS pixel: the program is not DPI-aware,
    so the browser scales its canvas up, without smoothing."""
    d.scale, d.file_url = 2, True
    width, height = d.size
    client = (width * 3 // 4, height * 3 // 4)
    expected = d.first_frame()
    d.browser.wait_for("the page did not give up keeping itself",
                       lambda: d.browser.offline() == "unavailable")
    check(d.capture()[:2] == client, "the canvas is %dx%d" % d.capture()[:2])
    path = os.path.join(d.workdir, "screenshot.png")
    check(d.browser.session.screenshot(path), "no screenshot")
    shot = read_png(path)
    check(shot[:2] == (2 * width, 2 * height), "screenshot is %dx%d" % shot[:2])
    difference = doubled_difference(shot, BORDER, BORDER + TITLE_HEIGHT, client[0], client[1],
                                    expected)
    check(difference is None, "on screen, %s" % difference)
    print("ok - at 2 device pixels per CSS pixel the %dx%d screen's canvas is %dx%d, each pixel "
          "a 2x2 block on screen" % (width, height, client[0], client[1]))
    # Without a mouse: Shift+Tab to the close button, Enter there.
    d.browser.shift_tab()
    check(d.browser.focused() == "close", "after Shift+Tab %r has the focus" % d.browser.focused())
    if d.browser.lacks("keyboard activation"):
        print("skipped - Enter on the close button: %s; it is clicked instead"
              % d.browser.lacks("keyboard activation"))
        d.close_window()
    else:
        d.browser.session.key("Enter")
    d.expect_closed("Shift+Tab, Enter")
    print("ok - from a file: URL, Shift+Tab%s ends the program with exit code 0"
          % (", a click" if d.browser.lacks("keyboard activation") else ", Enter"))


def fallbacks_case(d):
    """A page whose module is damaged, and a browser without WebAssembly,
    each say so in one line instead of a blank page."""
    browsers.require(d.engine)
    workdir = d.workdir
    # A page whose module is damaged, and a browser without WebAssembly.
    damaged = os.path.join(workdir, "damaged")
    shutil.copytree(d.args.web, damaged)
    with open(os.path.join(damaged, "index.html"), encoding="utf-8") as f:
        html = f.read()
    html, found = re.subn(r'(<script id="ostrevane-module"[^>]*>)[^<]*', r"\1AGFzbQ==", html)
    check(found == 1, "the page holds no module")
    with open(os.path.join(damaged, "index.html"), "w", encoding="utf-8") as f:
        f.write(html)
    cases = [("a damaged module", damaged, None, "could not start"),
             ("no WebAssembly", d.args.web, "delete window.WebAssembly;", "WebAssembly")]
    for what, root, before, named in cases:
        with Processes() as run:
            browser = run.adopt(Browser(workdir, d.engine))
            if before:
                browser.session.before_load(before)
            server = run.adopt(browser.session.serve(root))
            browser.session.get(server.url)
            browser.wait_for("%s: the page did not give up" % what,
                             lambda: browser.state()[0] != "loading")
            state, status, _ = browser.state()
            check(state == "failed", "%s: the page is %r (%r)" % (what, state, status))
            check(status and "\n" not in status and named in status,
                  "%s: the message is %r" % (what, status))
            shown = browser.js("const s = document.getElementById('status');"
                               " return s.offsetHeight > 0 && s.offsetWidth > 0;")
            check(shown, "%s: the message is not visible" % what)
            print("ok - %s: %s" % (what, status))


def offline_case(d):
    """The first visit shows the render tool's pixels, makes the page
    installable (no installability errors, where the engine checks that)
    and keeps its files, and nothing else, in one cache, all fetched from
    its origin. Then, with the server gone and the network offline (where
    the driver can take it offline), a reload comes from the service worker
    and shows the same."""
    expected = d.expected()
    d.launch()
    d.expect_picture("first visit", expected)
    d.browser.wait_for("the page was not kept for offline use",
                       lambda: d.browser.offline() == "ready")
    errors = d.browser.session.installability_errors()
    check(errors in ([], None), "not installable: %r" % errors)
    if errors is None:
        print("skipped - installability: %s" % d.browser.lacks("installability"))
    kept, url = d.browser.kept(), d.server.url
    check(list(kept.values()) == [sorted(url + name for name in PAGE_FILES
                                         if name != "service-worker.js")],
          "the page's caches hold %r" % kept)
    check(all(entry.startswith(url) for entry in d.browser.js(
        "return performance.getEntriesByType('resource').map(e => e.name);")),
          "the page fetched from elsewhere than its origin")
    print("ok - the first visit keeps the page's files in %s%s" % (
        ", ".join(kept), " and makes it installable" if errors is not None else ""))
    d.server.close()
    if d.browser.session.offline() is False:
        print("skipped - network offline: %s; the server is gone all the same"
              % d.browser.lacks("network emulation"))
    d.browser.session.refresh()
    d.browser.wait_for("the page did not start the program offline",
                       lambda: d.browser.state()[0] != "loading")
    d.running_page()
    check(d.browser.js("return navigator.serviceWorker.controller !== null;"),
          "offline, the page did not come from its service worker")
    d.expect_picture("offline", expected)
    print("ok - offline, the page comes from its service worker and shows the canvas")


def update_case(d):
    """A second build's page (another index.html, its worker made by the
    build's own step) replaces the first's cache on the next visit, and
    shows on the one after; a site that lacks one of its files is not kept
    (data-offline failed), and runs."""
    browsers.require(d.engine)
    site, incomplete = (os.path.join(d.workdir, name) for name in ("site", "incomplete"))
    shutil.copytree(d.args.web, site)
    shutil.copytree(d.args.web, incomplete)
    os.remove(os.path.join(incomplete, "icon-512.png"))
    browser = d.processes.adopt(Browser(d.workdir, d.engine))
    server = browser.session.serve(incomplete)
    browser.session.get(server.url)
    browser.wait_for("a worker that could not keep the files was not dropped",
                     lambda: browser.offline() == "failed")
    check(browser.state()[0] == "running" and browser.kept() == {},
          "without its icon the page is %r and keeps %r" % (browser.state(), browser.kept()))
    print("ok - a site without one of its files is not kept, and runs")
    server.close()
    server = d.processes.adopt(browser.session.serve(site))
    browser.session.get(server.url)
    browser.wait_for("the first build was not kept", lambda: browser.offline() == "ready")
    first = list(browser.kept())
    index = os.path.join(site, "index.html")
    with open(index, encoding="utf-8") as f:
        html = f.read()
    with open(index, "w", encoding="utf-8") as f:
        f.write(html.replace("</head>", '<meta name="build" content="second">\n</head>', 1))
    subprocess.run([sys.executable, MAKE_PAGE, "precache", site,
                    os.path.join(os.path.dirname(MAKE_PAGE), "service-worker.js")],
                   check=True, timeout=DEADLINE)
    browser.session.get(server.url)
    caches = []

    def replaced():
        caches[:] = browser.cache_names()
        return len(caches) == 1 and caches[0] not in first
    wait_until("the second build's worker did not replace the first's cache", replaced,
               lambda: "caches %r" % caches)
    browser.session.get(server.url)
    check(browser.js("return document.querySelector('meta[name=build]') !== null;"),
          "the third visit did not show the second build")
    browser.wait_for("the second build did not start", lambda: browser.state()[0] == "running")
    print("ok - the second build's cache %s replaced the first's %s" % (caches[0], first[0]))
    fetched = browser.session.js_async("""
const done = arguments[arguments.length - 1];
caches.delete(arguments[0]).then(() => fetch('ostrevane.webmanifest')).then(r => r.ok)
    .then(done, e => done(String(e)));""", caches[0])
    left = browser.kept()
    check(fetched is True and left == {},
          "with its cache gone the worker answered %r and left %r" % (fetched, left))
    print("ok - with its cache gone the worker fetches from the server and makes none again")


Web.OWN_CASES = {"page": (page_case, ("1366x768",)), "dense": (dense_case, ("800x600",)),
                 "fallbacks": (fallbacks_case, ("800x600",)),
                 "offline": (offline_case, ("1366x768", "1023x767")),
                 "update": (update_case, ("800x600",))}

class Chromium(Web):
    name = engine = "chromium"
    labels = ("web", "chromium")


class Firefox(Web):
    name = engine = "firefox"
    labels = ("web", "firefox")


class WebKit(Web):
    name = engine = "webkit"
    labels = ("web", "webkit")


DRIVERS = (Chromium, Firefox, WebKit)
