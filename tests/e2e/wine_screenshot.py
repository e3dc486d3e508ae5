#!/usr/bin/env python3
"""Screenshot check of the real Windows program: updater.exe under Wine's X11 driver on a virtual X display
(Xvfb), against tools/update_server.py sending an update archive slowly on 127.0.0.1.

It checks, on screenshots of the display, that the client area shows the window's background colour at
points where no control lies, and that the progress bar's fill grows while the archive arrives; then it
clicks the cancel button and checks that the program ends and that nothing was saved in the download
directory. The last screenshot, cut to the window, is kept as wine-window.png in ARTIFACT_DIR. Then a whole
update runs at full speed: the completion box is confirmed with a key press, the archive must be saved and
extracted, and the updated program (a copy of updater.exe, which refuses to run without arguments and says
so in a box of its own) must have been started.

Usage: wine_screenshot.py UPDATER_EXE WINE WORK_DIR ARTIFACT_DIR [SHARED_PREFIX]
Exit codes: 0 passed, 1 failed, 77 skipped (a tool is missing, or the bar never moved: the program showed
its window but did not download).

The Wine prefix lives in WORK_DIR and is kept between runs; making it takes 20 to 60 seconds once, or a copy of
SHARED_PREFIX when that is a ready prefix of the same Wine (the one the other Windows tests run in, made with
Wine's null graphics driver: the copy goes back to the X11 driver). It shows "WenQuanYi Zen Hei" where the window
asks for SimSun.
"""
import os
import shutil
import subprocess
import sys
import time
import zipfile

SKIP = 77
TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
sys.path.insert(0, TOOLS)
import child_process  # noqa: E402
import virtual_display  # noqa: E402
import wine_prefix  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import BOX_CAPTION, CAPTION  # noqa: E402
CLIENT_WIDTH, CLIENT_HEIGHT = 291, 78
BACKGROUND = (236, 233, 216)
# Client points where only the background shows: away from the bevel along the edges, the status line
# (left part of the top row, at most about 160 pixels wide), the bar (8, 24, 273 x 16) and the button
# (208, 48, 73 x 22).
BACKGROUND_POINTS = [(4, 4), (200, 14), (286, 4), (4, 44), (150, 44), (100, 60), (200, 72), (286, 74)]
BAR_LEFT, BAR_TOP, BAR_WIDTH, BAR_HEIGHT = 8, 24, 273, 16
BUTTON_CENTRE = (208 + 73 // 2, 48 + 22 // 2)

ARCHIVE_BYTES = 400_000
RATE = 25_000  # bytes per second: the download takes about 16 seconds
BAR_MOVE_TIMEOUT = 25.0  # generous: the download starts about two seconds after the window appears


class Failure(Exception):
    pass


class Skip(Exception):
    pass


def log(text):
    print(text, flush=True)


class Screen:
    """One screenshot of the whole display as RGB rows."""

    def __init__(self, display):
        data = subprocess.run(["import", "-display", display, "-window", "root", "-depth", "8", "ppm:-"],
                              check=True, stdout=subprocess.PIPE).stdout
        self.ppm = data
        # Binary PPM: "P6", width, height, maximum value, one whitespace byte, then the pixels.
        fields = []
        position = 0
        while len(fields) < 4:
            while data[position:position + 1].isspace():
                position += 1
            if data[position:position + 1] == b"#":
                position = data.index(b"\n", position)
                continue
            end = position
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[position:end])
            position = end
        if fields[0] != b"P6" or fields[3] != b"255":
            raise Failure("unexpected screenshot format %r" % fields)
        self.width, self.height = int(fields[1]), int(fields[2])
        self.pixels = data[position + 1:]

    def pixel(self, x, y):
        offset = (y * self.width + x) * 3
        return tuple(self.pixels[offset:offset + 3])

    def save(self, path, left, top, width, height):
        subprocess.run(["convert", "ppm:-", "-crop", "%dx%d+%d+%d" % (width, height, left, top), "+repage",
                        "png:" + path], input=self.ppm, check=True)


class Session:
    """Xvfb, the update server, the Wine prefix and the program; everything is ended by close()."""

    def __init__(self, updater, wine, work, shared_prefix=None):
        self.updater = updater
        self.wine = wine
        self.work = os.path.abspath(work)
        self.shared_prefix = shared_prefix
        self.xvfb = None
        self.server = None
        self.program = None
        self.env = None
        self.holder = None

    def start_display(self):
        try:
            self.xvfb, self.display = virtual_display.start_xvfb("1024x768x24")
        except RuntimeError as error:
            raise Failure(str(error))
        self.env = dict(os.environ)
        self.env.update({
            "DISPLAY": self.display,
            "WINEPREFIX": os.path.join(self.work, "wineprefix-x11"),
            "WINEDEBUG": "-all",
            # No menu entries in the home directory, no Mono or Gecko installer prompts.
            "WINEDLLOVERRIDES": "winemenubuilder.exe=d;mscoree,mshtml=",
        })

    def prepare_prefix(self):
        """Makes the prefix (once), and holds its session open until close()."""
        prefix = self.env["WINEPREFIX"]
        ready = os.path.join(prefix, ".updater-x11-ready")
        if not os.path.exists(ready):
            log("making the Wine prefix %s (once)" % prefix)
            wine_prefix.make(self.wine, self.env, self.shared_prefix)
            # The window asks for SimSun ("宋体"); the free WenQuanYi font stands in for it. A .reg file in UTF-16
            # carries the Chinese value name whatever the locale of this process. Windows are left to themselves
            # ("Managed"): without a window manager on the display, Wine waits two seconds for each managed
            # window to be withdrawn as it closes.
            reg = os.path.join(self.work, "prefix-values.reg")
            lines = ["Windows Registry Editor Version 5.00", "",
                     "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]",
                     '"SimSun"="WenQuanYi Zen Hei"', '"宋体"="WenQuanYi Zen Hei"', "",
                     "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]", '"Managed"="N"', ""]
            with open(reg, "wb") as f:
                f.write("\r\n".join(lines).encode("utf-16"))
            subprocess.run([self.wine, "regedit", "/S", reg], env=self.env, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            open(ready, "w").close()
        self.holder = wine_prefix.hold_session(self.wine, self.env)

    def start_server(self, archive, rate=RATE):
        port_file = archive + ".port"
        if os.path.exists(port_file):
            os.remove(port_file)
        self.server = child_process.start([sys.executable, os.path.join(TOOLS, "update_server.py"), archive,
                                           "--rate", str(rate), "--port-file", port_file],
                                          # The cancel breaks the transfer: the server's complaint is expected.
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 10
        while not os.path.exists(port_file):
            if time.time() > deadline or self.server.poll() is not None:
                raise Failure("the update server did not start")
            time.sleep(0.05)
        with open(port_file) as f:
            return int(f.read())

    def start_program(self, arguments):
        self.program = subprocess.Popen([self.wine, self.updater] + arguments, env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def expect_clean_exit(self, after):
        """The program must end, with exit code 0, within 15 seconds of what the test just did."""
        try:
            code = self.program.wait(timeout=15)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end within 15 seconds of " + after)
        if code != 0:
            raise Failure("the program ended with exit code %d" % code)

    def close(self):
        if self.program is not None and self.program.poll() is None:
            self.program.kill()
            self.program.wait()
        if self.env is not None:
            wine_prefix.end_session(self.wine, self.env, self.holder)
        for process in (self.server, self.xvfb):
            if process is not None and process.poll() is None:
                process.terminate()
                process.wait()


def windows_path(path):
    # The new prefix maps drive Z: onto the root directory.
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def find_window(session, timeout):
    """The program's top-level X window: the client area and the whole X window, each as (left, top, width,
    height)."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        if session.program.poll() is not None:
            raise Failure("the program ended before its window appeared (exit code %d)" %
                          session.program.returncode)
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", CAPTION],
                               env=session.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        for window in found.stdout.split():
            shell = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], env=session.env,
                                   stdout=subprocess.PIPE, text=True).stdout
            geometry = dict(line.split("=", 1) for line in shell.split())
            x, y = int(geometry["X"]), int(geometry["Y"])
            width, height = int(geometry["WIDTH"]), int(geometry["HEIGHT"])
            if width < CLIENT_WIDTH or height < CLIENT_HEIGHT:
                continue
            # The X window is either the client area alone (a window manager draws the frame) or the whole
            # window with the frame Wine draws: equal borders left, right and below, the caption above.
            border = (width - CLIENT_WIDTH) // 2
            client = (x + border, y + height - CLIENT_HEIGHT - border, CLIENT_WIDTH, CLIENT_HEIGHT)
            return client, (x, y, width, height)
        time.sleep(0.25)
    raise Failure("no visible window named %s within %d seconds" % (CAPTION, timeout))


def visible_windows(session, name):
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name], env=session.env,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    return found.stdout.split()


def wait_for_window(session, name, timeout, ignore=()):
    deadline = time.time() + timeout
    while time.time() < deadline:
        windows = [w for w in visible_windows(session, name) if w not in ignore]
        if windows:
            return windows[0]
        time.sleep(0.25)
    raise Failure("no visible window named %s within %d seconds" % (name, timeout))


def run_complete_update(session, updater, run_dir):
    """A whole update at full speed: the completion box confirmed by a key, the archive saved and extracted,
    the updated program started."""
    archive = os.path.join(run_dir, "complete.zip")
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
        z.write(updater, "app.exe")
        z.writestr("data/payload.bin", os.urandom(50_000))
    download_dir = os.path.join(run_dir, "download-complete")
    install_dir = os.path.join(run_dir, "install-complete")
    # The application's own directory exists (a missing one would first be asked about).
    os.makedirs(install_dir)
    session.server.terminate()
    session.server.wait()
    port = session.start_server(archive, rate=0)
    session.start_program(["http://127.0.0.1:%d/complete.zip" % port, windows_path(install_dir), "complete.zip",
                           "app.exe", windows_path(download_dir)])
    box = wait_for_window(session, BOX_CAPTION, 40)
    subprocess.run(["xdotool", "windowfocus", "--sync", box], env=session.env, stderr=subprocess.DEVNULL)
    subprocess.run(["xdotool", "key", "Return"], env=session.env, check=True)
    session.expect_clean_exit("its completion box being confirmed")
    if not os.path.isfile(os.path.join(download_dir, "complete.zip")):
        raise Failure("the archive was not saved in the download directory")
    with open(os.path.join(install_dir, "data", "payload.bin"), "rb") as f, zipfile.ZipFile(archive) as z:
        if f.read() != z.read("data/payload.bin"):
            raise Failure("the extracted member differs from the archive's")
    # The started copy refuses to run without arguments, in a box with the same caption.
    wait_for_window(session, BOX_CAPTION, 40, ignore=[box])
    log("whole update: saved, extracted, completion confirmed, program started")


def check_background(screen, client):
    left, top = client[0], client[1]
    wrong = []
    for x, y in BACKGROUND_POINTS:
        colour = screen.pixel(left + x, top + y)
        if colour != BACKGROUND:
            wrong.append("(%d,%d) is %s" % (x, y, colour))
    if wrong:
        raise Failure("background colour %s expected at: %s" % (BACKGROUND, "; ".join(wrong)))


def bar_fill(screen, client, empty):
    """Pixels of the bar's middle row, inside its frame, that differ from the empty bar's colour."""
    y = client[1] + BAR_TOP + BAR_HEIGHT // 2
    return sum(1 for x in range(client[0] + BAR_LEFT + 2, client[0] + BAR_LEFT + BAR_WIDTH - 2)
               if screen.pixel(x, y) != empty)


def run(updater, wine, work, artifacts, shared_prefix=None):
    missing = [tool for tool in ("Xvfb", "xdotool", "import", "convert") if shutil.which(tool) is None]
    if missing:
        raise Skip("not installed: " + ", ".join(missing))
    os.makedirs(work, exist_ok=True)
    run_dir = os.path.join(work, "run")
    shutil.rmtree(run_dir, ignore_errors=True)
    os.makedirs(run_dir)
    archive = os.path.join(run_dir, "served.zip")
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_STORED) as z:
        z.writestr("payload.bin", os.urandom(ARCHIVE_BYTES))
    download_dir = os.path.join(run_dir, "download")
    install_dir = os.path.join(run_dir, "install")
    os.makedirs(artifacts, exist_ok=True)
    picture = os.path.join(artifacts, "wine-window.png")
    if os.path.exists(picture):
        os.remove(picture)

    session = Session(updater, wine, work, shared_prefix)
    try:
        session.start_display()
        session.prepare_prefix()
        port = session.start_server(archive)
        started = time.time()
        session.start_program(["http://127.0.0.1:%d/update.zip" % port, windows_path(install_dir), "update.zip",
                               "app.exe", windows_path(download_dir)])
        client, window = find_window(session, 30)
        log("window client area at %d,%d after %.1f s" % (client[0], client[1], time.time() - started))
        # The first shot comes before the download starts (second timer tick): the bar is empty, and its
        # colour at the right end is the empty bar's colour.
        first = Screen(session.display)
        check_background(first, client)
        empty = first.pixel(client[0] + BAR_LEFT + BAR_WIDTH - 4, client[1] + BAR_TOP + BAR_HEIGHT // 2)
        baseline = bar_fill(first, client, empty)
        # The kept picture: the window with a margin of the display's black around it.
        frame = (window[0] - 4, window[1] - 4, window[2] + 8, window[3] + 8)
        kept = first

        moved = None
        deadline = time.time() + BAR_MOVE_TIMEOUT
        while time.time() < deadline and session.program.poll() is None:
            time.sleep(0.5)
            shot = Screen(session.display)
            fill = bar_fill(shot, client, empty)
            if fill > baseline:
                moved = (shot, fill)
                break
        if moved is not None:
            time.sleep(2.0)
            later = Screen(session.display)
            check_background(later, client)
            later_fill = bar_fill(later, client, empty)
            log("bar fill: %d, then %d pixels two seconds later (of %d)" % (moved[1], later_fill, BAR_WIDTH - 4))
            if later_fill <= moved[1]:
                raise Failure("the bar did not grow: %d, then %d pixels" % (moved[1], later_fill))
            kept = later
        kept.save(picture, *frame)

        if session.program.poll() is not None:
            raise Failure("the program ended by itself (exit code %d)" % session.program.returncode)
        subprocess.run(["xdotool", "mousemove", "--sync", str(client[0] + BUTTON_CENTRE[0]),
                        str(client[1] + BUTTON_CENTRE[1]), "click", "1"], env=session.env, check=True)
        session.expect_clean_exit("the cancel click")
        # The run's log stays; nothing else may.
        saved = [name for name in (os.listdir(download_dir) if os.path.isdir(download_dir) else [])
                 if not name.startswith("updater.log")]
        if saved:
            raise Failure("saved in the download directory after cancel: %s" % saved)
        if os.path.isdir(install_dir) and os.listdir(install_dir):
            raise Failure("extracted after cancel: %s" % os.listdir(install_dir))
        log("cancel ended the program; nothing saved; total %.1f s" % (time.time() - started))
        if moved is not None:
            run_complete_update(session, updater, run_dir)
        if moved is None:
            raise Skip("the progress bar never moved within %d seconds: the program showed no download"
                       % BAR_MOVE_TIMEOUT)
    finally:
        session.close()


def main():
    if len(sys.argv) not in (5, 6):
        print(__doc__, file=sys.stderr)
        return 2
    try:
        run(*sys.argv[1:])
    except Skip as skip:
        log("SKIP: %s" % skip)
        return SKIP
    except Failure as failure:
        log("FAIL: %s" % failure)
        return 1
    log("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
