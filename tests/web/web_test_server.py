#!/usr/bin/env python3
"""A small HTTP(S) server for the web getter's tests, on 127.0.0.1.

Prints "PORT <n>" once it listens.  Stops by itself after --lifetime seconds
or as soon as its standard input closes (the test program ended).

The first path segment chooses the behaviour; the rest of the path and the
query are ignored unless said otherwise:
  /v/<name>/...     200 with the file <root>/<name>.txt
  /status404/...    404 with an HTML error page
  /redirect/<rest>  302 to /<rest> (query kept)
  /silent/...       accepts the request and never answers
  /big/...          10 MB with a stated Content-Length
  /bignolength/...  10 MB without a Content-Length, then closes
  /nolength/...     "no length here" without a Content-Length
  /empty/...        200 with Content-Length: 0
  /trickle/...      states 1 MB, sends 1025 bytes every 20 ms
  /auth/...         401 (Basic) until Authorization is sent, then as /echo
  /echo/...         the request as received: request line, headers, a blank
                    line, then the body byte for byte
A request line with an absolute address (a proxy request) is answered as its
path would be.
"""
import argparse
import os
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import urlsplit

ROOT = "."


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, fmt, *args):
        pass

    def send_body(self, code, body, ctype="text/plain", length=True):
        self.send_response(code)
        self.send_header("Content-Type", ctype)
        if length:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def route(self):
        path = self.path
        if "://" in path:
            path = urlsplit(path).path or "/"
        parts = path.split("?", 1)[0].lstrip("/").split("/")
        return parts[0], parts[1:]

    def echo(self):
        length = int(self.headers.get("Content-Length", "0") or "0")
        body = self.rfile.read(length) if length else b""
        lines = [self.requestline] + ["%s: %s" % kv for kv in self.headers.items()]
        head = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
        self.send_body(200, head + body)

    def handle_any(self):
        first, rest = self.route()
        if first == "v" and rest:
            name = os.path.basename(rest[0])
            try:
                with open(os.path.join(ROOT, name + ".txt"), "rb") as f:
                    self.send_body(200, f.read())
            except OSError:
                self.send_body(404, b"<html><body>Not found</body></html>", "text/html")
        elif first == "status404":
            self.send_body(404, b"<html><body><h1>404 Not Found</h1></body></html>", "text/html")
        elif first == "redirect":
            target = "/" + "/".join(rest)
            if "?" in self.path:
                target += "?" + self.path.split("?", 1)[1]
            self.send_response(302)
            self.send_header("Location", target)
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif first == "silent":
            time.sleep(3600)
        elif first == "big":
            self.send_response(200)
            self.send_header("Content-Length", str(10 * 1024 * 1024))
            self.end_headers()
            self.stream(10 * 1024 * 1024, 0)
        elif first == "bignolength":
            self.send_response(200)
            self.end_headers()
            self.stream(10 * 1024 * 1024, 0)
        elif first == "nolength":
            self.send_body(200, b"no length here", length=False)
        elif first == "empty":
            self.send_body(200, b"")
        elif first == "trickle":
            self.send_response(200)
            self.send_header("Content-Length", str(1024 * 1024))
            self.end_headers()
            self.stream(1024 * 1024, 0.02, 1025)
        elif first == "auth" and "Authorization" not in self.headers:
            self.send_response(401)
            self.send_header("WWW-Authenticate", 'Basic realm="tests"')
            self.send_header("Content-Length", "0")
            self.end_headers()
        else:
            self.echo()

    def stream(self, total, pause, chunk=65536):
        sent = 0
        try:
            while sent < total:
                n = min(chunk, total - sent)
                self.wfile.write(b"x" * n)
                self.wfile.flush()
                sent += n
                if pause:
                    time.sleep(pause)
        except OSError:
            pass

    do_GET = handle_any
    do_POST = handle_any


def main():
    global ROOT
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default=".")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--lifetime", type=float, default=300)
    args = parser.parse_args()
    ROOT = args.root

    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)

    def stop_when_parent_goes():
        try:
            sys.stdin.read()
        finally:
            os._exit(0)

    threading.Thread(target=stop_when_parent_goes, daemon=True).start()
    threading.Timer(args.lifetime, lambda: os._exit(0)).start()
    print("PORT", server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
