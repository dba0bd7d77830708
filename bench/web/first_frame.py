#!/usr/bin/python3
"""First whole frame of the web page (scripts/web.sh, dist/web/) in a browser
(headless Chromium, headless Firefox or WebKitGTK's MiniBrowser on Xvfb:
tests/support/browsers.py), beside a bare page: a canvas that draws the
render tool's PNG of the same client area. The pages take turns within one
run, each load on an origin of its own (a new loopback address: nothing
cached for it, no service worker, and in Chromium a new renderer in a fresh
tab with the cache off and service workers bypassed), as a new user's first
visit. A load is timed from navigation start to the first animation frame
whose canvas holds every pure red pixel of the figure's part in the client
area; a probe that the server puts first in each page counts them.

Each screen size is measured on a fast link (the loopback) and on a link
throttled to a 40 ms round trip and 20 Mbit/s each way: by the DevTools
protocol in Chromium; for the other engines, whose drivers cannot throttle,
by the server (each response starts a round trip after its request, and
its bytes leave no faster than that, each connection on its own). The
server compresses what a static host would (gzip for text and WebAssembly,
when the browser accepts it; not the PNG).

Usage: bench/web/first_frame.py [--browser chromium|firefox|webkit]
                                [--page DIR] [--before DIR] [--render PATH]
                                [--runs N] [--size WxH ...] [--detail]
  --browser the engine (default: chromium)
  --page    the page to measure (default: dist/web)
  --before  another build's page (an older one, say), measured in the same
            turns
  --render  the native render tool (default: build/ci/tools/ostrevane-render)
  --runs    loads of each page per screen size and link (default: 15)
  --detail  also when each of a page's files arrived, as medians
Prints, per link and screen size, the medians and the ratio of the page's to
the bare page's. Goal: the ratio within 1.1x on both links. Exit status 0
done, 1 a load failed, 77 nothing to measure with (no page, render tool,
browser or its driver).
"""

import argparse
import base64
import gzip
import io
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import browsers  # noqa: E402
from ostrevane_support import Skip  # noqa: E402

# The frame around the client area, as the page's style draws it.
BORDER = 4
TITLE_HEIGHT = 28

LINKS = [("fast", None),
         ("throttled", {"offline": False, "latency": 40, "downloadThroughput": 20e6 / 8,
                          "uploadThroughput": 20e6 / 8})]

# Added before each page's scripts: on every animation frame, once a canvas
# has a size, count its pure red pixels; the first frame that has them all
# resolves window.benchFirstFrame with the frame's time since navigation
# start, and when each file arrived (and the page's performance marks). Gives up (null) after 30 s.
PROBE = """
window.benchFirstFrame = new Promise(resolve => {
  const expected = %d;
  setTimeout(() => resolve(null), 30000);
  function frame() {
    const now = performance.now();
    const canvas = document.querySelector('canvas');
    if (canvas && canvas.width > 0 && canvas.height > 0) {
      const pixels = new Uint32Array(canvas.getContext('2d').getImageData(
          0, 0, canvas.width, canvas.height).data.buffer);
      let red = 0;
      for (let i = 0; i < pixels.length; ++i) {
        red += pixels[i] === 0xFF0000FF;
      }
      if (red === expected) {
        const files = performance.getEntriesByType('resource').map(
            e => [e.name.replace(/^.*\\//, ''), e.responseEnd]);
        files.unshift(['(document)', performance.getEntriesByType('navigation')[0].responseEnd]);
        performance.getEntriesByType('mark').forEach(e => files.push([e.name, e.startTime]));
        resolve({time: now, files: files});
        return;
      }
    }
    requestAnimationFrame(frame);
  }
  requestAnimationFrame(frame);
});
"""

# The bare page: the client area's picture drawn on a canvas where the page
# puts its client area, with the same context settings.
BARE_PAGE = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Bare</title>
<style>html, body { margin: 0; background: #20303f; }
canvas { position: absolute; left: %dpx; top: %dpx; }</style>
</head>
<body>
<canvas width="0" height="0"></canvas>
<script>
const canvas = document.querySelector('canvas');
const context = canvas.getContext('2d', {alpha: false, willReadFrequently: true});
const image = new Image();
image.onload = () => {
  canvas.width = image.width;
  canvas.height = image.height;
  context.drawImage(image, 0, 0);
};
image.src = 'client.png';
</script>
</body>
</html>
""" % (BORDER, BORDER + TITLE_HEIGHT)

# The top-left width x height of the PNG at arguments[0] as a PNG (base64),
# and its pure red pixels.
CROP = """
const [url, width, height, done] = arguments;
fetch(url).then(r => r.blob()).then(createImageBitmap).then(bitmap => {
  const canvas = document.createElement('canvas');
  canvas.width = width;
  canvas.height = height;
  const context = canvas.getContext('2d', {willReadFrequently: true});
  context.drawImage(bitmap, 0, 0);
  const pixels = new Uint32Array(context.getImageData(0, 0, width, height).data.buffer);
  const red = pixels.reduce((n, p) => n + (p === 0xFF0000FF), 0);
  canvas.toBlob(blob => {
    const reader = new FileReader();
    reader.onload = () => done([reader.result.split(',')[1], red]);
    reader.readAsDataURL(blob);
  }, 'image/png');
}).catch(e => done(String(e)));
"""

# Once the first frame is in: a page that keeps itself for offline use has
# settled that (<html data-offline>), so that its service worker does not
# install during a later load.
SETTLE = """
const done = arguments[arguments.length - 1];
const root = document.documentElement;
if (!document.querySelector('link[rel=manifest]') || root.dataset.offline) {
  done();
} else {
  new MutationObserver(() => root.dataset.offline && done()).observe(
      root, {attributes: true, attributeFilter: ['data-offline']});
}
"""


class CompressingHandler(browsers.QuietHandler):
    """Serves files as a static host does: text and WebAssembly gzipped
    (once, then kept) for a browser that accepts it."""
    COMPRESSED = (".html", ".js", ".css", ".wasm", ".json", ".webmanifest", ".svg")
    compressed = {}

    def send_head(self):
        path = self.translate_path(self.path)
        if os.path.isdir(path):
            path = os.path.join(path, "index.html")
        if (not path.endswith(self.COMPRESSED) or not os.path.isfile(path) or
                "gzip" not in self.headers.get("Accept-Encoding", "")):
            return super().send_head()
        head = self.head() if self.head else ""
        if (path, head) not in self.compressed:
            body = self.page(path)
            if body is None:
                with open(path, "rb") as f:
                    body = f.read()
            self.compressed[path, head] = gzip.compress(body, 9)
        body = self.compressed[path, head]
        self.send_response(200)
        self.send_header("Content-Type", self.guess_type(path))
        self.send_header("Content-Encoding", "gzip")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        return io.BytesIO(body)


class ThrottlingHandler(CompressingHandler):
    """A link of `delay` seconds each way and `rate` bytes a second, for
    each response on its own."""
    delay, rate = 0.020, 20e6 / 8

    def send_head(self):
        time.sleep(2 * self.delay)
        return super().send_head()

    def copyfile(self, source, output):
        started, sent = time.monotonic(), 0
        while True:
            chunk = source.read(16384)
            if not chunk:
                return
            sent += len(chunk)
            time.sleep(max(0.0, started + sent / self.rate - time.monotonic()))
            output.write(chunk)


class Server(browsers.StaticServer):
    handler_class = CompressingHandler


class ThrottlingServer(browsers.StaticServer):
    handler_class = ThrottlingHandler


class Bench:
    def __init__(self, engine, workdir):
        self.session = browsers.start(engine, workdir)
        self.chromium = engine == "chromium"
        self.loads = 0

    def close(self):
        self.session.close()

    def cdp(self, command, params=None):
        return self.session.cdp(command, params)

    def fresh_tab(self):
        driver = self.session.driver
        old = driver.current_window_handle
        driver.switch_to.new_window("tab")
        new = driver.current_window_handle
        driver.switch_to.window(old)
        driver.close()
        driver.switch_to.window(new)

    def next_host(self):
        """A loopback address not used before in this run: a site of its own."""
        self.loads += 1
        return "127.0.%d.%d" % (1 + self.loads // 250, 1 + self.loads % 250)

    def load(self, root, size, link, expected):
        """The first whole frame of the page in `root`: {time, files}."""
        probe = "<script>%s</script>" % (PROBE % expected)
        throttled = link is not None and not self.chromium
        server = self.session.serve(root, self.next_host(),
                                    ThrottlingServer if throttled else Server, lambda: probe)
        try:
            if self.chromium:
                self.fresh_tab()
                self.cdp("Network.enable")
                self.cdp("Network.setCacheDisabled", {"cacheDisabled": True})
                self.cdp("Network.setBypassServiceWorker", {"bypass": True})
                if link:
                    self.cdp("Network.emulateNetworkConditions", link)
            self.session.set_viewport(size[0], size[1])
            self.session.get(server.url)
            result = self.session.js_async(
                "const done = arguments[arguments.length - 1];"
                " window.benchFirstFrame.then(done, e => done(String(e)));")
            if not isinstance(result, dict):
                raise SystemExit("first_frame: %s never showed the whole figure (%d red pixels)"
                                 % (root, expected))
            self.session.js_async(SETTLE)
            return result
        finally:
            server.close()

    def bare_page(self, render, size, workdir):
        """A folder with the bare page for a size, and the red pixels the
        client area holds."""
        client = (size[0] * 3 // 4, size[1] * 3 // 4)
        folder = os.path.join(workdir, "bare-%dx%d" % size)
        os.mkdir(folder)
        full = os.path.join(workdir, "screen-%dx%d.png" % size)
        subprocess.run([render, "--size", "%dx%d" % size, "--output", full], check=True,
                       timeout=120)
        server = self.session.serve(workdir)
        try:
            self.session.get(server.url + "bare-%dx%d/" % size)
            result = self.session.js_async(CROP, server.url + os.path.basename(full),
                                           client[0], client[1])
        finally:
            server.close()
        if not isinstance(result, list):
            raise SystemExit("first_frame: cannot cut the client area from %s: %s" %
                             (full, result))
        with open(os.path.join(folder, "client.png"), "wb") as f:
            f.write(base64.b64decode(result[0]))
        with open(os.path.join(folder, "index.html"), "w", encoding="utf-8") as f:
            f.write(BARE_PAGE)
        return folder, result[1]


def median_files(results):
    """Per file, the median time it arrived, in the order of the first load."""
    names = [name for name, _ in results[0]["files"]]
    return [(name, statistics.median(dict(r["files"]).get(name, float("nan")) for r in results))
            for name in names]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--browser", choices=browsers.ENGINES, default="chromium")
    parser.add_argument("--page", default=os.path.join(ROOT, "dist", "web"))
    parser.add_argument("--before")
    parser.add_argument("--render", default=os.path.join(ROOT, "build", "ci", "tools",
                                                         "ostrevane-render"))
    parser.add_argument("--runs", type=int, default=15)
    parser.add_argument("--size", nargs="+", default=["1366x768", "1920x1080"])
    parser.add_argument("--link", nargs="+", choices=[name for name, _ in LINKS],
                        default=[name for name, _ in LINKS])
    parser.add_argument("--detail", action="store_true")
    args = parser.parse_args()
    missing = ["a page in %s (scripts/web.sh builds it)" % path
               for path in [args.page] + ([args.before] if args.before else [])
               if not os.path.isfile(os.path.join(path, "index.html"))]
    missing += ["the render tool %s" % args.render] if not os.access(args.render, os.X_OK) else []
    try:
        browsers.require(args.browser)
    except Skip as skip:
        missing.append(str(skip))
    if missing:
        print("first_frame: nothing to measure with, no %s" % ", no ".join(missing))
        return 77
    sizes = [tuple(int(v) for v in size.split("x")) for size in args.size]
    links = [entry for entry in LINKS if entry[0] in args.link]

    with tempfile.TemporaryDirectory(prefix="web-first-frame-") as workdir:
        bench = Bench(args.browser, workdir)
        try:
            bare = {size: bench.bare_page(args.render, size, workdir) for size in sizes}
            pages = [("page", args.page)] + ([("before", args.before)] if args.before else [])
            pages.append(("bare", None))
            # One load of each first, not counted: the browser's own first
            # start-up work falls on none of them.
            folder, red = bare[sizes[0]]
            for _, root in pages:
                bench.load(root or folder, sizes[0], None, red)
            print("First whole frame in %s, median ms from navigation start over %d loads of "
                  "each (an origin of its own each)" % (args.browser, args.runs))
            header = "%-12s %-10s %9s %9s %7s" % ("link", "screen", "page", "bare", "ratio")
            if args.before:
                header += " %9s %7s" % ("before", "ratio")
            print(header)
            for link_name, link in links:
                for size in sizes:
                    folder, red = bare[size]
                    results = {name: [] for name, _ in pages}
                    for run in range(args.runs):
                        # Each page goes first in turn.
                        turn = pages[run % len(pages):] + pages[:run % len(pages)]
                        for name, root in turn:
                            results[name].append(bench.load(root or folder, size, link, red))
                    medians = {name: statistics.median(r["time"] for r in results[name])
                               for name in results}
                    line = "%-12s %-10s %9.1f %9.1f %6.2fx" % (
                        link_name, "%dx%d" % size, medians["page"], medians["bare"],
                        medians["page"] / medians["bare"])
                    if args.before:
                        line += " %9.1f %6.2fx" % (medians["before"],
                                                   medians["before"] / medians["bare"])
                    print(line, flush=True)
                    if args.detail:
                        for name in results:
                            print("    %-7s %s" % (name, ", ".join(
                                "%s %.0f" % item for item in median_files(results[name]))))
        finally:
            bench.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
