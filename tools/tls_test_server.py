#!/usr/bin/env python3
"""HTTPS test servers on 127.0.0.1 with a test certificate authority made at start with the openssl command
line tool. One server per certificate case, each on its own port:

  good       certificate for localhost and 127.0.0.1, issued by the test CA
  expired    the same names and issuer, valid only in 2020
  wronghost  issued by the test CA for other.invalid only
  untrusted  for localhost, issued by a second CA that nobody trusts
  plain      plain HTTP (no TLS at all)

Every server answers:
  /file          a Content-Length body of --size bytes of the pattern (i * 7) % 251
  /slow          the same body at about 64 KiB/s (for cancel tests)
  /cookie        sets a secure cookie s=1 and a plain cookie p=2
  /echo-cookie   a body holding the request's Cookie header
  /<name>        a file added with files= (the end-to-end tests serve update archives and signatures)

Usage: tls_test_server.py [--size N] --run COMMAND...
  Starts the servers, runs COMMAND with UPDATER_TLS_TEST_CONFIG naming a file of key=value lines (ca=<PEM
  of the test CA>, good=<port>, expired=..., wronghost=..., untrusted=..., plain=..., size=<N>), stops the
  servers and exits with the command's status. A COMMAND that names a .exe gets Windows paths (Wine).
"""
import argparse
import atexit
import http.server
import os
import shutil
import socket
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time

CA_CONFIG = """[ca]
default_ca = test
[test]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
"""

LEAF_EXTENSIONS = """basicConstraints = CA:FALSE
keyUsage = digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = %s
"""


def pattern(size):
    return bytes((i * 7) % 251 for i in range(size))


def openssl(directory, *args):
    subprocess.run(["openssl"] + list(args), cwd=directory, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def make_ca(directory, name, subject):
    # The authorities sign with RSA: Wine's certificate chain check refuses a valid ECDSA signature whose
    # integers come out a byte shorter than the curve (about one certificate in a hundred), which made the
    # Windows tests fail at random. Real Windows accepts both; the leaves keep their EC keys.
    openssl(directory, "req", "-x509", "-newkey", "rsa:2048", "-nodes",
            "-keyout", name + ".key", "-out", name + ".pem", "-days", "3650", "-subj", "/CN=" + subject,
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    with open(os.path.join(directory, name + ".cnf"), "w") as f:
        f.write(CA_CONFIG.replace("index.txt", name + ".index").replace("= serial", "= %s.serial" % name))
    open(os.path.join(directory, name + ".index"), "w").close()
    with open(os.path.join(directory, name + ".serial"), "w") as f:
        f.write("%02X\n" % (len(os.listdir(directory)) + 16))


def make_leaf(directory, ca, name, names, start="", end=""):
    openssl(directory, "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + names[0].split(":", 1)[1])
    with open(os.path.join(directory, name + ".ext"), "w") as f:
        f.write(LEAF_EXTENSIONS % ",".join(names))
    dates = ["-startdate", start, "-enddate", end] if start else ["-days", "365"]
    openssl(directory, "ca", "-batch", "-notext", "-config", ca + ".cnf", "-cert", ca + ".pem", "-keyfile",
            ca + ".key", "-in", name + ".csr", "-out", name + ".pem", "-extfile", name + ".ext", *dates)


def make_certificates(directory):
    make_ca(directory, "ca", "Updater Test CA")
    make_ca(directory, "otherca", "Untrusted Test CA")
    local = ["DNS:localhost", "IP:127.0.0.1"]
    make_leaf(directory, "ca", "good", local)
    make_leaf(directory, "ca", "expired", local, "20200101000000Z", "20201231000000Z")
    make_leaf(directory, "ca", "wronghost", ["DNS:other.invalid"])
    make_leaf(directory, "otherca", "untrusted", local)


# Where the certificates made for this run lie: made by this process, or by the one that started it.
SHARED_CERTIFICATES = "UPDATER_TEST_CERTIFICATES"


def share_certificates():
    """Makes the certificates once (the keys take a second or more) for this process and the ones it starts
    from now on, which find them through SHARED_CERTIFICATES; they are removed when this process ends. A test
    script whose cases run as processes of their own calls it before starting them."""
    if not os.environ.get(SHARED_CERTIFICATES):
        made = tempfile.mkdtemp(prefix="updater-tls-made-")
        atexit.register(shutil.rmtree, made, True)
        make_certificates(made)
        os.environ[SHARED_CERTIFICATES] = made


def copy_of_certificates(directory):
    share_certificates()
    shutil.copytree(os.environ[SHARED_CERTIFICATES], directory, dirs_exist_ok=True)


class Servers:
    """The five servers, for the length of a with-block. files maps a path ("/update.zip") to bytes."""

    CASES = ("good", "expired", "wronghost", "untrusted", "plain")

    def __init__(self, size=300000, files=None):
        self.size = size
        self.body = pattern(size)
        self.files = dict(files or {})
        self.ports = {}
        self.directory = None
        self._servers = []

    def __enter__(self):
        self.directory = tempfile.mkdtemp(prefix="updater-tls-")
        copy_of_certificates(self.directory)
        for case in self.CASES:
            context = None
            if case != "plain":
                context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
                context.minimum_version = ssl.TLSVersion.TLSv1_2
                context.load_cert_chain(os.path.join(self.directory, case + ".pem"),
                                        os.path.join(self.directory, case + ".key"))
            server = _make_server(self, context)
            self.ports[case] = server.server_address[1]
            # A short poll: each server's shutdown waits for its loop's next look, which is half a second by
            # default, and the five are stopped one after another.
            threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True).start()
            self._servers.append(server)
        return self

    @property
    def ca_file(self):
        return os.path.join(self.directory, "ca.pem")

    def __exit__(self, *exc):
        for server in self._servers:
            server.shutdown()
            server.server_close()
        shutil.rmtree(self.directory, ignore_errors=True)


def _make_server(owner, context):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, format, *values):
            pass

        def answer(self, body, headers=()):
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            for name, value in headers:
                self.send_header(name, value)
            self.end_headers()
            return body

        def do_GET(self):
            path = self.path.split("?", 1)[0]
            if path in owner.files:
                self.wfile.write(self.answer(owner.files[path], [("Content-Type", "application/zip")]))
            elif path == "/file":
                self.wfile.write(self.answer(owner.body))
            elif path == "/slow":
                self.answer(owner.body)
                for start in range(0, len(owner.body), 4096):
                    self.wfile.write(owner.body[start:start + 4096])
                    self.wfile.flush()
                    time.sleep(0.0625)
            elif path == "/cookie":
                self.wfile.write(self.answer(b"set", [("Set-Cookie", "s=1; Secure; path=/"), ("Set-Cookie", "p=2; path=/")]))
            elif path == "/echo-cookie":
                self.wfile.write(self.answer((self.headers.get("Cookie") or "").encode()))
            else:
                self.send_error(404)

    class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
        daemon_threads = True

        def finish_request(self, request, client_address):
            # The handshake runs on the connection's own thread, so a client that stalls or rejects the
            # certificate never blocks the accept loop.
            if context is not None:
                try:
                    request = context.wrap_socket(request, server_side=True)
                except (ssl.SSLError, OSError):
                    return
            elif request.recv(1, socket.MSG_PEEK) == b"\x16":
                # A TLS client on the plain port: answer as web servers do, instead of waiting for a line end.
                request.sendall(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                return
            super().finish_request(request, client_address)

        def handle_error(self, request, client_address):
            pass

    return Server(("127.0.0.1", 0), Handler)


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size", type=int, default=300000)
    parser.add_argument("--run", nargs=argparse.REMAINDER, required=True)
    args = parser.parse_args()
    with Servers(args.size) as servers:
        windows = any(part.lower().endswith(".exe") for part in args.run)
        config = os.path.join(servers.directory, "config.txt")
        with open(config, "w") as f:
            f.write("ca=%s\n" % (windows_path(servers.ca_file) if windows else servers.ca_file))
            for case, port in servers.ports.items():
                f.write("%s=%d\n" % (case, port))
            f.write("size=%d\n" % servers.size)
        environment = dict(os.environ, UPDATER_TLS_TEST_CONFIG=windows_path(config) if windows else config)
        return subprocess.call(args.run, env=environment)


if __name__ == "__main__":
    sys.exit(main())
