#!/usr/bin/env python3
"""The real GTK window in an X server (Xvfb): screenshots checked automatically (background colour at known
client points, the progress bar's fill growing), the cancel button clicked with xdotool, and the completion box
confirmed with a key press, after which the updated program must have been started.

Usage: gtk_window_test.py path/to/updater ARTIFACT_DIR
Exits 77 (skipped) when Xvfb, xdotool or ImageMagick's import are missing.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import concurrent_cases  # noqa: E402
from harness import MARKER_SCRIPT, Server, child_process  # noqa: E402
import virtual_display  # noqa: E402  (on the path harness sets)

UPDATER = None
ARTIFACTS = None
BACKGROUND = (236, 233, 216)
CLIENT_WIDTH, CLIENT_HEIGHT = 291, 78
BAR = (8, 24, 273, 16)        # left, top, width, height within the client area
BUTTON = (208, 48, 73, 22)


def tools_missing():
    return [tool for tool in ("Xvfb", "xdotool", "import", "convert") if shutil.which(tool) is None]


class Display:
    """An Xvfb server on a display number it picks itself, for the length of a with-block."""

    def __enter__(self):
        self.process, self.name = virtual_display.start_xvfb("800x600x24")
        return self

    def env(self):
        return dict(os.environ, DISPLAY=self.name)

    def __exit__(self, *exc):
        child_process.stop(self.process)


def xdotool(display, *args):
    result = subprocess.run(["xdotool"] + list(args), env=display.env(), capture_output=True, text=True)
    return result.stdout.strip()


def find_window(display, name, timeout=15):
    deadline = time.time() + timeout
    while time.time() < deadline:
        found = xdotool(display, "search", "--onlyvisible", "--name", name)
        if found:
            return found.split()[0]
        time.sleep(0.1)
    raise AssertionError("no visible window named %r" % name)


def window_origin(display, window):
    values = {}
    for line in xdotool(display, "getwindowgeometry", "--shell", window).splitlines():
        key, _, value = line.partition("=")
        values[key] = int(value)
    return values["X"], values["Y"]


def screenshot(display, path):
    subprocess.run(["import", "-window", "root", path], env=display.env(), check=True)


class Image:
    """A screenshot's pixels, read once through ImageMagick as a binary PPM."""

    def __init__(self, path):
        data = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], capture_output=True, check=True).stdout
        fields = data.split(maxsplit=4)
        self.width, self.height = int(fields[1]), int(fields[2])
        self.pixels = fields[4]

    def pixel(self, x, y):
        offset = 3 * (y * self.width + x)
        return tuple(self.pixels[offset:offset + 3])


def bar_fill(image, origin):
    """Pixels of the bar's middle row that differ from the empty trough's colour."""
    x0, y0 = origin[0] + BAR[0] + 2, origin[1] + BAR[1] + BAR[3] // 2
    empty = image.pixel(x0 + BAR[2] - 6, y0)
    return sum(1 for x in range(x0, x0 + BAR[2] - 4) if image.pixel(x, y0) != empty)


class GtkWindowTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="updater-gtk-")
        self.app = os.path.join(self.work, "app")
        self.download = os.path.join(self.work, "download")
        os.makedirs(self.app)
        import zipfile
        self.archive = os.path.join(self.work, "update.zip")
        with zipfile.ZipFile(self.archive, "w", zipfile.ZIP_STORED) as z:
            info = zipfile.ZipInfo("start.sh")
            info.external_attr = 0o755 << 16
            info.create_system = 3
            z.writestr(info, MARKER_SCRIPT)
            z.writestr("payload.bin", os.urandom(600000))

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def start(self, display, server, caption):
        return subprocess.Popen([UPDATER, server.url(), self.app, "update.zip", "start.sh", self.download, caption],
                                env=display.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def test_window_layout_and_a_moving_bar_then_cancel(self):
        with Display() as display, Server(self.archive, "--rate", "60000") as server:
            process = self.start(display, server, "GtkCancelTest")
            window = find_window(display, "GtkCancelTest")
            # The sixth argument is the application title too: the program class the window is known by.
            self.assertIn(window, xdotool(display, "search", "--class", "GtkCancelTest").split())
            origin = window_origin(display, window)
            time.sleep(3.5)  # the download starts on the second timer tick
            first = os.path.join(ARTIFACTS, "gtk-window-1.png")
            screenshot(display, first)
            time.sleep(1.5)
            second = os.path.join(ARTIFACTS, "gtk-window.png")
            screenshot(display, second)
            before, after = Image(first), Image(second)
            for x, y in ((3, 3), (CLIENT_WIDTH - 4, 4), (150, 60), (4, CLIENT_HEIGHT - 4)):
                self.assertEqual(after.pixel(origin[0] + x, origin[1] + y), BACKGROUND, (x, y))
            self.assertGreater(bar_fill(after, origin), bar_fill(before, origin), "the bar did not grow")

            xdotool(display, "mousemove", str(origin[0] + BUTTON[0] + BUTTON[2] // 2),
                    str(origin[1] + BUTTON[1] + BUTTON[3] // 2), "click", "1")
            self.assertEqual(process.wait(timeout=15), 0)
            self.assertFalse(os.path.exists(os.path.join(self.download, "update.zip")))
            self.assertFalse(os.path.exists(os.path.join(self.app, "started.txt")))

    def test_completion_box_confirmed_by_a_key_starts_the_program(self):
        with Display() as display, Server(self.archive) as server:
            process = self.start(display, server, "GtkCompleteTest")
            box = find_window(display, "信息提示", timeout=30)
            xdotool(display, "windowfocus", "--sync", box)
            xdotool(display, "key", "--window", box, "Return")
            self.assertEqual(process.wait(timeout=15), 0)
            for _ in range(50):
                if os.path.exists(os.path.join(self.app, "started.txt")):
                    break
                time.sleep(0.1)
            self.assertTrue(os.path.exists(os.path.join(self.app, "started.txt")))
            self.assertTrue(os.path.exists(os.path.join(self.download, "update.zip")))


if __name__ == "__main__":
    missing = tools_missing()
    if missing:
        print("SKIPPED: missing " + ", ".join(missing))
        sys.exit(77)
    arguments = sys.argv[1:3]
    UPDATER = os.path.abspath(sys.argv.pop(1))
    ARTIFACTS = os.path.abspath(sys.argv.pop(1))
    os.makedirs(ARTIFACTS, exist_ok=True)
    # Each case has a display of its own: they run side by side.
    concurrent_cases.main(arguments)
