#!/usr/bin/env python3
"""The update server's stand-in: HTTPS on localhost only, a release manifest and its files,
signed with a build's throw-away test key, and told to misbehave by a word in a file.

  update_server.py --dir DIR --key KEY.pem --certs CERTS [--port 8443] [--untrusted-port 8444]

DIR/release.json (written by the test) lists the release:
  {"version": "3.3.0", "entries": [{"role": "module", "file": "wing-3.3.0.dll", "version": "3.3.0",
   "console": "wing", "abi": 3, "source": "/path/to/bytes"}, {"role": "loader", ...},
   {"role": "app", "edition": "standard", ...}]}
DIR/mode holds one word (and an argument) read at every request:
  good, bad-sig, body-changed, sha-mismatch, short, long, size N, endless, http-error N, older,
  mixed, stall.
Every request line is appended to DIR/requests.log; DIR/ready appears once both ports listen.
CERTS holds server.pem/server.key (signed by the CA the test trusts) and untrusted.pem/untrusted.key
(signed by a CA nobody trusts), served on the second port.
"""
import argparse
import base64
import hashlib
import http.server
import json
import os
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time

LIMIT_ENDLESS = 8 << 20   # an endless body still ends: after this much, or 20 s
STALL_SECONDS = 2


def sign(key, data):
    with tempfile.TemporaryDirectory() as t:
        src, sig = os.path.join(t, "in"), os.path.join(t, "sig")
        with open(src, "wb") as f:
            f.write(data)
        subprocess.run(["openssl", "pkeyutl", "-sign", "-rawin", "-inkey", key, "-in", src, "-out", sig],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(sig, "rb") as f:
            out = f.read()
    if len(out) != 64:
        raise SystemExit("update_server: not an Ed25519 key: " + key)
    return out


def other_key():
    t = tempfile.mkdtemp()
    path = os.path.join(t, "other.pem")
    subprocess.run(["openssl", "genpkey", "-algorithm", "ed25519", "-out", path], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


class Release:
    def __init__(self, args):
        self.args = args
        self._other = None

    def mode(self):
        try:
            with open(os.path.join(self.args.dir, "mode")) as f:
                words = f.read().split()
        except OSError:
            words = []
        return (words[0] if words else "good"), words[1:]

    def spec(self):
        with open(os.path.join(self.args.dir, "release.json")) as f:
            return json.load(f)

    def original(self, entry):
        with open(entry["source"], "rb") as f:
            return f.read()

    def served(self, index, entry, mode, spec):
        data = self.original(entry)
        if mode == "sha-mismatch" and data:
            data = data[:-1] + bytes([data[-1] ^ 1])
        elif mode == "short":
            data = data[:-1]
        elif mode == "long":
            data = data + b"\0"
        elif mode == "mixed" and index > 0:
            # The other entries' bytes come from the first entry, as from another release.
            data = self.original(spec["entries"][0])
        return data

    def manifest(self, mode, host):
        spec = self.spec()
        version = spec["version"]
        entries = spec["entries"]
        if mode == "older":
            version = "3.1.0"
        body = {"product": "kestrune", "platform": "windows-x64", "version": version, "modules": []}
        for i, e in enumerate(entries):
            data = self.original(e)
            v = "3.1.0" if mode == "older" else e["version"]
            name = e["file"]
            if e["role"] == "module" and mode == "older":
                name = "%s-%s.dll" % (e["console"], v)
            item = {"file": name, "version": v, "url": "https://%s/f/%d/%s" % (host, i, name),
                    "sha256": hashlib.sha256(data).hexdigest(), "size": len(data),
                    "sig": base64.b64encode(sign(self.args.key, data)).decode()}
            for k in ("console", "edition", "abi"):
                if k in e:
                    item[k] = e[k]
            if e["role"] == "module":
                body["modules"].append(item)
            else:
                body[e["role"]] = item
        text = json.dumps(body).encode()
        key = self.args.key
        if mode == "bad-sig":
            if not self._other:
                self._other = other_key()
            key = self._other
        sig = sign(key, text)
        if mode == "body-changed":
            text = text.replace(b'"kestrune"', b'"kestrune" ', 1)
        reply = {"manifest": {"format": "kestrune-release/1",
                              "platforms": {"windows-x64": {"body": base64.b64encode(text).decode(),
                                                            "sig": base64.b64encode(sig).decode()}}}}
        return json.dumps(reply).encode()


def handler_for(release, args):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, fmt, *a):
            pass

        def send_bytes(self, data, status=200):
            self.send_response(status)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def do_GET(self):
            with open(os.path.join(args.dir, "requests.log"), "a") as f:
                f.write("%d %s\n" % (self.server.server_address[1], self.path))
            mode, margs = release.mode()
            host = self.headers.get("Host", "localhost:%d" % args.port)
            if mode == "stall":
                time.sleep(STALL_SECONDS)
                self.close_connection = True
                return
            if mode == "http-error":
                self.send_bytes(b"no", int(margs[0]) if margs else 500)
                return
            if self.path == "/v1/updates?product=kestrune":
                if mode == "endless":
                    self.send_response(200)
                    self.send_header("Content-Type", "application/json")
                    self.end_headers()
                    self.close_connection = True
                    sent, start = 0, time.time()
                    chunk = b" " * 65536
                    try:
                        while sent < LIMIT_ENDLESS and time.time() - start < 20:
                            self.wfile.write(chunk)
                            sent += len(chunk)
                    except OSError:
                        pass
                    return
                data = release.manifest(mode, host)
                if mode == "size":
                    n = int(margs[0])
                    data = data + b" " * max(0, n - len(data))
                with open(os.path.join(args.dir, "last-manifest"), "wb") as f:
                    f.write(data)
                self.send_bytes(data)
                return
            parts = self.path.split("/")
            if len(parts) == 4 and parts[1] == "f" and parts[2].isdigit():
                spec = release.spec()
                i = int(parts[2])
                if i < len(spec["entries"]):
                    self.send_bytes(release.served(i, spec["entries"][i], mode, spec))
                    return
            self.send_bytes(b"not here", 404)

    return Handler


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def serve(port, cert, key, handler):
    # Loopback only: nothing this stand-in says can leave the machine.
    httpd = Server(("127.0.0.1", port), handler)
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(cert, key)
    httpd.socket = ctx.wrap_socket(httpd.socket, server_side=True)
    threading.Thread(target=httpd.serve_forever, daemon=True).start()
    return httpd


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--dir", required=True)
    p.add_argument("--key", required=True)
    p.add_argument("--certs", required=True)
    p.add_argument("--port", type=int, default=8443)
    p.add_argument("--untrusted-port", type=int, default=8444)
    p.add_argument("--seconds", type=int, default=900, help="ends by itself after this long")
    args = p.parse_args()
    release = Release(args)
    handler = handler_for(release, args)
    serve(args.port, os.path.join(args.certs, "server.pem"), os.path.join(args.certs, "server.key"), handler)
    serve(args.untrusted_port, os.path.join(args.certs, "untrusted.pem"), os.path.join(args.certs, "untrusted.key"),
          handler)
    with open(os.path.join(args.dir, "ready"), "w") as f:
        f.write(str(os.getpid()))
    time.sleep(args.seconds)
    return 0


if __name__ == "__main__":
    sys.exit(main())
