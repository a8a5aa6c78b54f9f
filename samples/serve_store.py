#!/usr/bin/env python3
"""Loopback HTTP server that serves a symbol store directory to tests.

    python3 samples/serve_store.py DIR [options]

It binds 127.0.0.1 on an ephemeral port and prints "PORT <n>" as the first
line of its standard output. It never outlives --lifetime seconds.

Behaviour options (each may be given several times; PREFIX is a URL path
prefix such as /nb10.pdb/, "/" when left out; rules are tried kind by kind in
the order listed here, and in command-line order within a kind; the first
that matches a request decides):
  --status CODE[=PREFIX]        answer CODE with a short body
  --redirect-prefix FROM=TO     answer 302, Location: the path with FROM
                                replaced by TO
  --mute[=PREFIX]               read the request, then never answer (the
                                connection stays open until the server ends)
  --cut N[=PREFIX]              send 200 and the full Content-Length, then only
                                the first N bytes of the file, then close
  --trickle MS[=PREFIX]         send the whole reply, head and body, one byte
                                every MS milliseconds
  --trickle-body MS[=PREFIX]    send the head at once, then the body one byte
                                every MS milliseconds
Other options:
  --cert FILE --key FILE        serve HTTPS with this certificate (PEM, chain
                                included) and key
  --ignore-case                 match path components without regard to case,
                                as a Windows symbol server does
  --log FILE                    append one line per request: METHOD PATH RESULT
  --keep-alive                  speak HTTP/1.1 and keep connections open
                                between requests (a cut, mute or trickle reply
                                still ends its connection)
  --stats FILE                  kept up to date with two lines, "requests N"
                                and "connections N"
  --lifetime SECONDS            exit after this long (default 600)
"""

import argparse
import http.server
import os
import socket
import ssl
import sys
import threading
import time
import urllib.parse


def parse_rule(text, default_prefix="/"):
    value, sep, prefix = text.partition("=")
    return value, (prefix if sep else default_prefix)


class TrickleWriter:
    """Stands in for a handler's wfile: sends every byte on its own, one
    every delay seconds; with skip_first the first write (the reply head)
    goes out at once. Stops at the first failed send (the client gave up)."""

    closed = False

    def __init__(self, connection, delay, skip_first):
        self.connection = connection
        self.delay = delay
        self.skip_first = skip_first
        self.broken = False

    def write(self, data):
        if self.broken:
            return
        try:
            if self.skip_first:
                self.skip_first = False
                self.connection.sendall(data)
                return
            for i in range(len(data)):
                self.connection.sendall(data[i:i + 1])
                time.sleep(self.delay)
        except OSError:
            self.broken = True

    def flush(self):
        pass

    def close(self):
        self.closed = True


class StoreHandler(http.server.SimpleHTTPRequestHandler):
    # HTTP/1.0 unless --keep-alive: one request per connection, so a cut or
    # mute affects exactly one download.
    protocol_version = "HTTP/1.0"
    server_version = "QuillmarStore/1"

    def setup(self):
        # The TLS handshake runs here, on the connection's own thread, so that
        # a client that never finishes it holds up nothing else.
        if self.server.tls_context is not None:
            self.request.settimeout(30)
            self.request.do_handshake()
            self.request.settimeout(None)
        if self.server.keep_alive:
            self.protocol_version = "HTTP/1.1"
            # A reply's head and body go out in two writes; with Nagle the
            # body of a kept connection would wait for the client's delayed
            # acknowledgement of the head.
            self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        super().setup()

    def log_message(self, fmt, *args):
        if self.server.verbose:
            sys.stderr.write("serve_store: " + fmt % args + "\n")

    def record(self, result):
        self.server.record("%s %s %s" % (self.command, self.path, result))

    def rule_for(self, path):
        for kind, value, prefix in self.server.rules:
            if path.startswith(prefix):
                return kind, value, prefix
        return None

    def do_GET(self):
        self.handle_request(send_body=True)

    def do_HEAD(self):
        self.handle_request(send_body=False)

    def handle_request(self, send_body):
        self.server.count("requests")
        path = urllib.parse.urlsplit(self.path).path
        rule = self.rule_for(path)
        if rule:
            kind, value, prefix = rule
            if kind == "mute":
                self.record("mute")
                self.wfile.flush()
                self.server.stopping.wait()
                self.close_connection = True
                return
            if kind == "status":
                self.record("status %d" % value)
                self.send_plain(value, send_body)
                return
            if kind in ("trickle", "trickle-body"):
                self.wfile = TrickleWriter(self.connection, value / 1000.0, kind == "trickle-body")
                self.close_connection = True
            elif kind == "redirect":
                target = value + path[len(prefix):]
                self.record("redirect %s" % target)
                self.send_response(302)
                self.send_header("Location", target)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
        file_path = self.store_path(path)
        if file_path is None:
            self.record("404")
            self.send_plain(404, send_body)
            return
        with open(file_path, "rb") as f:
            body = f.read()
        cut = rule[1] if rule and rule[0] == "cut" else None
        self.record("200 %d" % len(body) if cut is None else "cut %d/%d" % (min(cut, len(body)), len(body)))
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if not send_body:
            return
        if cut is None:
            self.wfile.write(body)
            return
        self.wfile.write(body[:cut])
        self.wfile.flush()
        # Close at once so the client sees the body end short of its length.
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def send_plain(self, code, send_body):
        body = ("%d\n" % code).encode()
        self.send_response(code)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if send_body:
            self.wfile.write(body)

    def store_path(self, url_path):
        """The regular file under the served directory named by the URL path,
        or None. "." and ".." components and backslashes are refused."""
        parts = urllib.parse.unquote(url_path).split("/")
        parts = [p for p in parts if p]
        if not parts or any(p in (".", "..") or "\\" in p or "\0" in p for p in parts):
            return None
        current = self.server.root
        for part in parts:
            candidate = os.path.join(current, part)
            if not os.path.lexists(candidate) and self.server.ignore_case:
                try:
                    matches = [n for n in sorted(os.listdir(current)) if n.lower() == part.lower()]
                except OSError:
                    return None
                if matches:
                    candidate = os.path.join(current, matches[0])
            current = candidate
        if os.path.islink(current) or not os.path.isfile(current):
            return None
        return current


class StoreServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    # Muted connections stay open; a test may open many of them at once.
    request_queue_size = 64

    def __init__(self, root, rules, ignore_case, log_path, verbose, tls_context=None,
                 keep_alive=False, stats_path=None):
        self.root = os.path.abspath(root)
        self.keep_alive = keep_alive
        self.stats_path = stats_path
        self.counts = {"requests": 0, "connections": 0}
        self.write_stats()
        self.tls_context = tls_context
        self.rules = rules
        self.ignore_case = ignore_case
        self.verbose = verbose
        self.stopping = threading.Event()
        self.log_lock = threading.Lock()
        self.log_file = open(log_path, "a") if log_path else None
        super().__init__(("127.0.0.1", 0), StoreHandler)

    def get_request(self):
        connection, address = super().get_request()
        self.count("connections")
        if self.tls_context is not None:
            connection = self.tls_context.wrap_socket(connection, server_side=True, do_handshake_on_connect=False)
        return connection, address

    def handle_error(self, request, client_address):
        # A client that refused our certificate or went away mid-reply is an
        # expected part of the tests: one log line, no traceback.
        kind, value = sys.exc_info()[:2]
        if kind is not None and issubclass(kind, (OSError, ssl.SSLError)):
            self.record("CLOSED %s" % value.__class__.__name__)
            return
        super().handle_error(request, client_address)

    def record(self, line):
        if self.log_file:
            with self.log_lock:
                self.log_file.write(line + "\n")
                self.log_file.flush()

    def count(self, what):
        with self.log_lock:
            self.counts[what] += 1
            self.write_stats()

    def write_stats(self):
        # Replaced whole, so that a reader never sees half a file.
        if self.stats_path:
            with open(self.stats_path + ".new", "w") as f:
                f.write("requests %(requests)d\nconnections %(connections)d\n" % self.counts)
            os.replace(self.stats_path + ".new", self.stats_path)


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Serve a symbol store directory on 127.0.0.1 for tests.",
        formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    parser.add_argument("root", help="directory to serve")
    parser.add_argument("--status", action="append", default=[], metavar="CODE[=PREFIX]")
    parser.add_argument("--redirect-prefix", action="append", default=[], metavar="FROM=TO")
    parser.add_argument("--mute", nargs="?", action="append", const="/", metavar="PREFIX")
    parser.add_argument("--cut", action="append", default=[], metavar="N[=PREFIX]")
    parser.add_argument("--trickle", action="append", default=[], metavar="MS[=PREFIX]")
    parser.add_argument("--trickle-body", action="append", default=[], metavar="MS[=PREFIX]")
    parser.add_argument("--cert", metavar="FILE")
    parser.add_argument("--key", metavar="FILE")
    parser.add_argument("--ignore-case", action="store_true")
    parser.add_argument("--log", metavar="FILE")
    parser.add_argument("--keep-alive", action="store_true")
    parser.add_argument("--stats", metavar="FILE")
    parser.add_argument("--lifetime", type=float, default=600.0, metavar="SECONDS")
    parser.add_argument("--verbose", action="store_true", help="log requests to stderr")
    args = parser.parse_args(argv)
    if not os.path.isdir(args.root):
        parser.error("not a directory: %s" % args.root)

    # Rules keep the order of the command line within each kind; status and
    # redirect rules come before mute and cut ones.
    rules = []
    for text in args.status:
        code, prefix = parse_rule(text)
        rules.append(("status", int(code), prefix))
    for text in args.redirect_prefix:
        source, sep, target = text.partition("=")
        if not sep or not source:
            parser.error("--redirect-prefix needs FROM=TO")
        rules.append(("redirect", target, source))
    for prefix in args.mute or []:
        rules.append(("mute", None, prefix.lstrip("=") or "/"))
    for text in args.cut:
        count, prefix = parse_rule(text)
        rules.append(("cut", int(count), prefix))
    for kind, texts in (("trickle", args.trickle), ("trickle-body", args.trickle_body)):
        for text in texts:
            delay, prefix = parse_rule(text)
            rules.append((kind, int(delay), prefix))

    tls_context = None
    if args.cert or args.key:
        if not (args.cert and args.key):
            parser.error("--cert and --key go together")
        tls_context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls_context.load_cert_chain(args.cert, args.key)

    server = StoreServer(args.root, rules, args.ignore_case, args.log, args.verbose, tls_context,
                         args.keep_alive, args.stats)
    sys.stdout.write("PORT %d\n" % server.server_address[1])
    sys.stdout.flush()

    # The lifetime bound must hold even with handlers blocked in mute mode,
    # so the process ends through os._exit rather than an orderly shutdown.
    timer = threading.Timer(args.lifetime, lambda: os._exit(0))
    timer.daemon = True
    timer.start()
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    server.stopping.set()
    os._exit(0)


if __name__ == "__main__":
    main()
