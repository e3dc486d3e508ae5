"""What the end-to-end scripts share: the texts the program shows, the environment it runs in here, the update
server, and a run of the program in its console front end to its end. The scripts import it; it runs no test
of its own."""
import os
import signal
import socket
import subprocess
import sys
import time

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
sys.path.insert(0, TOOLS)
import child_process  # noqa: E402

# The window's caption, the caption of its message boxes, and the boxes' texts.
CAPTION = "软件自动更新"
BOX_CAPTION = "信息提示"
DOWNLOAD_FAILED = "下载文件时发生错误，升级失败！"
SAVE_FAILED = "保存文件时发生错误，升级失败！"
EXTRACT_FAILED = "解压缩时发生错误，升级失败！"
COMPLETE = "升级完成！"

PROXY_VARIABLES = ("http_proxy", "https_proxy", "all_proxy", "no_proxy")


def updater_environment(**overrides):
    """The environment the updater runs in here: the console front end, and none of the developer's proxy
    variables, which would send the loopback traffic through their proxy."""
    environment = dict(os.environ, DISPLAY="")
    for name in PROXY_VARIABLES:
        environment.pop(name, None)
        environment.pop(name.upper(), None)
    environment.update(overrides)
    return environment


def interrupt_while_downloading(process, download, after):
    """Sends the updater SIGINT `after` seconds into its download, which its log in `download` says has begun:
    a signal sent by the clock could come before the program has started listening for it, on a loaded machine.
    A program that has ended meanwhile gets none."""
    log = os.path.join(download, "updater.log")
    deadline = time.time() + 60
    while process.poll() is None and time.time() < deadline:
        if os.path.exists(log):
            with open(log, encoding="utf-8", errors="replace") as f:
                if "download begun" in f.read():
                    break
        time.sleep(0.05)
    time.sleep(after)
    if process.poll() is None:
        process.send_signal(signal.SIGINT)


def run_updater(arguments, environment, interrupt_after=None, cwd=None, preexec_fn=None):
    """Runs the program (arguments[0], its download directory arguments[5]) to its end; with interrupt_after,
    it gets SIGINT, as from Ctrl+C, that many seconds into its download. Returns its exit code and what it
    wrote to stderr."""
    process = subprocess.Popen(arguments, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               env=environment, cwd=cwd, preexec_fn=preexec_fn)
    if interrupt_after is not None:
        interrupt_while_downloading(process, arguments[5], interrupt_after)
    _, err = process.communicate(timeout=120)
    return process.returncode, err.decode("utf-8", "replace")


def no_start_logged(download):
    """Whether an updater that has ended logged into download and started no program: its log names every
    program it starts."""
    log = os.path.join(download, "updater.log")
    if not os.path.exists(log):
        return False
    with open(log, encoding="utf-8", errors="replace") as f:
        return not any(" starting " in line for line in f)


MARKER_SCRIPT = """#!/bin/sh
echo started > "$(dirname "$0")/started.txt"
"""


def saved_files(directory):
    """What a run left in its download directory besides its logs, which every run leaves there."""
    if not os.path.isdir(directory):
        return []
    return sorted(name for name in os.listdir(directory) if not name.startswith("updater.log"))


class Server:
    """tools/update_server.py serving one file, for the length of a with-block."""

    def __init__(self, path, *options):
        self.path = path
        self.options = list(options)

    def __enter__(self):
        port_file = self.path + ".port"
        self.process = child_process.start(
            [sys.executable, os.path.join(TOOLS, "update_server.py"), self.path, "--port-file", port_file]
            + self.options, stdout=subprocess.DEVNULL)
        deadline = time.time() + 10
        while not os.path.exists(port_file):
            if time.time() > deadline:
                child_process.stop(self.process)
                raise RuntimeError("update server did not start")
            time.sleep(0.05)
        with open(port_file) as f:
            self.port = int(f.read())
        os.remove(port_file)
        return self

    def url(self, name="update.zip"):
        return "http://127.0.0.1:%d/%s" % (self.port, name)

    def __exit__(self, *exc):
        child_process.stop(self.process)


def unused_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port
