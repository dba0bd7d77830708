"""Headless Chromium for the web page's tests and benchmarks: started with a
fresh profile through chromedriver (Debian's python3-selenium, which only
Debian's own Python imports) and driven through the DevTools protocol; and a
static file server for the page on a loopback address."""

import functools
import http.server
import shutil
import threading

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-extensions", "--window-size=1600,1200"]


def start(profile, log_path, flags=()):
    """A chromedriver session with Chromium on the profile folder `profile`
    (made if missing), its driver's log in `log_path`. Raises ImportError
    without python3-selenium."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium")
    for flag in FLAGS + list(flags) + ["--user-data-dir=" + profile]:
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    service = Service(executable_path=shutil.which("chromedriver"), log_path=log_path)
    driver = webdriver.Chrome(service=service, options=options)
    driver.set_page_load_timeout(30)
    driver.set_script_timeout(30)
    return driver


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map,
                          **{".wasm": "application/wasm", ".js": "text/javascript",
                             ".webmanifest": "application/manifest+json"})

    def log_message(self, *args):
        pass


class StaticServer:
    """A static file server for `root` on `host` (a loopback address), on a
    port of its own; `url` is its root."""
    handler_class = QuietHandler

    def __init__(self, root, host="127.0.0.1"):
        handler = functools.partial(self.handler_class, directory=root)
        self.httpd = http.server.ThreadingHTTPServer((host, 0), handler)
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()
        self.url = "http://%s:%d/" % (host, self.httpd.server_address[1])

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()
