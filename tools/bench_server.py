#!/usr/bin/env python3
"""A fast HTTP server on 127.0.0.1 for the benchmarks: bodies come from memory in large writes (one gathered
send per megabyte), so that the client under test, not the server, sets the pace.

  GET /length/N   N bytes framed by Content-Length
  GET /chunked/N  N bytes in chunks of 1 MiB
  GET /close/N    N bytes ended by closing the connection
  GET /file       the file given with --file, framed by Content-Length, sent from the disk; a "Range: bytes=N-"
                  whose "If-Range" names the file's ETag is answered with a 206 from byte N
  GET /file-broken  the same, but the first request for it is cut off after half of what it asked for

Every response closes its connection. With --log, the monotonic time (seconds, the clock of Python's
time.monotonic) at which each request line arrived is appended to that file as "<time> <path>", so that a
run can be timed from its request on.

Usage: bench_server.py [--file PATH] [--log PATH] [--port-file PATH]
Prints the port it listens on (and writes it to --port-file), then serves until killed.
"""
import argparse
import os
import socket
import socketserver
import sys
import time

PIECE = 1 << 20
# Bodies repeat one random mebibyte: incompressible at the TCP level, cheap to hold.
PATTERN = os.urandom(PIECE)
ETAG = '"bench-file"'


def pattern_slices(size):
    """Memory views over the pattern that together make size bytes."""
    view = memoryview(PATTERN)
    while size > 0:
        n = min(size, PIECE)
        yield view[:n]
        size -= n


class Handler(socketserver.BaseRequestHandler):
    def read_request(self):
        data = b""
        while b"\r\n\r\n" not in data:
            piece = self.request.recv(65536)
            if not piece:
                return None
            data += piece
        lines = data.split(b"\r\n\r\n", 1)[0].decode("latin-1").split("\r\n")
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        return lines[0], headers

    def send_file(self, head, headers, break_once):
        sock = self.request
        size = os.path.getsize(self.server.file_path)
        start = 0
        wanted = headers.get("range", "")
        if wanted.startswith("bytes=") and wanted.endswith("-") and headers.get("if-range") == ETAG:
            start = int(wanted[6:-1])
            head = head.replace("200 OK", "206 Partial Content") + f"Content-Range: bytes {start}-{size - 1}/{size}\r\n"
        sock.sendall((head + f"ETag: {ETAG}\r\nContent-Length: {size - start}\r\n\r\n").encode())
        count = size - start
        if break_once and not self.server.broken:
            self.server.broken = True
            count //= 2
        with open(self.server.file_path, "rb") as f:
            sock.sendfile(f, start, count)

    def handle(self):
        sock = self.request
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4 << 20)
        request = self.read_request()
        if request is None:
            return
        request_line, headers = request
        parts = request_line.split(" ")
        path = parts[1] if len(parts) > 1 else "/"
        if self.server.log_path:
            with open(self.server.log_path, "a") as log:
                log.write(f"{time.monotonic():.6f} {path}\n")
        framing, _, size_text = path.strip("/").partition("/")
        head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n"
        if framing in ("file", "file-broken") and self.server.file_path is not None:
            self.send_file(head, headers, framing == "file-broken")
            return
        try:
            size = int(size_text)
        except ValueError:
            sock.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            return
        if framing == "length":
            sock.sendall((head + f"Content-Length: {size}\r\n\r\n").encode())
            for piece in pattern_slices(size):
                sock.sendall(piece)
        elif framing == "chunked":
            sock.sendall((head + "Transfer-Encoding: chunked\r\n\r\n").encode())
            for piece in pattern_slices(size):
                parts = [f"{len(piece):x}\r\n".encode(), piece, b"\r\n"]
                sent = sock.sendmsg(parts)
                if sent < sum(len(part) for part in parts):
                    # A blocking send is cut short only by a signal: finish the chunk the slow way.
                    sock.sendall(b"".join(bytes(part) for part in parts)[sent:])
            sock.sendall(b"0\r\n\r\n")
        elif framing == "close":
            sock.sendall((head + "\r\n").encode())
            for piece in pattern_slices(size):
                sock.sendall(piece)
        else:
            sock.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--file")
    parser.add_argument("--log")
    parser.add_argument("--port-file")
    args = parser.parse_args()
    with Server(("127.0.0.1", 0), Handler) as server:
        server.file_path = args.file
        server.broken = False
        server.log_path = args.log
        port = server.server_address[1]
        print(port, flush=True)
        if args.port_file:
            with open(args.port_file, "w") as f:
                f.write(str(port))
        server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
