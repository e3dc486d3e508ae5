"""An Xvfb server on a display number it picks itself, for the tests and benchmarks that drive a real window."""
import os
import subprocess

import child_process


def start_xvfb(geometry):
    """Starts Xvfb with one screen of geometry (e.g. "1024x768x24"); returns (process, display name).

    Xvfb writes the number and then a newline, in two writes: the pipe is read to the newline, because closing
    it after the first write makes the second one fail and Xvfb end at once."""
    read_end, write_end = os.pipe()
    process = child_process.start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", geometry, "-nolisten",
                                   "tcp"], pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as numbers:
        number = numbers.readline().strip()
    if not number:
        child_process.stop(process)
        raise RuntimeError("Xvfb did not start")
    return process, ":" + number
