#!/usr/bin/env python3
"""A local HTTPS update host for tests.

  update_server.py make-certs DIR   test CA (ca.pem) and a server certificate for localhost and
                                    127.0.0.1 (server.pem, server.key), made with openssl
  update_server.py serve DIR        serves on 127.0.0.1 at a free port, written to DIR/port

Each request is answered from DIR/routes.json, re-read every time, which maps a path to
{"status": N, "file": NAME, "repeat": BYTES, "location": URL}: the body is the file in DIR,
or BYTES bytes of filler, or nothing. Every request is appended to DIR/requests.log as
"<path> <user agent>".
"""
import http.server
import json
import os
import ssl
import subprocess
import sys

CHUNK = 65536


def make_certs(folder):
    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=folder, check=True, capture_output=True)

    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    openssl("req", "-x509", *ec, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
            "-subj", "/CN=Kestrix Test CA",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("req", *ec, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=localhost")
    with open(os.path.join(folder, "server.ext"), "w") as ext:
        ext.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n"
                  "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "server.ext")


class Handler(http.server.BaseHTTPRequestHandler):
    folder = "."

    def log_message(self, *args):
        pass

    def do_GET(self):
        with open(os.path.join(self.folder, "requests.log"), "a") as log:
            log.write(f"{self.path} {self.headers.get('User-Agent', '')}\n")
        try:
            with open(os.path.join(self.folder, "routes.json")) as routes:
                route = json.load(routes).get(self.path)
        except (OSError, ValueError):
            route = None
        if route is None:
            route = {"status": 404}
        try:
            self.answer(route)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            pass  # the client stopped reading, as it may

    def answer(self, route):
        body = b""
        if "file" in route:
            with open(os.path.join(self.folder, route["file"]), "rb") as f:
                body = f.read()
        size = route.get("repeat", len(body))
        self.send_response(route.get("status", 200))
        if "location" in route:
            self.send_header("Location", route["location"])
        if route.get("status", 200) != 304:
            self.send_header("Content-Length", str(size))
        self.end_headers()
        if "repeat" in route:
            filler = b"k" * CHUNK
            sent = 0
            while sent < size:
                part = filler[: min(CHUNK, size - sent)]
                self.wfile.write(part)
                sent += len(part)
        else:
            self.wfile.write(body)


def serve(folder):
    Handler.folder = folder
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(folder, "server.pem"), os.path.join(folder, "server.key"))
    server.socket = context.wrap_socket(server.socket, server_side=True)
    port_file = os.path.join(folder, "port")
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(port_file + ".tmp", port_file)
    server.serve_forever()


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("make-certs", "serve"):
        sys.exit(__doc__)
    (make_certs if sys.argv[1] == "make-certs" else serve)(sys.argv[2])
