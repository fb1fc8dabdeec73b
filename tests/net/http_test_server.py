#!/usr/bin/python3
"""Loopback HTTP(S) server for the download component's tests.

Prints the chosen port as one line, then serves until standard input closes
(the test that started it ended or died).

Paths under /t/ shape the answer; every other path is a file under --root,
or a 404 page that says "not found" like a web server's.

  /t/len?n=N              Content-Length N and N body bytes
  /t/short?n=N&send=M     announces N, sends M bytes, closes
  /t/nolen?n=N            no Content-Length, N bytes, ends with the connection
  /t/echo                 the request as JSON (method, path, version, headers
                          with lower-case names, body), with Content-Length
  /t/slow?n=N&chunk=C&delay=S   Content-Length N, C bytes every S seconds
  /t/redirect?to=PATH     302 to PATH on this server
  /t/log                  JSON list of "METHOD PATH" of every earlier request
"""

import argparse
import json
import os
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

PATTERN = b"0123456789abcdefghijklmnopqrstuvwxyz"


def body_of(n):
    return (PATTERN * (n // len(PATTERN) + 1))[:n]


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    server_version = "KelvanorTest/1"

    def log_message(self, format, *args):  # noqa: A002 - quiet
        pass

    def answer(self, status, reason, headers, body=b""):
        lines = ["HTTP/1.0 %d %s" % (status, reason)]
        lines += ["%s: %s" % (name, value) for name, value in headers]
        self.wfile.write(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))
        if body:
            self.wfile.write(body)
        self.wfile.flush()

    def do_GET(self):
        self.handle_any()

    def do_POST(self):
        self.handle_any()

    def handle_any(self):
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query))
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        if url.path != "/t/log":
            with self.server.lock:
                self.server.log.append("%s %s" % (self.command, url.path))
        try:
            self.route(url.path, query, body)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            pass  # the client went away (an aborted download)

    def route(self, path, query, body):
        n = int(query.get("n", "0"))
        if path == "/t/len":
            self.answer(200, "OK", [("Content-Length", n)], body_of(n))
        elif path == "/t/short":
            self.answer(200, "OK", [("Content-Length", n)], body_of(int(query["send"])))
        elif path == "/t/nolen":
            self.answer(200, "OK", [("Content-Type", "application/octet-stream")], body_of(n))
        elif path == "/t/echo":
            echo = {
                "method": self.command,
                "path": self.path,
                "version": self.request_version,
                "headers": {k.lower(): v for k, v in self.headers.items()},
                "body": body.decode("latin-1"),
            }
            data = json.dumps(echo, sort_keys=True, separators=(",", ":")).encode()
            self.answer(200, "OK", [("Content-Length", len(data))], data)
        elif path == "/t/slow":
            chunk = int(query.get("chunk", "100"))
            delay = float(query.get("delay", "0.05"))
            self.answer(200, "OK", [("Content-Length", n)])
            data = body_of(n)
            for start in range(0, n, chunk):
                self.wfile.write(data[start:start + chunk])
                self.wfile.flush()
                time.sleep(delay)
        elif path == "/t/redirect":
            self.answer(302, "Found", [("Location", query["to"]), ("Content-Length", 0)])
        elif path == "/t/log":
            with self.server.lock:
                data = json.dumps(self.server.log).encode()
            self.answer(200, "OK", [("Content-Length", len(data))], data)
        else:
            self.static(path)

    def static(self, path):
        root = os.path.realpath(self.server.root)
        target = os.path.realpath(os.path.join(root, urllib.parse.unquote(path).lstrip("/")))
        if self.server.root and target.startswith(root + os.sep) and os.path.isfile(target):
            with open(target, "rb") as f:
                data = f.read()
            self.answer(200, "OK", [("Content-Length", len(data))], data)
            return
        page = (b"<html><head><title>404 Not Found</title></head><body>"
                b"<h1>Not Found</h1><p>The requested URL was not found on this server.</p>"
                b"</body></html>\n")
        self.answer(404, "Not Found", [("Content-Type", "text/html"),
                                       ("Content-Length", len(page))], page)


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, root, context):
        super().__init__(("127.0.0.1", 0), Handler)
        self.root = root
        self.context = context
        self.lock = threading.Lock()
        self.log = []

    def finish_request(self, request, client_address):
        # The TLS handshake runs in the connection's own thread, so a client
        # that refuses our certificate cannot hold up the others.
        if self.context is not None:
            try:
                request = self.context.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError):
                return
        super().finish_request(request, client_address)

    def handle_error(self, request, client_address):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default="")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    args = parser.parse_args()

    context = None
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
    server = Server(args.root, context)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print(server.server_address[1], flush=True)
    # Standard input is the test's end of a pipe: EOF means the test is gone.
    sys.stdin.buffer.read()
    os._exit(0)


if __name__ == "__main__":
    socketserver.TCPServer.allow_reuse_address = True
    main()
