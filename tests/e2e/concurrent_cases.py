"""Runs a test script's cases side by side, each in a process of its own. A case spends most of its time waiting
(for the program, a server, a file system), so cases run a few at a time take about as long as the longest of
them, not as all of them together. Each case keeps its own temporary directories and server ports, as it does
when the cases run one after another.

A script calls main() from its __main__ block once it has taken its own arguments off sys.argv. With test names
left on the command line, this process runs those; without, it starts one process per case: the script again,
with its own arguments and the case's name."""

import subprocess
import sys
import time
import unittest
from concurrent.futures import ThreadPoolExecutor, as_completed


def case_names(suite):
    for test in suite:
        if isinstance(test, unittest.TestSuite):
            yield from case_names(test)
        else:
            yield test.id().split(".", 1)[1]


def main(script_arguments, workers=2):
    if len(sys.argv) > 1:
        unittest.main(module="__main__", verbosity=2)
        return
    names = list(case_names(unittest.defaultTestLoader.loadTestsFromModule(sys.modules["__main__"])))

    def run(name):
        started = time.time()
        process = subprocess.run([sys.executable, sys.argv[0]] + list(script_arguments) + [name],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        return name, process.returncode, process.stdout.decode("utf-8", "replace"), time.time() - started

    failed = []
    with ThreadPoolExecutor(workers) as pool:
        for done in as_completed([pool.submit(run, name) for name in names]):
            name, code, output, took = done.result()
            print("%s\n%s: %s in %.1f s\n" % (output.rstrip(), name, "passed" if code == 0 else "FAILED", took),
                  flush=True)
            if code != 0:
                failed.append(name)
    print("%d cases, %d failed%s" % (len(names), len(failed), "".join("\n  " + name for name in failed)))
    sys.exit(1 if failed else 0)
