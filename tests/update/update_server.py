#!/usr/bin/env python3
"""A small update server for the tests, bound to 127.0.0.1 only.

Usage: update_server.py ROOT [CERT KEY]

With CERT and KEY (PEM files) it speaks HTTPS.

Serves the files under ROOT/files by their path (runs of slashes count as
one, as on the real server). Every request's path is appended to
ROOT/requests.log before it is answered. ROOT/rules.json, read anew on every
request, maps a path to how it is answered:
  {"status": 500}          that status and a small error page
  {"delay": 3}             wait before answering
  {"no_length": true}      no Content-Length; the connection closes at the end
  {"extra": 100}           100 bytes more than the Content-Length says
  {"short_length": 10}     a Content-Length 10 bytes short of the file, and
                           the whole file
  {"close_after": 10}      the Content-Length of the whole file, but only 10
                           bytes, then the connection closes
  {"trickle": 0.2}         no Content-Length, one byte every 0.2 s without end
  {"flood": true}          no Content-Length, bytes without end, fast
  {"length": N}            claims a Content-Length of N and sends bytes until
                           the client goes
The port is printed on the first line of standard output.
"""

import http.server
import json
import os
import socketserver
import ssl
import sys
import time

ROOT = os.path.abspath(sys.argv[1])
FILES = os.path.join(ROOT, "files")
# Nothing a test does should take longer; an endless answer stops here.
ENDLESS_LIMIT = 30.0


def rules():
    try:
        with open(os.path.join(ROOT, "rules.json"), encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return {}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def endless(self, piece, interval):
        self.send_response(200)
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        until = time.monotonic() + ENDLESS_LIMIT
        try:
            while time.monotonic() < until:
                self.wfile.write(piece)
                self.wfile.flush()
                if interval:
                    time.sleep(interval)
        except OSError:
            pass

    def do_GET(self):
        path = "/" + "/".join(p for p in self.path.split("?")[0].split("/") if p)
        with open(os.path.join(ROOT, "requests.log"), "a", encoding="utf-8") as log:
            log.write(path + "\n")
        rule = rules().get(path, {})
        if rule.get("delay"):
            time.sleep(rule["delay"])
        status = rule.get("status", 200)
        if status != 200:
            body = ("<html><body>Error %d</body></html>\n" % status).encode()
            self.send_response(status)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        if rule.get("trickle"):
            return self.endless(b"V", rule["trickle"])
        if rule.get("flood"):
            return self.endless(b"\0" * 65536, 0)
        if rule.get("length"):
            self.send_response(200)
            self.send_header("Content-Length", str(rule["length"]))
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            return self.endless_body()
        local = os.path.normpath(os.path.join(FILES, path.lstrip("/")))
        if not local.startswith(FILES + os.sep) or not os.path.isfile(local):
            body = b"<html><body>Not found</body></html>\n"
            self.send_response(404)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        with open(local, "rb") as f:
            data = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if rule.get("no_length"):
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(max(0, len(data) - rule.get("short_length", 0))))
        if rule.get("extra") or rule.get("short_length") or rule.get("close_after") is not None:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        try:
            if rule.get("close_after") is not None:
                self.wfile.write(data[: rule["close_after"]])
                self.wfile.flush()
                return
            self.wfile.write(data + b"E" * rule.get("extra", 0))
        except OSError:
            pass

    def endless_body(self):
        until = time.monotonic() + ENDLESS_LIMIT
        try:
            while time.monotonic() < until:
                self.wfile.write(b"\0" * 65536)
        except OSError:
            pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    os.makedirs(FILES, exist_ok=True)
    server = Server(("127.0.0.1", 0), Handler)
    if len(sys.argv) > 3:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[2], sys.argv[3])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
