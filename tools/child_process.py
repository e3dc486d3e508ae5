"""Servers and displays that the tests start, tied to the test's process: when the test ends in any way, even
killed by CTest's timeout before its clean-up ran, the kernel ends them too, so that nothing keeps running
after `make test`."""
import ctypes
import signal
import subprocess

_PR_SET_PDEATHSIG = 1
# Looked up here, before any fork: the child only calls it.
_prctl = ctypes.CDLL(None, use_errno=True).prctl


def _end_with_parent():
    _prctl(_PR_SET_PDEATHSIG, signal.SIGTERM)


def start(argv, **options):
    """subprocess.Popen(argv, **options) whose process receives SIGTERM when the starting process ends."""
    return subprocess.Popen(argv, preexec_fn=_end_with_parent, **options)


def stop(process):
    """Ends a process started here, if it is still running, and reaps it."""
    if process is not None and process.poll() is None:
        process.kill()
    if process is not None:
        process.wait()
