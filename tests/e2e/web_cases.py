"""Browser cases of the end-to-end tests: the web version (scripts/web.sh,
dist/web/) served on 127.0.0.1 and driven in headless Chromium through
chromedriver (Selenium) and the DevTools protocol (tests/support/chromium.py).

  web WxH      with a WxH viewport (Emulation.setDeviceMetricsOverride, scale
               factor 1) the first visit shows the render tool's pixels,
               makes the page installable (no installability errors) and
               keeps its files, and nothing else, in one cache. Then, with
               the network offline and the server gone, a reload comes from
               the service worker, and: the page shows the window's frame
               with its caption; the canvas is the client area, 3/4 of the
               viewport, and holds the top-left part of `ostrevane-render
               --size WxH`, pixel for pixel, as does a screenshot of the
               page, which has no other pure red pixel; the same after
               typing, dragging the title bar, dragging the corner smaller
               and larger, and resizing the viewport; keys reach the program
               while the client area has the focus, which Shift+Tab moves to
               the close button and Tab brings back; the close button ends
               the program and the page reports exit code 0; axe-core finds
               nothing wrong with the page, running or ended; the browser
               logs no error
  web-dense WxH
               from a file: URL (no service worker there), with a WxH
               viewport at two device pixels per CSS pixel the program still
               sees a WxH screen; the canvas holds the same pixels, and the
               screenshot shows each as a 2x2 block; Shift+Tab, Enter ends
               the program with exit code 0
  web-chars    é, €, ß and Ω typed at window_rect_reporter's page become the
               WM_CHARs e9 80 df 3f (Windows-1252, '?' for what it lacks)
  web-update   a second build's page (another index.html, its worker made by
               the build's step) replaces the first's cache on the next
               visit, and shows on the one after; a site that lacks one of
               its files is not kept (data-offline failed), and runs
  web-fallbacks
               a page whose module is damaged, and a browser without
               WebAssembly, each say so in one line instead of a blank page
"""

import base64
import os
import re
import shutil
import subprocess
import sys

from ostrevane_e2e import (Failure, Skip, check, crop, first_difference, read_png,
                           render_expected, require_tools, wait_for_match, wait_until)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from chromium import StaticServer  # noqa: E402
import chromium  # noqa: E402

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


# axe-core's checks of the page (its script already in the page): the rules
# that fail, with the elements they fail on.
RUN_AXE = """
const done = arguments[arguments.length - 1];
axe.run(document).then(
    r => done(r.violations.map(v => v.id + ' (' + v.nodes.map(n => n.target.join(' ')) + ')')),
    e => done(['axe-core failed: ' + e]));
"""


def load_selenium():
    try:
        from selenium import webdriver  # noqa: F401
    except ImportError:
        message = "python3-selenium is not installed"
        if os.environ.get("CI") == "true":
            raise Failure(message + " (CI must install it: scripts/deps.sh test)")
        raise Skip(message)
    require_tools("chromium", "chromedriver")


class Browser:
    """Headless Chromium with a fresh profile, through chromedriver."""

    def __init__(self, workdir):
        profile = os.path.join(workdir, "profile-%d" % len(os.listdir(workdir)))
        self.log_path = os.path.join(workdir, "chromedriver.log")
        self.driver = chromium.start(profile, self.log_path)

    def set_viewport(self, width, height, scale=1):
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": scale, "mobile": False})

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def wait_for(self, what, condition, timeout=15.0):
        return wait_until(what, condition, "not within %.0f s" % timeout, timeout)

    def state(self):
        return self.js("return [document.documentElement.dataset.state || '',"
                       " document.getElementById('status').textContent,"
                       " document.documentElement.dataset.exitCode];")

    def offline(self):
        return self.js("return document.documentElement.dataset.offline || '';")

    def kept(self):
        """The URLs in each of the page's caches, by cache name."""
        return dict(self.driver.execute_async_script("""
const done = arguments[arguments.length - 1];
caches.keys().then(names => Promise.all(names.map(name => caches.open(name).then(
    cache => cache.keys()).then(requests => [name, requests.map(r => r.url).sort()]))))
    .then(done, e => done([['error', String(e)]]));
"""))

    def focused(self):
        return self.js("return document.activeElement.className;")

    def shift_tab(self):
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.keys import Keys
        ActionChains(self.driver).key_down(Keys.SHIFT).send_keys(Keys.TAB).key_up(
            Keys.SHIFT).perform()

    def expect_accessible(self, what, axe):
        with open(axe, encoding="utf-8") as f:
            self.js("const s = document.createElement('script'); s.textContent = arguments[0];"
                    " document.head.appendChild(s);", f.read())
        violations = self.driver.execute_async_script(RUN_AXE)
        check(violations == [], "%s: axe-core finds %s" % (what, "; ".join(violations)))

    def errors(self):
        return [entry["message"] for entry in self.driver.get_log("browser")
                if entry.get("level") == "SEVERE"]

    def close(self):
        try:
            self.driver.quit()
        except Exception:  # the browser may already be gone
            pass


def require_file(path, how):
    if not path or not os.path.isfile(path):
        raise (Failure if os.environ.get("CI") == "true" else Skip)("no %s: %s" % (path, how))


def canvas_image(browser):
    result = browser.js(READ_CANVAS)
    check(result is not None, "the page has no canvas")
    width, height, data = result
    pixels = base64.b64decode(data)
    rows = [pixels[y * width * 3:(y + 1) * width * 3] for y in range(height)]
    return width, height, rows


def count_red(image):
    _, _, rows = image
    return sum(row[i:i + 3] == b"\xff\x00\x00" for row in rows for i in range(0, len(row), 3))


class WebCase:
    def __init__(self, args, workdir, size):
        self.args = args
        self.workdir = workdir
        self.size = size
        self.browser = None

    def expect_canvas(self, what, expected, size, timeout=5.0):
        """Waits until the canvas is `size` and shows the expected picture at
        its top left, white beyond it."""
        image = None

        def difference():
            nonlocal image
            image = canvas_image(self.browser)
            if image[:2] != size:
                return "canvas is %dx%d, expected %dx%d" % (image[:2] + size)
            return first_difference(image, expected)

        wait_for_match(what, difference, timeout)
        return image

    def layout(self):
        layout = self.browser.js(READ_LAYOUT)
        check(layout is not None, "the page shows no window")
        return layout

    def expect_screenshot(self, what, expected):
        """The page as shown: the client area holds the canvas's pixels, and
        nothing else on the page is pure red."""
        path = os.path.join(self.workdir, "screenshot.png")
        check(self.browser.driver.save_screenshot(path), "no screenshot")
        shot = read_png(path)
        check(shot[:2] == self.size, "%s: screenshot is %dx%d" % ((what,) + shot[:2]))
        layout = self.layout()
        x, y = int(layout["x"]), int(layout["y"])
        width = min(int(layout["width"]), self.size[0] - x)
        height = min(int(layout["height"]), self.size[1] - y)
        client = crop(shot, x, y, width, height)
        difference = first_difference(client, expected)
        check(difference is None, "%s: on screen, %s" % (what, difference))
        want = count_red(crop(expected, 0, 0, min(width, expected[0]), min(height, expected[1])))
        got = count_red(shot)
        check(got == want, "%s: %d pure red pixels on the page, %d in the client area's part of "
              "the figure" % (what, got, want))

    def drag(self, selector, dx, dy):
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.by import By
        element = self.browser.driver.find_element(By.CSS_SELECTOR, selector)
        actions = ActionChains(self.browser.driver, duration=20)
        actions.move_to_element(element).click_and_hold()
        steps = 4
        for _ in range(steps):
            actions.move_by_offset(dx // steps, dy // steps)
        actions.move_by_offset(dx - steps * (dx // steps), dy - steps * (dy // steps))
        actions.release().perform()

    def running(self):
        state, status, _ = self.browser.state()
        check(state == "running", "the page is %r (%r), not running" % (state, status))

    def render(self):
        return render_expected(self.args, self.workdir, self.size)

    def run_dense(self):
        """At two device pixels per CSS pixel: the program is not DPI-aware,
        so the browser scales its canvas up, without smoothing."""
        load_selenium()
        expected = self.render()
        width, height = self.size
        client = (width * 3 // 4, height * 3 // 4)
        try:
            # From a file: URL, where there are no service workers.
            self.browser = Browser(self.workdir)
            self.browser.set_viewport(width, height, scale=2)
            self.browser.driver.get("file://" + os.path.abspath(self.args.web) + "/index.html")
            self.browser.wait_for("the page did not start the program",
                                  lambda: self.browser.state()[0] != "loading")
            self.running()
            self.expect_canvas("first frame", expected, client)
            self.browser.wait_for("the page did not give up keeping itself",
                                  lambda: self.browser.offline() == "unavailable")
            path = os.path.join(self.workdir, "screenshot.png")
            check(self.browser.driver.save_screenshot(path), "no screenshot")
            shot = read_png(path)
            check(shot[:2] == (2 * width, 2 * height), "screenshot is %dx%d" % shot[:2])
            _, _, rows = shot
            left, top = 2 * BORDER, 2 * (BORDER + TITLE_HEIGHT)
            for y in range(client[1]):
                want = bytes(b for x in range(client[0])
                             for b in expected[2][y][x * 3:x * 3 + 3] * 2)
                for row in (rows[top + 2 * y], rows[top + 2 * y + 1]):
                    got = row[left * 3:(left + 2 * client[0]) * 3]
                    if got != want:
                        x = next(i for i in range(len(want)) if got[i] != want[i]) // 6
                        raise Failure("on screen, client pixel (%d, %d) is not a 2x2 block of "
                                      "%s" % (x, y, tuple(expected[2][y][x * 3:x * 3 + 3])))
            print("ok - at 2 device pixels per CSS pixel the %dx%d screen's canvas is %dx%d, "
                  "each pixel a 2x2 block on screen" % (width, height, client[0], client[1]))
            # Without a mouse: Shift+Tab to the close button, Enter there.
            from selenium.webdriver.common.action_chains import ActionChains
            from selenium.webdriver.common.keys import Keys
            self.browser.shift_tab()
            ActionChains(self.browser.driver).send_keys(Keys.ENTER).perform()
            self.browser.wait_for("Shift+Tab, Enter did not end the program",
                                  lambda: self.browser.state()[0] == "ended", timeout=5)
            check(self.browser.state()[2] == "0", "exit code %r" % self.browser.state()[2])
            errors = self.browser.errors()
            check(not errors, "the browser logged errors: %r" % errors)
            print("ok - from a file: URL, Shift+Tab, Enter ends the program with exit code 0")
        finally:
            if self.browser is not None:
                self.browser.close()

    def run(self):
        load_selenium()
        require_file(self.args.axe, "scripts/deps.sh test installs axe-core")
        width, height = self.size
        expected = self.render()
        server = StaticServer(self.args.web)
        try:
            self.browser = Browser(self.workdir)
            self.browser.set_viewport(width, height)
            self.browser.driver.get(server.url)
            self.browser.wait_for("the page did not start the program",
                                  lambda: self.browser.state()[0] != "loading")
            self.running()
            self.expect_canvas("first visit", expected, (width * 3 // 4, height * 3 // 4))
            # The first visit makes the page installable and keeps it, and
            # only it, for use offline, all from the page's origin.
            self.browser.wait_for("the page was not kept for offline use",
                                  lambda: self.browser.offline() == "ready")
            errors = self.browser.driver.execute_cdp_cmd("Page.getInstallabilityErrors", {})
            check(errors["installabilityErrors"] == [], "not installable: %r" % errors)
            kept = self.browser.kept()
            check(list(kept.values()) == [sorted(server.url + name for name in PAGE_FILES
                                                 if name != "service-worker.js")],
                  "the page's caches hold %r" % kept)
            check(all(url.startswith(server.url) for url in self.browser.js(
                "return performance.getEntriesByType('resource').map(e => e.name);")),
                  "the page fetched from elsewhere than its origin")
            print("ok - the first visit keeps the page's files in %s and makes it installable"
                  % ", ".join(kept))
            # Offline, with no server either, the page works as it did.
            server.close()
            self.browser.driver.execute_cdp_cmd("Network.enable", {})
            self.browser.driver.execute_cdp_cmd("Network.emulateNetworkConditions", {
                "offline": True, "latency": 0, "downloadThroughput": -1,
                "uploadThroughput": -1})
            self.browser.driver.refresh()
            self.browser.wait_for("the page did not start the program offline",
                                  lambda: self.browser.state()[0] != "loading")
            self.running()
            check(self.browser.js("return navigator.serviceWorker.controller !== null;"),
                  "offline, the page did not come from its service worker")
            print("ok - offline, the page comes from its service worker")
            self.interact(expected)
        finally:
            if self.browser is not None:
                self.browser.close()
            server.close()

    def interact(self, expected):
        width, height = self.size
        # The default window: 3/4 of the screen, the frame at the top left.
        client = (width * 3 // 4, height * 3 // 4)
        image = self.expect_canvas("first frame", expected, client)
        layout = self.layout()
        check(layout["viewport"] == [width, height],
              "viewport is %r, expected %dx%d" % (layout["viewport"], width, height))
        check(layout["caption"] == "Ostrevane", "caption is %r" % layout["caption"])
        check((layout["x"], layout["y"]) == (BORDER, BORDER + TITLE_HEIGHT),
              "client area at (%s, %s)" % (layout["x"], layout["y"]))
        check((layout["width"], layout["height"]) == client,
              "canvas shown at %sx%s CSS pixels" % (layout["width"], layout["height"]))
        self.expect_screenshot("first frame", expected)
        self.browser.expect_accessible("running", self.args.axe)
        # Empty, the status line takes no room but stays in the accessibility
        # tree, so that screen readers announce the message it will get.
        check(self.browser.js("const s = document.getElementById('status'); return s.textContent"
                              " === '' && s.offsetHeight === 0 && s.getClientRects().length > 0;"),
              "the empty status line is not an empty live region")
        print("ok - %dx%d viewport: the %dx%d canvas and the screen show the render tool's "
              "pixels (%d red)" % (width, height, client[0], client[1], count_red(image)))

        # Typed keys change nothing.
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.keys import Keys
        counts = "return Module.ostrevanePage.eventCounts();"
        check(self.browser.focused() == "client", "focus at start: %r" % self.browser.focused())
        taken = self.browser.js(counts)["taken"]
        ActionChains(self.browser.driver).send_keys(
            "hello, world q", Keys.ESCAPE, Keys.ENTER, Keys.SPACE, Keys.BACKSPACE, Keys.DELETE,
            Keys.TAB, Keys.F1).perform()
        ActionChains(self.browser.driver).key_down(Keys.CONTROL).send_keys("c").key_up(
            Keys.CONTROL).perform()
        # One event for each key that types something: 14 characters,
        # Escape, Return, space, BackSpace, Delete, Tab and ctrl+c, not F1.
        self.browser.wait_for("the program did not take the 21 typed keys",
                              lambda: self.browser.js(counts) == {"queued": 0,
                                                                  "taken": taken + 21}, timeout=5)
        self.running()
        self.expect_canvas("after typing", expected, client, timeout=0)
        print("ok - the program took the typed keys, which change nothing")

        # Shift+Tab is the page's: the focus goes to the close button, where
        # keys do not reach the program; Tab brings it back. The page queues
        # a key's event as it handles the key.
        def sent():
            return sum(self.browser.js(counts).values())
        before = sent()
        self.browser.shift_tab()
        ActionChains(self.browser.driver).send_keys("x").perform()
        check((self.browser.focused(), sent()) == ("close", before),
              "after Shift+Tab and x: %r has the focus, %d keys sent" %
              (self.browser.focused(), sent() - before))
        ActionChains(self.browser.driver).send_keys(Keys.TAB, "y").perform()
        check((self.browser.focused(), sent()) == ("client", before + 1),
              "after Tab and y: %r has the focus, %d keys sent" %
              (self.browser.focused(), sent() - before))
        # A click on the client area, or a drag of the title bar (below),
        # gives it the focus back.
        from selenium.webdriver.common.by import By
        self.browser.shift_tab()
        self.browser.driver.find_element(By.CSS_SELECTOR, ".client").click()
        check(self.browser.focused() == "client", "after a click %r has the focus" %
              self.browser.focused())
        self.browser.shift_tab()
        print("ok - Shift+Tab moves the focus to the close button; Tab or a click brings it back")

        # Moving and resizing by dragging the frame keep the picture in place.
        counts = "return Module.ostrevanePage.eventCounts();"
        taken = self.browser.js(counts)["taken"]
        self.drag(".titlebar .caption", 37, 23)
        self.browser.wait_for("the program did not take the move",
                              lambda: self.browser.js(counts)["queued"] == 0 and
                              self.browser.js(counts)["taken"] > taken, timeout=5)
        moved = self.layout()
        check((moved["x"], moved["y"]) == (BORDER + 37, BORDER + TITLE_HEIGHT + 23),
              "after a move the client area is at (%s, %s)" % (moved["x"], moved["y"]))
        self.expect_canvas("after a move", expected, client)
        check(self.browser.focused() == "client", "after a move %r has the focus" %
              self.browser.focused())
        self.drag(".edge.corner", 211 - client[0], 97 - client[1])
        self.expect_canvas("after shrinking", expected, (211, 97))
        grown = (width - 2 * BORDER - 37 - 20, height - 2 * BORDER - TITLE_HEIGHT - 23 - 20)
        self.drag(".edge.corner", grown[0] - 211, grown[1] - 97)
        self.expect_canvas("after growing", expected, grown)
        self.expect_screenshot("after growing", expected)
        self.running()
        print("ok - dragging the title bar and the corner keeps the picture in place")

        # A smaller browser is a smaller screen: the figure stays as drawn.
        self.drag(".edge.corner", -150, -90)
        self.expect_canvas("after shrinking again", expected, (grown[0] - 150, grown[1] - 90))
        self.browser.set_viewport(width - 100, height - 60)
        self.browser.wait_for("the viewport did not shrink",
                              lambda: self.layout()["viewport"] == [width - 100, height - 60])
        self.drag(".edge.corner", 40, 20)
        self.expect_canvas("after growing in the smaller browser", expected,
                           (grown[0] - 110, grown[1] - 70))
        self.running()
        print("ok - resizing the browser leaves the picture as drawn")

        # The close button ends the program with exit code 0.
        self.browser.driver.find_element(By.CSS_SELECTOR, ".frame .close").click()
        self.browser.wait_for("the page did not report the end of the program",
                              lambda: self.browser.state()[0] == "ended", timeout=5)
        _, status, code = self.browser.state()
        check(code == "0", "exit code %r after closing (%r)" % (code, status))
        check("\n" not in status and "exit code 0" in status, "status line %r" % status)
        check(self.browser.js("return document.querySelector('.frame') === null"),
              "the window is still on the page after the program ended")
        errors = self.browser.errors()
        check(not errors, "the browser logged errors: %r" % errors)
        print("ok - the close button ends the program: %s" % status)
        self.browser.expect_accessible("ended", self.args.axe)
        print("ok - axe-core finds no violation on the page, running or ended")


def fallbacks_case(args, workdir):
    load_selenium()
    # A page whose module is damaged, and a browser without WebAssembly.
    damaged = os.path.join(workdir, "damaged")
    shutil.copytree(args.web, damaged)
    with open(os.path.join(damaged, "index.html"), encoding="utf-8") as f:
        html = f.read()
    html, found = re.subn(r'(<script id="ostrevane-module"[^>]*>)[^<]*', r"\1AGFzbQ==", html)
    check(found == 1, "the page holds no module")
    with open(os.path.join(damaged, "index.html"), "w", encoding="utf-8") as f:
        f.write(html)
    no_wasm = "delete window.WebAssembly;"
    cases = [("a damaged module", damaged, None, "could not start"),
             ("no WebAssembly", args.web, no_wasm, "WebAssembly")]
    for what, root, before, named in cases:
        server = StaticServer(root)
        browser = None
        try:
            browser = Browser(workdir)
            if before:
                browser.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                                               {"source": before})
            browser.driver.get(server.url)
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
        finally:
            if browser is not None:
                browser.close()
            server.close()


def update_case(args, workdir):
    """A second build's page replaces the first's cache on the next visit;
    a site that lacks one of its files is not kept, and still runs."""
    load_selenium()
    site = os.path.join(workdir, "site")
    shutil.copytree(args.web, site)
    incomplete = os.path.join(workdir, "incomplete")
    shutil.copytree(args.web, incomplete)
    os.remove(os.path.join(incomplete, "icon-512.png"))
    server = StaticServer(incomplete)
    browser = None
    try:
        browser = Browser(workdir)
        browser.driver.get(server.url)
        browser.wait_for("a worker that could not keep the files was not dropped",
                         lambda: browser.offline() == "failed")
        check(browser.state()[0] == "running" and browser.kept() == {},
              "without its icon the page is %r and keeps %r" % (browser.state(), browser.kept()))
        print("ok - a site without one of its files is not kept, and runs")
        server.close()
        server = StaticServer(site)
        browser.driver.get(server.url)
        browser.wait_for("the first build was not kept", lambda: browser.offline() == "ready")
        first = list(browser.kept())
        # The second build: another index.html, the worker made for it by
        # the build's own step.
        index = os.path.join(site, "index.html")
        with open(index, encoding="utf-8") as f:
            html = f.read()
        with open(index, "w", encoding="utf-8") as f:
            f.write(html.replace("</head>", '<meta name="build" content="second">\n</head>', 1))
        subprocess.run([sys.executable, MAKE_PAGE, "precache", site,
                        os.path.join(os.path.dirname(MAKE_PAGE), "service-worker.js")],
                       check=True, timeout=60)
        browser.driver.get(server.url)
        caches = []

        def replaced():
            caches[:] = list(browser.kept())
            return len(caches) == 1 and caches[0] not in first
        wait_until("the second build's worker did not replace the first's cache", replaced,
                   lambda: "caches %r" % caches, timeout=15)
        browser.driver.get(server.url)
        check(browser.js("return document.querySelector('meta[name=build]') !== null;"),
              "the third visit did not show the second build")
        browser.wait_for("the second build did not start",
                         lambda: browser.state()[0] == "running")
        print("ok - the second build's cache %s replaced the first's %s" % (caches[0], first[0]))
    finally:
        if browser is not None:
            browser.close()
        server.close()


def chars_case(args, workdir):
    """window_rect_reporter on the page, where it prints each WM_CHAR on the
    console."""
    load_selenium()
    from selenium.webdriver.common.action_chains import ActionChains
    root = os.path.join(args.web_build or "", "reporter")
    require_file(os.path.join(root, "index.html"), "scripts/web.sh builds it")
    server = StaticServer(root)
    browser = None
    try:
        browser = Browser(workdir)
        browser.driver.get(server.url)
        browser.wait_for("the reporter's window did not appear", lambda: browser.js(
            "return document.querySelector('.frame:not([hidden])') !== null"))
        ActionChains(browser.driver).send_keys("\u00e9\u20ac\u00df\u03a9").perform()
        received = []

        def all_received():
            received.extend(re.findall(r'"char ([0-9a-f]+)"', "\n".join(
                entry["message"] for entry in browser.driver.get_log("browser"))))
            return len(received) >= 4
        browser.wait_for("the reporter did not print four WM_CHARs", all_received, timeout=5)
        check(received == ["e9", "80", "df", "3f"], "WM_CHARs %s" % " ".join(received))
        print("ok - the typed \u00e9\u20ac\u00df\u03a9 are the WM_CHARs %s" % " ".join(received))
    finally:
        if browser is not None:
            browser.close()
        server.close()


def run(args, workdir, size):
    check(args.web, "--web names the built web version (dist/web)")
    missing = [name for name in PAGE_FILES if not os.path.isfile(os.path.join(args.web, name))]
    if missing:
        message = "%s lacks %s: build it with scripts/web.sh" % (args.web, ", ".join(missing))
        if os.environ.get("CI") == "true":
            raise Failure(message)
        raise Skip(message)
    if args.case == "web":
        WebCase(args, workdir, size).run()
    elif args.case == "web-dense":
        WebCase(args, workdir, size).run_dense()
    elif args.case == "web-chars":
        chars_case(args, workdir)
    elif args.case == "web-update":
        update_case(args, workdir)
    else:
        fallbacks_case(args, workdir)
