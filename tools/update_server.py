#!/usr/bin/env python3
"""A small HTTP server on 127.0.0.1 that serves one file, for the demo, the end-to-end tests and the
screenshot tests. It can frame the body by Content-Length, by chunks or by closing the connection, send it
slowly, stall, or fail, so that every path of the updater can be driven from a script.

Usage: update_server.py FILE [--framing length|chunked|close] [--rate BYTES_PER_SECOND] [--status CODE]
                              [--truncate N] [--stall] [--break-in status|headers|chunk] [--port-file PATH]
Prints the port it listens on (and writes it to --port-file), then serves until killed.
"""
import argparse
import http.server
import socketserver
import sys
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("file")
    parser.add_argument("--framing", choices=["length", "chunked", "close"], default="length")
    parser.add_argument("--rate", type=int, default=0, help="bytes per second; 0 sends at full speed")
    parser.add_argument("--status", type=int, default=200)
    parser.add_argument("--location", help="a Location header sent with a --status other than 200")
    parser.add_argument("--truncate", type=int, default=-1,
                        help="announce the whole length but send only this many bytes, then close")
    parser.add_argument("--stall", action="store_true", help="send the headers, then nothing, forever")
    parser.add_argument("--break-in", choices=["status", "headers", "chunk"],
                        help="close the connection in the middle of the status line, the headers or a chunk")
    parser.add_argument("--port-file")
    args = parser.parse_args()

    with open(args.file, "rb") as f:
        body = f.read()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, format, *values):
            pass

        def send_slowly(self, data):
            if args.rate <= 0:
                self.wfile.write(data)
                return
            piece = max(1, args.rate // 20)
            for start in range(0, len(data), piece):
                self.wfile.write(data[start:start + piece])
                self.wfile.flush()
                time.sleep(piece / args.rate)

        def break_off(self, data):
            self.wfile.write(data)
            self.wfile.flush()
            self.close_connection = True

        def do_GET(self):
            if args.break_in == "status":
                return self.break_off(b"HTTP/1.1 2")
            if args.break_in == "headers":
                return self.break_off(b"HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nContent-Le")
            if args.break_in == "chunk":
                return self.break_off(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n%x\r\n" % len(body)
                                      + body[:len(body) // 2])
            if args.status != 200:
                page = b"<html>error</html>"
                self.send_response(args.status)
                if args.location:
                    self.send_header("Location", args.location)
                self.send_header("Content-Length", str(len(page)))
                self.end_headers()
                self.wfile.write(page)
                return
            self.send_response(200)
            self.send_header("Content-Type", "application/zip")
            if args.framing == "length":
                self.send_header("Content-Length", str(len(body)))
            elif args.framing == "chunked":
                self.send_header("Transfer-Encoding", "chunked")
            else:
                self.send_header("Connection", "close")
                self.close_connection = True
            self.end_headers()
            if args.stall:
                while True:
                    time.sleep(1)
            data = body if args.truncate < 0 else body[:args.truncate]
            if args.framing == "chunked":
                piece = 65536
                for start in range(0, len(data), piece):
                    chunk = data[start:start + piece]
                    self.wfile.write(b"%x\r\n" % len(chunk))
                    self.send_slowly(chunk)
                    self.wfile.write(b"\r\n")
                if args.truncate < 0:
                    self.wfile.write(b"0\r\n\r\n")
            else:
                self.send_slowly(data)
            if args.truncate >= 0:
                self.close_connection = True

    class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
        daemon_threads = True

    server = Server(("127.0.0.1", 0), Handler)
    port = server.server_address[1]
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as f:
            f.write(str(port))
        import os
        os.replace(args.port_file + ".tmp", args.port_file)
    print(port, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
