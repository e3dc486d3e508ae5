"""A Wine prefix of a test's own, for the tests that run the Windows program on an X display, and a Wine session
held open in it."""
import os
import shutil
import subprocess

# Marks a prefix that cmake/wine-run.sh finished making (the one the Windows test programs share).
SHARED_READY = ".updater-ready"
# The line of the shared prefix's user registry that gives it Wine's null graphics driver, which draws nothing.
NULL_DRIVER = '"Graphics"="null"\n'


def make(wine, env, shared=None):
    """Makes the prefix env["WINEPREFIX"] anew, with Wine's own choice of graphics driver (X11 on a display): a
    copy of the prefix shared when that one is ready (a second), else Wine's first start in it (20 to 60
    seconds)."""
    prefix = env["WINEPREFIX"]
    shutil.rmtree(prefix, ignore_errors=True)
    if shared and os.path.exists(os.path.join(shared, SHARED_READY)):
        shutil.copytree(shared, prefix, symlinks=True)
        # Changed in the file, before any Wine program starts in the copy: the driver is chosen once, when
        # the session's desktop process starts.
        registry = os.path.join(prefix, "user.reg")
        with open(registry, encoding="utf-8") as f:
            lines = f.readlines()
        if NULL_DRIVER not in lines:
            raise RuntimeError("the shared prefix names no null graphics driver: " + registry)
        with open(registry, "w", encoding="utf-8") as f:
            f.writelines(line for line in lines if line != NULL_DRIVER)
    else:
        subprocess.run([wine, "wineboot", "--init"], env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)


def hold_session(wine, env):
    """Starts a console program that waits for input until end_session(): while it runs, the prefix's session
    (its desktop and services) stays up, and each program started in it starts at once instead of starting
    the session first (about a second)."""
    return subprocess.Popen([wine, "cmd", "/c", "pause"], env=env, stdin=subprocess.PIPE,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def end_session(wine, env, holder):
    """Ends the holder and every process still running in the prefix."""
    if holder is not None:
        holder.stdin.close()
    server = os.path.join(os.path.dirname(os.path.realpath(wine)), "wineserver")
    subprocess.run([server if os.access(server, os.X_OK) else "wineserver", "-k"], env=env,
                   stderr=subprocess.DEVNULL)
    if holder is not None:
        holder.wait()
