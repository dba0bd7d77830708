#!/usr/bin/env python3
"""A slow link to a local X server: a TCP display on 127.0.0.1 whose bytes go
to and from the server's unix socket after a fixed delay each way, and, with
--mbit, no faster than that many megabits a second each way.

  latency_proxy.py --socket /tmp/.X11-unix/X5 --delay-ms 10 [--mbit 20]
                   [--log FILE] [--lose-at-turn N]

Prints "display N" on stdout once it listens: DISPLAY=127.0.0.1:N reaches
the server through it. Runs until killed (SIGTERM or SIGINT end it cleanly).

With --log, every connection, once it ends, adds one JSON line to FILE:
  {"opened": T, "chunks": [[T, DIR, BYTES], ...]}
T being the time (CLOCK_MONOTONIC, seconds) the client sent a chunk (DIR
"c", as it reached the proxy) or a chunk from the server reached the client
(DIR "s", as the proxy wrote it out). The benchmark turns these into
bytes each way and the times the client waited (see waits()).

With --lose-at-turn N, the display goes away under its first client as that
client starts its N-th turn: the first time it sends something, or the first
time after hearing from the server (a request that waits for a reply, or one
that follows an event). Those bytes are not passed on, both sides of the
connection are closed, and "lost at turn N" goes to stdout. When the client
ends first, "ended after T turns" does.
"""

import argparse
import asyncio
import json
import signal
import socket
import sys
import time

CHUNK = 65536


class Link:
    """One direction of one connection: a chunk read at time t is written
    out at t + delay, or later when the link is busy sending what came
    before it at `rate` bytes a second."""

    def __init__(self, writer, delay, rate, delivered=None):
        self.writer = writer
        self.delivered = delivered  # where to note what is written out
        self.delay = delay
        self.rate = rate
        self.free_at = 0.0  # when the bandwidth cap lets the next byte go
        self.queue = asyncio.Queue()

    def send(self, data):
        now = time.monotonic()
        leaves = now
        if self.rate:
            leaves = max(now, self.free_at) + len(data) / self.rate
            self.free_at = leaves
        self.queue.put_nowait((leaves + self.delay, data))

    async def pump(self):
        while True:
            due, data = await self.queue.get()
            if data is None:
                break
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            try:
                self.writer.write(data)
                if self.delivered is not None:
                    self.delivered.append((time.monotonic(), "s", len(data)))
                await self.writer.drain()
            except ConnectionError:
                break  # the receiver has gone; the other side ends too
        self.writer.close()


class Turns:
    """The client's turns on one connection, and the one it loses the
    display at (0: none)."""

    def __init__(self, lose_at):
        self.lose_at = lose_at
        self.count = 0
        self.heard = True  # from the server since the client last spoke

    def client_speaks(self):
        """False if the display is to be lost now."""
        if self.heard:
            self.heard = False
            self.count += 1
            if self.count == self.lose_at:
                print("lost at turn %d" % self.count, flush=True)
                return False
        return True


async def forward(reader, link, sent=None, turns=None, client=False):
    while True:
        try:
            data = await reader.read(CHUNK)
        except ConnectionError:
            break
        if not data:
            break
        if sent is not None:
            sent.append((time.monotonic(), "c", len(data)))
        if turns is not None:
            if not client:
                turns.heard = True
            elif not turns.client_speaks():
                break
        link.send(data)
    link.queue.put_nowait((0, None))


async def serve_client(client_reader, client_writer, args, log):
    opened = time.monotonic()
    chunks = []
    try:
        server_reader, server_writer = await asyncio.open_unix_connection(args.socket)
    except OSError:
        client_writer.close()
        return
    rate = args.mbit * 1e6 / 8 if args.mbit else 0
    delay = args.delay_ms / 1000.0
    up = Link(server_writer, delay, rate)
    down = Link(client_writer, delay, rate, chunks)
    # Only the first connection loses its display.
    turns = Turns(args.lose_at_turn)
    args.lose_at_turn = 0
    tasks = [asyncio.ensure_future(coroutine) for coroutine in (
        up.pump(), down.pump(), forward(client_reader, up, chunks, turns, True),
        forward(server_reader, down, None, turns))]
    # Either side closing ends the connection.
    await asyncio.wait(tasks[2:], return_when=asyncio.FIRST_COMPLETED)
    up.queue.put_nowait((0, None))
    down.queue.put_nowait((0, None))
    await asyncio.wait(tasks[:2], timeout=5)
    for task in tasks:
        task.cancel()
    if turns.lose_at and turns.count < turns.lose_at:
        print("ended after %d turns" % turns.count, flush=True)
    if log is not None:
        log.write(json.dumps({"opened": opened, "chunks": chunks}) + "\n")
        log.flush()


def waits(chunks, delay):
    """How often the client waited for the server: the chunks it sent after
    something from the server had reached it and it had been silent for at
    least a round trip (nine tenths of one, to allow for timers)."""
    count = 0
    heard = False
    last_sent = None
    for at, direction, _ in sorted(chunks):
        if direction == "s":
            heard = True
        else:
            if heard and last_sent is not None and at - last_sent >= 1.8 * delay:
                count += 1
            heard = False
            last_sent = at
    return count


async def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--socket", required=True, help="the X server's unix socket")
    parser.add_argument("--delay-ms", type=float, default=10.0, help="delay each way")
    parser.add_argument("--mbit", type=float, default=0.0, help="bandwidth cap each way")
    parser.add_argument("--log", help="one JSON line per ended connection")
    parser.add_argument("--lose-at-turn", type=int, default=0,
                        help="lose the display as the first client starts this turn")
    args = parser.parse_args()
    log = open(args.log, "a") if args.log else None

    # A free port above 6000 is a display number.
    listener = None
    for number in range(200, 900):
        candidate = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            candidate.bind(("127.0.0.1", 6000 + number))
        except OSError:
            candidate.close()
            continue
        listener = candidate
        break
    if listener is None:
        print("latency_proxy: no free display port", file=sys.stderr)
        return 1
    listener.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    async def accept(reader, writer):
        sock = writer.get_extra_info("socket")
        if sock is not None:
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        await serve_client(reader, writer, args, log)

    server = await asyncio.start_server(accept, sock=listener)
    print("display %d" % number, flush=True)
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for signum in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(signum, stop.set)
    await stop.wait()
    server.close()
    return 0


if __name__ == "__main__":
    sys.exit(asyncio.run(main()))
