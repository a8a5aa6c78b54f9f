#!/usr/bin/env python3
"""Loopback TCP relay that puts a server far away, for the benchmarks.

    python3 samples/latency_proxy.py TARGET_PORT [options]

It binds 127.0.0.1 on an ephemeral port, prints "PORT <n>" as the first line
of its standard output and relays every connection to 127.0.0.1:TARGET_PORT,
byte for byte (TLS passes through untouched). Every chunk is held --delay-ms
in each direction; the first bytes a client sends on a new connection are
held one round trip more, as a TCP handshake costs before the client can
send. With the default 25 ms, a request on a new connection takes 100 ms and
one on a kept connection 50 ms. The kernel here has no network emulation,
hence this relay.

Options:
  --delay-ms MS      one-way delay (default 25)
  --stats FILE       kept up to date with one line "connections N"
  --lifetime SECONDS exit after this long (default 600)
"""

import argparse
import collections
import os
import socket
import sys
import threading
import time


class DelayedPipe:
    """One direction of a relayed connection: a reader thread stamps each
    chunk with the time it may leave, a sender thread sends it then. The
    delay runs in parallel for chunks in flight, as on a real link; chunks
    never overtake each other."""

    def __init__(self, source, target, delay, first_extra, on_end):
        self.source = source
        self.target = target
        self.delay = delay
        self.extra = first_extra
        self.on_end = on_end
        self.queue = collections.deque()
        self.ready = threading.Condition()
        threading.Thread(target=self.read, daemon=True).start()
        threading.Thread(target=self.send, daemon=True).start()

    def read(self):
        due = 0.0
        while True:
            try:
                data = self.source.recv(65536)
            except OSError:
                data = b""
            due = max(time.monotonic() + self.delay + self.extra, due)
            self.extra = 0.0
            with self.ready:
                self.queue.append((due, data))
                self.ready.notify()
            if not data:
                return

    def send(self):
        while True:
            with self.ready:
                while not self.queue:
                    self.ready.wait()
                due, data = self.queue.popleft()
            wait = due - time.monotonic()
            if wait > 0:
                time.sleep(wait)
            try:
                if not data:
                    self.target.shutdown(socket.SHUT_WR)
                else:
                    self.target.sendall(data)
                    continue
            except OSError:
                pass
            self.on_end()
            return


class Relay:
    """A client connection and its server connection; both close once both
    directions have ended."""

    def __init__(self, client, server, delay):
        self.client = client
        self.server = server
        self.lock = threading.Lock()
        self.open_pipes = 2
        DelayedPipe(client, server, delay, 2 * delay, self.pipe_ended)
        DelayedPipe(server, client, delay, 0.0, self.pipe_ended)

    def pipe_ended(self):
        with self.lock:
            self.open_pipes -= 1
            if self.open_pipes:
                return
        for s in (self.client, self.server):
            try:
                s.close()
            except OSError:
                pass


def write_stats(path, connections):
    if path:
        with open(path + ".new", "w") as f:
            f.write("connections %d\n" % connections)
        os.replace(path + ".new", path)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Loopback TCP relay with a fixed delay each way.",
                                     formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    parser.add_argument("target_port", type=int)
    parser.add_argument("--delay-ms", type=float, default=25.0)
    parser.add_argument("--stats", metavar="FILE")
    parser.add_argument("--lifetime", type=float, default=600.0, metavar="SECONDS")
    args = parser.parse_args(argv)
    delay = args.delay_ms / 1000.0

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    sys.stdout.write("PORT %d\n" % listener.getsockname()[1])
    sys.stdout.flush()
    timer = threading.Timer(args.lifetime, lambda: os._exit(0))
    timer.daemon = True
    timer.start()

    connections = 0
    write_stats(args.stats, connections)
    try:
        while True:
            client, _ = listener.accept()
            connections += 1
            write_stats(args.stats, connections)
            try:
                server = socket.create_connection(("127.0.0.1", args.target_port), timeout=10)
            except OSError:
                client.close()
                continue
            server.settimeout(None)
            for s in (client, server):
                s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            Relay(client, server, delay)
    except KeyboardInterrupt:
        pass
    os._exit(0)


if __name__ == "__main__":
    main()
