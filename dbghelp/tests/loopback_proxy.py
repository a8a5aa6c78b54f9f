#!/usr/bin/env python3
"""Loopback HTTP proxy for the symbol library's proxy tests.

    python3 loopback_proxy.py [--log FILE] [--lifetime SECONDS]

It binds 127.0.0.1 on an ephemeral port and prints "PORT <n>" as the first
line of its standard output. Plain requests in absolute form ("GET
http://host:port/path") are forwarded, CONNECT opens a tunnel; both only to
127.0.0.1 and localhost: any other host is answered 403 without a lookup, so
no test traffic ever leaves the machine. A server that cannot be reached is
answered 502. Each request is logged as one line "METHOD TARGET RESULT".
It never outlives --lifetime seconds.
"""

import argparse
import os
import select
import socket
import socketserver
import sys
import threading
import urllib.parse

LOOPBACK = ("127.0.0.1", "localhost")
MAX_HEAD = 64 * 1024


class ProxyHandler(socketserver.StreamRequestHandler):
    timeout = 60

    def handle(self):
        head = self.read_head()
        if not head:
            return
        request_line, headers = head[0], head[1:]
        parts = request_line.split(" ")
        if len(parts) != 3:
            self.answer(400, "Bad Request", request_line)
            return
        method, target, _ = parts
        if method == "CONNECT":
            self.tunnel(target)
        else:
            self.forward(method, target, headers)

    def read_head(self):
        lines = []
        size = 0
        while True:
            line = self.rfile.readline(MAX_HEAD)
            size += len(line)
            if not line or size > MAX_HEAD:
                return None
            line = line.decode("latin-1").rstrip("\r\n")
            if not line:
                return lines
            lines.append(line)

    def answer(self, code, reason, logged):
        self.server.record("%s %d" % (logged, code))
        body = ("%d %s\n" % (code, reason)).encode()
        self.wfile.write(("HTTP/1.1 %d %s\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                          % (code, reason, len(body))).encode() + body)

    def connect_upstream(self, host, port, logged):
        if host not in LOOPBACK:
            self.answer(403, "Forbidden", logged)
            return None
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=10)
        except OSError:
            self.answer(502, "Bad Gateway", logged)
            return None

    def tunnel(self, target):
        logged = "CONNECT " + target
        host, _, port = target.rpartition(":")
        if not port.isdigit():
            self.answer(400, "Bad Request", logged)
            return
        upstream = self.connect_upstream(host.lower(), int(port), logged)
        if upstream is None:
            return
        self.server.record(logged + " 200")
        self.wfile.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
        self.relay(upstream, both_ways=True)

    def forward(self, method, target, headers):
        logged = method + " " + target
        url = urllib.parse.urlsplit(target)
        if url.scheme != "http" or not url.hostname:
            self.answer(400, "Bad Request", logged)
            return
        upstream = self.connect_upstream(url.hostname.lower(), url.port or 80, logged)
        if upstream is None:
            return
        self.server.record(logged + " forwarded")
        path = url.path or "/"
        if url.query:
            path += "?" + url.query
        kept = [h for h in headers if not h.lower().startswith(("proxy-", "connection:"))]
        request = "%s %s HTTP/1.1\r\n%s\r\nConnection: close\r\n\r\n" % (method, path, "\r\n".join(kept))
        upstream.sendall(request.encode("latin-1"))
        self.relay(upstream, both_ways=False)

    def relay(self, upstream, both_ways):
        client = self.connection
        # Whatever the client sent after its head is already in rfile's buffer.
        pending = self.rfile.peek(MAX_HEAD) if both_ways else b""
        if pending:
            upstream.sendall(self.rfile.read(len(pending)))
        try:
            with upstream:
                sockets = [client, upstream] if both_ways else [upstream]
                while True:
                    readable, _, _ = select.select(sockets, [], [], self.timeout)
                    if not readable:
                        return
                    for source in readable:
                        data = source.recv(65536)
                        if not data:
                            return
                        (upstream if source is client else client).sendall(data)
        except OSError:
            return


class ProxyServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, log_path):
        self.log_lock = threading.Lock()
        self.log_file = open(log_path, "a") if log_path else None
        super().__init__(("127.0.0.1", 0), ProxyHandler)

    def record(self, line):
        if self.log_file:
            with self.log_lock:
                self.log_file.write(line + "\n")
                self.log_file.flush()

    def handle_error(self, request, client_address):
        self.record("CLOSED %s" % (sys.exc_info()[1].__class__.__name__))


def main(argv=None):
    parser = argparse.ArgumentParser(description="Loopback HTTP proxy for tests.")
    parser.add_argument("--log", metavar="FILE")
    parser.add_argument("--lifetime", type=float, default=600.0, metavar="SECONDS")
    args = parser.parse_args(argv)
    server = ProxyServer(args.log)
    sys.stdout.write("PORT %d\n" % server.server_address[1])
    sys.stdout.flush()
    timer = threading.Timer(args.lifetime, lambda: os._exit(0))
    timer.daemon = True
    timer.start()
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    os._exit(0)


if __name__ == "__main__":
    main()
