"""The browsers the web page's tests and benchmarks drive, each with a fresh
profile, behind one interface (Session), and a static file server for the
page on a loopback address:

  chromium  headless Chromium through chromedriver (Debian's python3-selenium,
            which only Debian's own Python imports) and the DevTools protocol;
  firefox   headless Firefox ESR over WebDriver BiDi, through puppeteer-core
            (firefox.js, run by Node.js);
  webkit    WebKitGTK's MiniBrowser through WebKitWebDriver (Selenium), on an
            Xvfb of its own: it has no headless mode.

Keys are named as KeyboardEvent.key names them ("Enter", "ArrowUp", "a").
"""

import functools
import glob
import http.server
import importlib.util
import io
import json
import os
import shutil
import signal
import subprocess
import threading

from ostrevane_support import DEADLINE, Failure, Processes, check, start_xvfb, unavailable, \
    wait_until

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
NPM = os.path.join(ROOT, "build", "npm", "node_modules")
ENGINES = ("chromium", "firefox", "webkit")

CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--disable-extensions",
                  "--window-size=1600,1200"]
# WebKitGTK's own browser, where Debian puts it (libwebkit2gtk-4.1-0).
MINIBROWSER = next(iter(sorted(glob.glob("/usr/lib/*/webkit2gtk-4.*/MiniBrowser"))),
                   "/usr/lib/webkit2gtk-4.1/MiniBrowser")

# The events a browser gives for a dead key and the key after it: a "Dead"
# key, then the key that carries what the system composed (arguments[0]),
# sent to the focused element.
DEAD_KEY = """
const [composed] = arguments, target = document.activeElement;
for (const [key, code] of [['Dead', 'Quote'], [composed, 'KeyE']]) {
  for (const type of ['keydown', 'keyup']) {
    target.dispatchEvent(new KeyboardEvent(type, {key, code, bubbles: true, cancelable: true}));
  }
}
"""

# For a browser whose driver hands out no console: what the page writes on
# its console, and the errors it raises, kept in the page until read.
CONSOLE_RECORDER = """<script>(() => {
  const kept = window.ostrevaneConsole = [];
  for (const [name, level] of [['log', 'INFO'], ['info', 'INFO'], ['warn', 'WARNING'],
                               ['error', 'SEVERE']]) {
    const original = console[name].bind(console);
    console[name] = (...args) => { kept.push({level, message: args.map(String).join(' ')});
                                   original(...args); };
  }
  addEventListener('error', e => kept.push({level: 'SEVERE', message: String(e.message)}));
  addEventListener('unhandledrejection',
                   e => kept.push({level: 'SEVERE', message: String(e.reason)}));
})();</script>
"""


def require(engine):
    """Skips (fails, under CI) where the engine or its driver is missing."""
    tools = {"chromium": ("chromium", "chromedriver"), "firefox": ("firefox-esr", "node"),
             "webkit": ("WebKitWebDriver", "Xvfb")}[engine]
    missing = [tool for tool in tools if shutil.which(tool) is None]
    if engine == "webkit" and not os.access(MINIBROWSER, os.X_OK):
        missing.append(MINIBROWSER)
    if engine == "firefox" and not os.path.isdir(os.path.join(NPM, "puppeteer-core")):
        missing.append("puppeteer-core (scripts/deps.sh test installs it)")
    if engine != "firefox" and importlib.util.find_spec("selenium") is None:
        missing.append("python3-selenium")
    if missing:
        unavailable("%s: missing %s" % (engine, ", ".join(missing)))


def start(engine, workdir, scale=1):
    """A session of `engine` on a fresh profile in `workdir`, for viewports
    of `scale` device pixels per CSS pixel."""
    require(engine)
    return {"chromium": ChromiumSession, "firefox": FirefoxSession,
            "webkit": WebKitSession}[engine](workdir, scale)


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map,
                          **{".wasm": "application/wasm", ".js": "text/javascript",
                             ".webmanifest": "application/manifest+json"})
    head = None  # a callable giving what goes first in every page's <head>

    def log_message(self, *args):
        pass

    def send_head(self):
        path = self.translate_path(self.path)
        if os.path.isdir(path):
            path = os.path.join(path, "index.html")
        body = self.page(path)
        if body is None:
            return super().send_head()
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        return io.BytesIO(body)

    def page(self, path):
        """The page at `path` with `head` added, or None (not a page, or
        nothing to add)."""
        if self.head is None or not path.endswith(".html") or not os.path.isfile(path):
            return None
        with open(path, "rb") as f:
            return f.read().replace(b"<head>", b"<head>" + self.head().encode(), 1)


class StaticServer:
    """A static file server for `root` on `host` (a loopback address), on a
    port of its own; `url` is its root. With `head`, a callable, what it
    gives goes first in each page's <head>."""
    handler_class = QuietHandler

    def __init__(self, root, host="127.0.0.1", head=None):
        handler = functools.partial(type("Handler", (self.handler_class,), {
            "head": staticmethod(head) if head else None}), directory=root)
        self.httpd = http.server.ThreadingHTTPServer((host, 0), handler)
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()
        self.url = "http://%s:%d/" % (host, self.httpd.server_address[1])

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


class Session:
    """One browser, one page. What an engine cannot do, it names in
    `lacks` (feature: why), for the cases that need it to say so."""

    engine = None
    lacks = {}

    def serve(self, root, host="127.0.0.1", server=None, head=None):
        """A server (`server`: StaticServer or a class of its kind) for the
        page in `root`, as this browser needs it; with `head`, a callable,
        what it gives goes first in each page's <head>."""
        return (server or StaticServer)(root, host, head)

    def type_dead_key(self, composed):
        # WebDriver has no dead keys: the events a browser gives for one.
        self.js(DEAD_KEY, composed)

    def drag(self, x, y, moves):
        """Presses the mouse's button at (x, y), moves it by each (dx, dy) of
        `moves` in turn, and releases it."""
        self.mouse_move(x, y)
        self.mouse_press()
        for dx, dy in moves:
            x, y = x + dx, y + dy
            self.mouse_move(x, y)
        self.mouse_release()

    def center(self, selector):
        box = self.js("const r = document.querySelector(arguments[0]).getBoundingClientRect();"
                      " return [r.left + r.width / 2, r.top + r.height / 2];", selector)
        return int(box[0]), int(box[1])

    def installability_errors(self):
        return None

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()


# --- Selenium: Chromium and WebKitGTK ------------------------------------------

# KeyboardEvent.key names as Selenium's Keys names them.
SELENIUM_KEYS = {"Escape": "ESCAPE", "Enter": "ENTER", " ": "SPACE", "Backspace": "BACKSPACE",
                 "Delete": "DELETE", "Tab": "TAB", "ArrowUp": "ARROW_UP",
                 "ArrowDown": "ARROW_DOWN", "ArrowLeft": "ARROW_LEFT",
                 "ArrowRight": "ARROW_RIGHT", "Home": "HOME", "End": "END", "PageUp": "PAGE_UP",
                 "PageDown": "PAGE_DOWN", "Insert": "INSERT", "Shift": "SHIFT",
                 "Control": "CONTROL", "Alt": "ALT", "Meta": "META"}


class SeleniumSession(Session):
    def finish_start(self):
        self.driver.set_page_load_timeout(DEADLINE)
        self.driver.set_script_timeout(DEADLINE)

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def js_async(self, script, *args):
        return self.driver.execute_async_script(script, *args)

    def get(self, url):
        self.driver.get(url)

    def refresh(self):
        self.driver.refresh()

    def screenshot(self, path):
        return self.driver.save_screenshot(path)

    def selenium_key(self, key):
        from selenium.webdriver.common.keys import Keys
        if key in SELENIUM_KEYS:
            return getattr(Keys, SELENIUM_KEYS[key])
        if key[0] == "F" and key[1:].isdigit():
            return getattr(Keys, key)
        return key

    def actions(self, duration=250):
        from selenium.webdriver.common.action_chains import ActionChains
        return ActionChains(self.driver, duration=duration)

    def type_text(self, text):
        self.actions().send_keys(text).perform()

    def key(self, key, mods=()):
        chain = self.actions()
        for mod in mods:
            chain = chain.key_down(self.selenium_key(mod))
        chain = chain.send_keys(self.selenium_key(key))
        for mod in reversed(mods):
            chain = chain.key_up(self.selenium_key(mod))
        chain.perform()

    def drag(self, x, y, moves):
        chain = self.actions(duration=20)
        chain.w3c_actions.pointer_action.move_to_location(x, y)
        chain.w3c_actions.pointer_action.click_and_hold()
        for dx, dy in moves:
            x, y = x + dx, y + dy
            chain.w3c_actions.pointer_action.move_to_location(x, y)
        chain.w3c_actions.pointer_action.release()
        chain.perform()

    def click(self, selector):
        from selenium.webdriver.common.by import By
        self.driver.find_element(By.CSS_SELECTOR, selector).click()

    def close(self):
        try:
            self.driver.quit()
        except Exception:  # the browser may already be gone
            pass


class ChromiumSession(SeleniumSession):
    engine = "chromium"

    def __init__(self, workdir, scale=1):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        profile = os.path.join(workdir, "chromium-profile-%d" % len(os.listdir(workdir)))
        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which("chromium")
        for flag in CHROMIUM_FLAGS + ["--user-data-dir=" + profile]:
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        service = Service(executable_path=shutil.which("chromedriver"),
                          log_path=os.path.join(workdir, "chromedriver.log"))
        self.driver = webdriver.Chrome(service=service, options=options)
        self.finish_start()

    def cdp(self, command, params=None):
        return self.driver.execute_cdp_cmd(command, params or {})

    def set_viewport(self, width, height, scale=1):
        self.cdp("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": scale, "mobile": False})

    def before_load(self, source):
        self.cdp("Page.addScriptToEvaluateOnNewDocument", {"source": source})

    def offline(self):
        self.cdp("Network.enable")
        self.cdp("Network.emulateNetworkConditions", {
            "offline": True, "latency": 0, "downloadThroughput": -1, "uploadThroughput": -1})

    def type_dead_key(self, composed):
        # Through the browser's own input, as its platform would give them.
        for key, text, code in (("Dead", "", "Quote"), (composed, composed, "KeyE")):
            for kind in ("keyDown", "keyUp"):
                self.cdp("Input.dispatchKeyEvent", dict(
                    type=kind, key=key, code=code,
                    **({"text": text} if text and kind == "keyDown" else {})))

    def installability_errors(self):
        return self.cdp("Page.getInstallabilityErrors")["installabilityErrors"]

    def log(self):
        return self.driver.get_log("browser")


class WebKitSession(SeleniumSession):
    """MiniBrowser on an Xvfb of its own, large enough for a window of the
    largest viewport at two device pixels per CSS pixel (GDK_SCALE=2, which
    the browser takes at its start: scale). Its window holds a toolbar
    above the page, allowed for in the window's size. Its driver hands out
    no console, so the page served to it (serve) records its own."""

    engine = "webkit"
    lacks = {"installability": "WebKitGTK has no check of a web app's installability",
             "network emulation": "WebKitWebDriver cannot take the network offline"}
    SCREEN = (2900, 1800)

    def __init__(self, workdir, scale=1):
        from selenium import webdriver
        from selenium.webdriver.webkitgtk.service import Service
        self.processes = Processes()
        self.scale = scale
        try:
            _, display = start_xvfb(self.processes, self.SCREEN)
            options = webdriver.WebKitGTKOptions()
            options.binary_location = MINIBROWSER
            options.add_argument("--automation")
            env = dict(os.environ, DISPLAY=display, GDK_SCALE=str(scale), GDK_DPI_SCALE="1",
                       WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS="1", LIBGL_ALWAYS_SOFTWARE="1")
            env.pop("WAYLAND_DISPLAY", None)
            self.service = Service(shutil.which("WebKitWebDriver"),
                                   log_path=os.path.join(workdir, "webkitwebdriver.log"), env=env)
            self.service.start()
            self.processes.at_close(self.service.stop)
            self.driver = webdriver.Remote(command_executor=self.service.service_url,
                                           options=options)
        except BaseException:
            self.processes.close()
            raise
        self.finish_start()
        self.preloads = []
        self.toolbar = None

    def set_viewport(self, width, height, scale=1):
        check(scale == self.scale, "webkit: the session's scale is %s (GDK_SCALE at its start)"
              % self.scale)
        if self.toolbar is None:
            self.toolbar = self.js("return outerHeight - innerHeight;")
        self.driver.set_window_rect(0, 0, width, height + self.toolbar)
        wait_until("webkit: the viewport did not become %dx%d" % (width, height),
                   lambda: self.js("return [innerWidth, innerHeight];") == [width, height],
                   lambda: "it is %r" % self.js("return [innerWidth, innerHeight];"))

    def serve(self, root, host="127.0.0.1", server=None, head=None):
        return (server or StaticServer)(root, host, lambda: CONSOLE_RECORDER + "".join(
            "<script>%s</script>\n" % source for source in self.preloads) + (
                head() if head else ""))

    def before_load(self, source):
        # Served with the page (serve): a page from elsewhere misses it.
        self.preloads.append(source)

    def offline(self):
        return False

    def log(self):
        try:
            return self.js("return (window.ostrevaneConsole || []).splice(0);") or []
        except Exception:  # between pages
            return []

    def close(self):
        try:
            super().close()
        finally:
            self.processes.close()


class FirefoxSession(Session):
    """firefox.js, one command a line each way."""

    engine = "firefox"
    lacks = {"installability": "Firefox has no check of a web app's installability",
             "keyboard activation": "Firefox does not activate a focused button on the keys "
                                    "WebDriver BiDi sends (Enter, Space), a bare page's neither"}

    def __init__(self, workdir, scale=1):
        profile = os.path.join(workdir, "firefox-profile-%d" % len(os.listdir(workdir)))
        os.makedirs(profile)
        self.stderr = open(os.path.join(workdir, "firefox.log"), "wb")
        self.process = subprocess.Popen(
            ["node", os.path.join(os.path.dirname(os.path.abspath(__file__)), "firefox.js"),
             shutil.which("firefox-esr"), profile], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=self.stderr, env=dict(os.environ, OSTREVANE_NPM=NPM, MOZ_HEADLESS="1"),
            start_new_session=True)
        self.count = 0
        self.entries = []

    def call(self, op, **fields):
        self.count += 1
        try:
            self.process.stdin.write((json.dumps(dict(fields, id=self.count, op=op)) + "\n")
                                     .encode())
            self.process.stdin.flush()
        except BrokenPipeError:
            pass
        line = self.process.stdout.readline()
        if not line:
            self.process.wait(timeout=DEADLINE)
            with open(self.stderr.name, "rb") as f:
                raise Failure("firefox: the driver ended (code %s): %s" % (
                    self.process.returncode, f.read().decode(errors="replace").strip()[-600:]))
        reply = json.loads(line)
        check(reply["id"] == self.count, "firefox: answer %r to command %d" % (reply, self.count))
        if "error" in reply:
            raise Failure("firefox: %s: %s" % (op, reply["error"]))
        return reply["value"]

    def js(self, script, *args):
        return self.call("script", body=script, args=list(args))

    def js_async(self, script, *args):
        return self.call("async_script", body=script, args=list(args))

    def get(self, url):
        self.call("get", url=url)

    def refresh(self):
        self.call("reload")

    def set_viewport(self, width, height, scale=1):
        # Firefox keeps its own scale unless told one.
        self.call("viewport", width=width, height=height, scale=scale)

    def before_load(self, source):
        self.call("preload", source=source)

    def offline(self):
        self.call("offline", offline=True)

    def screenshot(self, path):
        return self.call("screenshot", path=path)

    def type_text(self, text):
        self.call("type", text=text)

    def key(self, key, mods=()):
        for mod in mods:
            self.call("down", key=mod)
        self.call("down", key=key)
        self.call("up", key=key)
        for mod in reversed(mods):
            self.call("up", key=mod)

    def mouse_move(self, x, y):
        self.call("move", x=x, y=y)

    def mouse_press(self):
        self.call("press")

    def mouse_release(self):
        self.call("release")

    def click(self, selector):
        self.call("click", selector=selector)

    def log(self):
        return self.call("log")

    def close(self):
        try:
            self.process.stdin.close()
        except OSError:
            pass
        try:
            self.process.wait(timeout=DEADLINE)
        except subprocess.TimeoutExpired:
            pass
        # What is left of the browser (puppeteer ends it on a clean close).
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.process.wait()
        self.stderr.close()
