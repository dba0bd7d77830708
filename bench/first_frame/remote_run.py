#!/usr/bin/env python3
"""First whole frame of ostrevane on a display elsewhere, beside the bare Xlib
baseline (one XPutImage), both through tests/support/latency_proxy.py to a
local Xvfb: a fixed delay each way (10 ms, a 20 ms round trip), once with no bandwidth cap
and once at 20 Mbit/s each way. The programs take turns within one
first_frame_probe run; the probe watches the server directly, so a frame is
timed until the server has drawn it (every pixel of the window damaged),
not until it was sent.

Also, per program, what happened on its connection before its first frame:
how often it waited for the server (latency_proxy.waits) and the bytes it
sent and received.

Usage: bench/first_frame/remote_run.py [--build DIR] [--runs N] [--size WxH]
                                       [--delay-ms D] [--mbit M ...]
OSTREVANE=path measures another build of the program; BEFORE=path measures
one more (an older build, say) in the same turns.

Goals: at a 20 ms round trip the ratio within 1.15x; at 20 Mbit/s within
0.25x. Exit status 0 done, 1 a run failed.
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "support"))
import latency_proxy  # noqa: E402
from ostrevane_support import (Failure, Processes, Skip, start_proxy, start_xvfb,  # noqa: E402
                               wait_until)


def measure(args, programs, display, mbit, workdir):
    """Per program name: (times ms, waits, bytes sent, bytes received)."""
    log = os.path.join(workdir, "proxy-%g.log" % mbit)
    with Processes() as processes:
        proxy, remote = start_proxy(processes, display, args.delay_ms, mbit, log)
        result = run_probe(args, programs, display, remote)

        # The proxy records a connection once it has seen both ends close,
        # which may come after the probe has reaped the program.
        def recorded():
            with open(log) as f:
                return sum(1 for _ in f) >= args.runs * len(programs)
        wait_until("the latency proxy's record of every run", recorded,
                   "fewer connections than runs")
        proxy.terminate()
        proxy.wait()
    return read_runs(programs, result, log, args.delay_ms)


def run_probe(args, programs, display, remote):
    command = [args.probe, str(args.runs)]
    for name, program in programs:
        command += ["--", "/usr/bin/env", "DISPLAY=" + remote, "OSTREVANE_BACKEND=x11",
                    "OSTREVANE_BENCH_NAME=" + name, program]
    result = subprocess.run(command, env=dict(os.environ, DISPLAY=display), capture_output=True,
                            text=True, timeout=1800)
    if result.returncode != 0:
        raise SystemExit("remote_run: " + result.stderr.strip())
    return result


def read_runs(programs, result, log, delay_ms):
    with open(log) as f:
        connections = [json.loads(line) for line in f]
    found = {name: ([], [], [], []) for name, _ in programs}
    for line in result.stdout.splitlines():
        words = line.split()
        if words[0] != "run":
            continue
        name = next(n for n, _ in programs if ("OSTREVANE_BENCH_NAME=" + n + ":") in words[1])
        start = float(words[words.index("start_s") + 1])
        frame = float(words[words.index("frame_s") + 1])
        mine = [c for c in connections if start <= c["opened"] <= frame]
        if len(mine) != 1:
            raise SystemExit("remote_run: %d connections during one run of %s"
                             % (len(mine), name))
        chunks = [chunk for chunk in mine[0]["chunks"] if chunk[0] <= frame]
        times, waits, sent, received = found[name]
        times.append(float(words[2]))
        waits.append(latency_proxy.waits(chunks, delay_ms / 1000.0))
        sent.append(sum(n for _, d, n in chunks if d == "c"))
        received.append(sum(n for _, d, n in chunks if d == "s"))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--runs", type=int, default=15)
    parser.add_argument("--size", default="1920x1080")
    parser.add_argument("--delay-ms", type=float, default=10.0)
    parser.add_argument("--mbit", type=float, nargs="*", default=[0, 20])
    args = parser.parse_args()
    os.chdir(os.path.join(HERE, "..", ".."))
    args.probe = os.path.join(args.build, "bench/first_frame/first_frame_probe")
    baseline = os.path.join(args.build, "bench/first_frame/bare_xlib_window")
    programs = [("ostrevane", os.environ.get("OSTREVANE", os.path.join(args.build, "ostrevane"))),
                ("bare_xlib", baseline)]
    if os.environ.get("BEFORE"):
        programs.append(("before", os.environ["BEFORE"]))
    for _, binary in programs + [("probe", args.probe)]:
        if not os.access(binary, os.X_OK):
            raise SystemExit("remote_run: %s is not built" % binary)
    if shutil.which("Xvfb") is None:
        raise SystemExit("remote_run: Xvfb is not installed (apt-get install xvfb)")

    workdir = tempfile.mkdtemp(prefix="remote_run.")
    summary = []
    with Processes() as processes:
        try:
            _, display = start_xvfb(processes, tuple(int(v) for v in args.size.split("x")))
        except (Failure, Skip) as error:
            raise SystemExit("remote_run: %s" % error)
        for mbit in args.mbit:
            link = "%g ms round trip, %s" % (2 * args.delay_ms,
                                              "%g Mbit/s" % mbit if mbit else "no bandwidth cap")
            print("== %s, screen %s" % (link, args.size), flush=True)
            found = measure(args, programs, display, mbit, workdir)
            floor = statistics.median(found["bare_xlib"][0])
            for name, _ in programs:
                times, waits, sent, received = found[name]
                median = statistics.median(times)
                summary.append("%s, %s: %-9s median %8.1f ms (min %.1f, max %.1f), %.2fx the "
                               "floor; waits %d, sent %d bytes, received %d bytes"
                               % (args.size, link, name, median, min(times), max(times),
                                  median / floor, statistics.median(waits),
                                  statistics.median(sent), statistics.median(received)))
                print(summary[-1], flush=True)
    shutil.rmtree(workdir, ignore_errors=True)
    print()
    print("\n".join(summary))
    print("goals: within 1.15x of the floor with no cap, within 0.25x at 20 Mbit/s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
