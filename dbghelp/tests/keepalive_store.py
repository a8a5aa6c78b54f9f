#!/usr/bin/env python3
"""Keep-alive HTTPS store server for the tests of kept TLS connections.

    python3 keepalive_store.py ROOT --cert FILE --key FILE [--log FILE] [--lifetime SECONDS]

It binds 127.0.0.1 on an ephemeral port, prints "PORT <n>" first, and serves
the files under ROOT over HTTP/1.1 with TLS, keeping each connection open
across replies (404s too, each with its Content-Length). It logs one line
"CONNECTION" per connection and "GET PATH STATUS" per request, so that tests
can tell how many connections their requests took.
"""

import argparse
import http.server
import os
import ssl
import sys
import threading


class KeepAliveHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    disable_nagle_algorithm = True

    def setup(self):
        self.request.settimeout(30)
        self.request.do_handshake()
        self.request.settimeout(None)
        self.server.record("CONNECTION")
        super().setup()

    def log_message(self, fmt, *args):
        pass

    def do_GET(self):
        path = os.path.join(self.server.root, self.path.lstrip("/").replace("/", os.sep))
        body = b"no such file\n"
        status = 404
        if ".." not in self.path and os.path.isfile(path):
            with open(path, "rb") as f:
                body = f.read()
            status = 200
        self.server.record("GET %s %d" % (self.path, status))
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class KeepAliveServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, root, context, log_path):
        super().__init__(("127.0.0.1", 0), KeepAliveHandler)
        self.root = root
        self.context = context
        self.log_path = log_path
        self.log_lock = threading.Lock()

    def get_request(self):
        sock, address = super().get_request()
        return self.context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False), address

    def record(self, line):
        if self.log_path:
            with self.log_lock, open(self.log_path, "a") as log:
                log.write(line + "\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--log")
    parser.add_argument("--lifetime", type=float, default=600.0)
    args = parser.parse_args()
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    server = KeepAliveServer(args.root, context, args.log)
    print("PORT %d" % server.server_address[1], flush=True)
    threading.Timer(args.lifetime, os._exit, (0,)).start()
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
