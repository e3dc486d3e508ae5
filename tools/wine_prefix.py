"""A Wine prefix of a test's own, for the tests that run the Windows program on an X display."""
import os
import shutil
import subprocess

# Marks a prefix that cmake/wine-run.sh finished making (the one the Windows test programs share).
SHARED_READY = ".updater-ready"
# A .reg file's lines that give the graphics driver back to Wine's own choice (X11 on a display): the shared
# prefix is made with the null driver, which draws nothing.
X11_DRIVER_LINES = ["[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]", '"Graphics"=-', ""]


def make(wine, env, shared=None):
    """Makes the prefix env["WINEPREFIX"] anew: a copy of the prefix shared when that one is ready (seconds),
    else Wine's first start in it (20 to 60 seconds). A copy must then have X11_DRIVER_LINES imported."""
    prefix = env["WINEPREFIX"]
    shutil.rmtree(prefix, ignore_errors=True)
    if shared and os.path.exists(os.path.join(shared, SHARED_READY)):
        shutil.copytree(shared, prefix, symlinks=True)
    else:
        subprocess.run([wine, "wineboot", "--init"], env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
