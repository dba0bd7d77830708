#!/usr/bin/env python3
"""Checks the suite itself: makes each fault below in the sources, one at a
time, builds, runs the tests, and says which tests caught it.

  scripts/faults.py [--source DIR] [--build DIR] [--list] [NAME ...]

DIR defaults: this checkout, and its build/ci (configured and built, as
scripts/test.sh leaves it). A fault in the web page's files is built with
scripts/web.sh and run against the tests labelled web; any other against
all the others. Every file is put back as it was, whatever happens, and the
build is brought back to the sources at the end. The exit status is 1 if a
fault was missed or could not be made (its text is no longer in its file).
"""

import argparse
import os
import re
import subprocess
import sys
import time

# Each fault: its name, the file, the text it changes there, what that text
# becomes, and what a user would meet.
FAULTS = [
    # The code page conversion.
    ("cp1252-swap", "platform/user/code_page.cpp", "0x20AC, 0,      0x201A, 0x0192",
     "0x20AC, 0,      0x0192, 0x201A", "two bytes of the 0x80-0x9F row exchanged"),
    ("latin1-edge", "platform/user/code_page.cpp", "codePoint >= 0xA0 &&", "codePoint >= 0xA1 &&",
     "the Latin-1 range's lower edge moved by one"),
    ("best-fit-lost", "platform/user/code_page.cpp", "{0x03A9, 0x4F}", "{0x03A9, 0x3F}",
     "omega typed gives '?', not its best fit 'O'"),
    ("next-fit", "platform/user/code_page.cpp",
     "fit != std::end(kBestFit) && fit->codePoint == codePoint",
     "fit != std::end(kBestFit) && fit->codePoint <= codePoint + 1",
     "a character without a best fit given its neighbour's"),
    # The one failure line.
    ("cannot-open-reason", "platform/backends/failure_line.h",
     '"cannot open " + display + (why.empty() ? "" : " (" + why + ")")', '"cannot open " + display',
     "the reason dropped from the cannot-open line"),
    ("lost-reason", "platform/backends/failure_line.h",
     '"lost the connection to " + display + (why.empty() ? "" : " (" + why + ")")',
     '"lost the connection to " + display', "the reason dropped from the lost line"),
    ("display-quotes", "platform/backends/failure_line.h", 'kind + " \\"" + name + "\\""',
     'kind + " " + name', "the display's name no longer quoted"),
    ("compositor-kind", "platform/backends/wayland/connection.cpp",
     'NamedDisplay("Wayland compositor", name)', 'NamedDisplay("compositor", name)',
     "a Wayland compositor named as some compositor"),
    ("joined-reasons", "platform/backends/desktop/desktop_main.cpp",
     'failures += (failures.empty() ? "" : "; ") + error;', "failures = error;",
     "with no display at all, only the last one tried said"),
    # The remote path's encoding.
    ("black-fill-skipped", "platform/backends/x11/x11_pixels.cpp",
     "if (whole || plan_.background != 0) {", "if (plan_.background != 0) {",
     "a band inside the ink whose main colour is black not filled"),
    ("main-colour", "platform/backends/x11/x11_encode.cpp", "    return candidate;\n}",
     "    return ~candidate & kColourMask;\n}",
     "a band's main colour chosen badly: the same pixels in more bytes"),
    ("rows-unmerged", "platform/backends/x11/x11_encode.cpp",
     "rectColour[open[above]] == colour) {", "rectColour[open[above]] == colour + 1) {",
     "runs never made a row taller: more rectangles"),
    # The loss of the display.
    ("hang-up-unchecked", "platform/backends/x11/x11_connection.cpp",
     "if (state.lost || state.refused || ServerHungUp()) {", "if (state.lost || state.refused) {",
     "the queued events handled before the server's hang-up is looked at"),
    ("posted-first", "platform/user/message_queue.cpp",
     "        if (!PumpDisplay(false)) {\n            return -1;\n        }\n"
     "        if (TakePosted(filter, msg)) {\n"
     "            return msg->message == WM_QUIT ? FALSE : TRUE;\n        }\n",
     "        if (TakePosted(filter, msg)) {\n"
     "            return msg->message == WM_QUIT ? FALSE : TRUE;\n        }\n"
     "        if (!PumpDisplay(false)) {\n            return -1;\n        }\n",
     "messages posted before the display went are handed out after it went"),
    ("loss-exits-0", "platform/user/display_events.cpp",
     "DisplayLost(backend, GetState().windowTakenAway)) {\n        return 1;",
     "DisplayLost(backend, GetState().windowTakenAway)) {\n        return result;",
     "a lost display ends the program with WinMain's result"),
    ("no-grace", "platform/user/display_events.cpp",
     "windowTakenAway ? backend->LossGraceMilliseconds() : 0;", "windowTakenAway ? 0 : 0;",
     "no time for a display to show its loss after it took the window"),
    ("loss-unseen-at-exit", "platform/user/display_events.cpp",
     "if (result == WaitResult::kBroken) {\n                return true;",
     "if (result == WaitResult::kBroken) {\n                return false;",
     "a loss seen only as the program ends is taken for a clean end"),
    # The window's rectangle.
    ("frame-relative", "platform/backends/x11/x11_windows.cpp",
     "XTranslateCoordinates(display_, window.xid, root_, 0, 0, &x, &y, &child);", "(void)child;",
     "a framed window's place taken relative to its frame"),
    ("moves-ignored", "platform/user/display_events.cpp",
     "bool moved = rect.left != old.left || rect.top != old.top;", "bool moved = false;",
     "a move alone not applied to the window's rectangle"),
    # The web page's service worker.
    ("old-caches-kept", "platform/backends/web/page/service-worker.js",
     'name.indexOf("ostrevane-") === 0 && name !== CACHE', "false",
     "an older build's cache never deleted"),
    ("cache-made-again", "platform/backends/web/page/service-worker.js",
     "caches.match(name, {cacheName: CACHE})",
     "caches.open(CACHE).then(function (cache) { return cache.match(name); })",
     "a deleted cache made again, empty, by a request"),
    ("partial-cache-kept", "platform/backends/web/page/service-worker.js",
     "return caches.delete(CACHE).then(function () {",
     "return Promise.resolve().then(function () {",
     "a cache that could not take every file left behind"),
]


def run(argv, cwd, log):
    with open(log, "ab") as out:
        return subprocess.run(argv, cwd=cwd, stdout=out, stderr=subprocess.STDOUT).returncode


def build(source, build_dir, web, log):
    if web:
        return run(["scripts/web.sh"], source, log) == 0
    return run(["cmake", "--build", build_dir, "-j", "2"], source, log) == 0


def failed_tests(build_dir, web, log):
    """The tests that failed, the run stopping at the first."""
    # The layout check sees any change to the sources; it is no test of
    # what they do. A failing test's output goes into the log, so that a
    # catch can be told from a test that failed for another reason.
    argv = ["ctest", "--test-dir", build_dir, "-j", "2", "--stop-on-failure", "--output-on-failure",
            "-L" if web else "-LE", "web", "-E", "^clang_format$"]
    result = subprocess.run(argv, capture_output=True, text=True)
    with open(log, "a") as out:
        out.write(result.stdout + result.stderr)
    listed = result.stdout.split("The following tests FAILED:")
    if len(listed) < 2:
        return [] if result.returncode == 0 else ["ctest exit %d" % result.returncode]
    return [m.group(1) for m in re.finditer(r"^\s*\d+ - (\S+) \((?:Failed|Timeout|SEGFAULT|"
                                            r"Subprocess aborted|Child aborted|Exception)",
                                            listed[1], re.M)] or ["ctest exit %d" %
                                                                  result.returncode]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--source", default=here)
    parser.add_argument("--build")
    parser.add_argument("--log", default=os.path.join(os.environ.get("TMPDIR", "/tmp"),
                                                      "ostrevane-faults.log"))
    parser.add_argument("--list", action="store_true")
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()
    source = os.path.abspath(args.source)
    build_dir = os.path.abspath(args.build or os.path.join(source, "build", "ci"))
    chosen = [f for f in FAULTS if not args.names or f[0] in args.names]
    if args.list:
        for name, path, _, _, what in chosen:
            print("%-20s %-45s %s" % (name, path, what))
        return 0
    open(args.log, "w").close()
    caught, missed, broken = [], [], []
    web_touched = False
    for name, path, old, new, what in chosen:
        file = os.path.join(source, path)
        with open(file) as f:
            text = f.read()
        if text.count(old) != 1:
            print("cannot make %s: its text is %s in %s" % (
                name, "not" if old not in text else "more than once", path), flush=True)
            broken.append(name)
            continue
        web = path.startswith("platform/backends/web/page/")
        web_touched = web_touched or web
        started = time.monotonic()
        try:
            with open(file, "w") as f:
                f.write(text.replace(old, new))
            if not build(source, build_dir, web, args.log):
                print("cannot make %s: it does not build (see %s)" % (name, args.log), flush=True)
                broken.append(name)
                continue
            failed = failed_tests(build_dir, web, args.log)
        finally:
            with open(file, "w") as f:
                f.write(text)
        took = time.monotonic() - started
        if failed:
            caught.append(name)
            print("caught %-20s by %s (%.0f s)" % (name, ", ".join(failed), took), flush=True)
        else:
            missed.append(name)
            print("MISSED %-20s %s (%.0f s)" % (name, what, took), flush=True)
    build(source, build_dir, False, args.log)
    if web_touched:
        build(source, build_dir, True, args.log)
    print("caught %d of %d%s%s" % (len(caught), len(caught) + len(missed),
                                   "; missed: " + " ".join(missed) if missed else "",
                                   "; not made: " + " ".join(broken) if broken else ""))
    return 1 if missed or broken else 0


if __name__ == "__main__":
    sys.exit(main())
