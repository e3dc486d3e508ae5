#!/usr/bin/env python3
"""Proxies on 127.0.0.1 for the end-to-end tests, started and stopped by a with-block (Proxies):

  http            tinyproxy: an HTTP proxy with CONNECT, open to everyone
  http-auth       tinyproxy with Basic authentication (USER, PASSWORD)
  socks           microsocks: a SOCKS 5 server, open to everyone
  socks-auth      microsocks with user name and password (USER, PASSWORD)
  connect-403     a scripted proxy that answers every request with 403 Forbidden
  socks-garbage   a scripted server that answers a SOCKS greeting with an HTTP error page
  refused         a port nobody listens on

Every proxy but the last is reached through a relay that records the first bytes of each connection, so a
test can tell that the program went through it, and how it spoke to it.
"""
import os
import shutil
import socket
import subprocess
import tempfile
import threading
import time

import child_process

USER = "user"
PASSWORD = "secret"


def unused_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, process, what):
    deadline = time.time() + 10
    while time.time() < deadline:
        if process is not None and process.poll() is not None:
            raise RuntimeError("%s ended at start (exit code %d)" % (what, process.returncode))
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("%s did not start listening" % what)


class Listener:
    """A thread accepting connections on 127.0.0.1 and handing each to handle(socket) on its own thread."""

    def __init__(self, handle):
        self.socket = socket.socket()
        self.socket.bind(("127.0.0.1", 0))
        self.socket.listen(16)
        self.port = self.socket.getsockname()[1]
        self._handle = handle
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                connection, _ = self.socket.accept()
            except OSError:
                return
            threading.Thread(target=self._run, args=(connection,), daemon=True).start()

    def _run(self, connection):
        try:
            self._handle(connection)
        except OSError:
            pass
        finally:
            connection.close()

    def close(self):
        self.socket.close()


class Relay(Listener):
    """Passes each connection on to the target port; first holds the first bytes of every connection."""

    def __init__(self, target_port):
        self.target_port = target_port
        self.first = []
        super().__init__(self._relay)

    def _relay(self, client):
        upstream = socket.create_connection(("127.0.0.1", self.target_port))
        try:
            data = client.recv(65536)
            self.first.append(data)
            upstream.sendall(data)
            back = threading.Thread(target=self._pump, args=(upstream, client), daemon=True)
            back.start()
            self._pump(client, upstream)
            back.join()
        finally:
            upstream.close()

    @staticmethod
    def _pump(source, target):
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                target.sendall(data)
        except OSError:
            pass
        try:
            target.shutdown(socket.SHUT_WR)
        except OSError:
            pass


class Scripted(Listener):
    """Reads what the client sends first, answers with fixed bytes and closes."""

    def __init__(self, answer):
        self.answer = answer
        super().__init__(self._answer)

    def _answer(self, connection):
        connection.recv(65536)
        connection.sendall(self.answer)


class Proxies:
    NAMES = ("http", "http-auth", "socks", "socks-auth", "connect-403", "socks-garbage", "refused")

    def __init__(self):
        self.ports = {}
        self.relays = {}
        self._processes = []
        self._listeners = []
        self.directory = None

    def __enter__(self):
        self.directory = tempfile.mkdtemp(prefix="updater-proxies-")
        try:
            targets = {
                "http": self._tinyproxy(False),
                "http-auth": self._tinyproxy(True),
                "socks": self._microsocks(False),
                "socks-auth": self._microsocks(True),
                "connect-403": self._scripted(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n"),
                "socks-garbage": self._scripted(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"),
            }
            for name, port in targets.items():
                relay = Relay(port)
                self._listeners.append(relay)
                self.relays[name] = relay
                self.ports[name] = relay.port
            self.ports["refused"] = unused_port()
        except BaseException:
            self.__exit__()
            raise
        return self

    def _start(self, argv, port, what):
        process = child_process.start(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
        self._processes.append(process)
        wait_for_port(port, process, what)
        return port

    def _tinyproxy(self, auth):
        port = unused_port()
        conf = os.path.join(self.directory, "tinyproxy-%d.conf" % port)
        with open(conf, "w") as f:
            f.write("Port %d\nListen 127.0.0.1\nTimeout 60\nMaxClients 50\n" % port)
            f.write('LogFile "%s"\nLogLevel Info\n' % os.path.join(self.directory, "tinyproxy-%d.log" % port))
            if auth:
                f.write("BasicAuth %s %s\n" % (USER, PASSWORD))
        return self._start(["tinyproxy", "-d", "-c", conf], port, "tinyproxy")

    def _microsocks(self, auth):
        port = unused_port()
        argv = ["microsocks", "-i", "127.0.0.1", "-p", str(port)]
        if auth:
            argv += ["-u", USER, "-P", PASSWORD]
        return self._start(argv, port, "microsocks")

    def _scripted(self, answer):
        listener = Scripted(answer)
        self._listeners.append(listener)
        return listener.port

    def __exit__(self, *exc):
        for listener in self._listeners:
            listener.close()
        for process in self._processes:
            child_process.stop(process)
        if self.directory:
            shutil.rmtree(self.directory, ignore_errors=True)


if __name__ == "__main__":
    with Proxies() as proxies:
        print(proxies.ports)
