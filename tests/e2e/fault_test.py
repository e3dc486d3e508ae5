#!/usr/bin/env python3
"""Fault injection against the real updater (console front end): a server that breaks off in every part of the
response or stalls forever, a download directory that runs out of space, a read-only target file. Each case must
end with its documented message and leave the installed application as it was.

Usage: fault_test.py path/to/updater
"""
import os
import resource
import shutil
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import update_test  # noqa: E402
from update_test import COMPLETE, DOWNLOAD_FAILED, EXTRACT_FAILED, SAVE_FAILED, Server, unused_port  # noqa: E402


class FaultTest(update_test.UpdateTest):
    # The success and failure cases of the update test are not repeated here.
    def run_limited(self, url, file_size_limit):
        # The limit alone, as a shell's ulimit sets it: the program itself must keep SIGXFSZ from killing it.
        def limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit))
        return self.run_updater(url, preexec_fn=limit)

    def assert_no_debris(self):
        for root, dirs, files in os.walk(self.work):
            for name in files:
                self.assertFalse(name.startswith(("~unzip", "~update")) or name.endswith(".part"),
                                 os.path.join(root, name))

    def test_server_breaking_off_is_a_failed_download(self):
        archive = self.standard_archive()
        for part in ("status", "headers", "chunk"):
            with self.subTest(part=part), Server(archive, "--break-in", part) as server:
                err = self.run_updater(server.url())
                self.assertIn(DOWNLOAD_FAILED, err)
                self.assertNotIn(COMPLETE, err)
                self.assertFalse(os.path.exists(os.path.join(self.download, "update.zip")))
                self.assertEqual(os.listdir(self.app), [])

    def test_interrupt_ends_a_download_from_a_stalled_server(self):
        archive = self.standard_archive()
        with Server(archive, "--stall") as server:
            started = time.time()
            err = self.run_updater(server.url(), interrupt_after=3.5)
        self.assertLess(time.time() - started, 20)
        self.assertNotIn(COMPLETE, err)
        self.assertFalse(os.path.exists(os.path.join(self.download, "update.zip")))
        self.assertFalse(self.started())

    def test_full_file_system_while_saving_keeps_the_previous_download(self):
        archive = self.standard_archive()
        os.makedirs(self.download)
        previous = os.path.join(self.download, "update.zip")
        with open(previous, "wb") as f:
            f.write(b"previous download")
        with Server(archive) as server:
            err = self.run_limited(server.url(), 100000)
        self.assertIn(SAVE_FAILED, err)
        with open(previous, "rb") as f:
            self.assertEqual(f.read(), b"previous download")
        self.assertEqual(os.listdir(self.app), [])
        self.assert_no_debris()
        self.assertFalse(self.started())

    def test_full_file_system_while_extracting_leaves_old_files_whole(self):
        old = b"old version\n" * 10
        with open(os.path.join(self.app, "lib-data.bin"), "wb") as f:
            f.write(old)
        # Compresses well: the saved archive is small, the member large.
        archive = self.make_archive({"lib-data.bin": b"new data " * 200000, "start.sh": update_test.MARKER_SCRIPT})
        size = os.path.getsize(archive)
        with Server(archive) as server:
            # Room for the saved archive, not for the big member.
            err = self.run_limited(server.url(), size + 1000)
        self.assertIn(EXTRACT_FAILED, err)
        self.assert_no_debris()
        with open(os.path.join(self.app, "lib-data.bin"), "rb") as f:
            self.assertEqual(f.read(), old)
        self.assertFalse(self.started())

    def test_read_only_target_is_not_replaced_and_fails_the_update(self):
        target = os.path.join(self.app, "VERSION")
        with open(target, "wb") as f:
            f.write(b"1.0\n")
        os.chmod(target, 0o444)
        archive = self.standard_archive()
        with Server(archive) as server:
            err = self.run_updater(server.url())
        self.assertIn(EXTRACT_FAILED, err)
        with open(target, "rb") as f:
            self.assertEqual(f.read(), b"1.0\n")
        self.assertFalse(self.started())

    def tree(self):
        found = {}
        for root, dirs, files in os.walk(self.app):
            for name in files:
                path = os.path.join(root, name)
                with open(path, "rb") as f:
                    found[os.path.relpath(path, self.app)] = (f.read(), os.stat(path).st_mode,
                                                              int(os.stat(path).st_mtime))
        return found

    def test_kill_during_an_update_leaves_the_old_or_the_new_tree_after_the_next_start(self):
        count = 80
        new = self.make_archive({"part/%03d.bin" % i: os.urandom(150000) for i in range(count)})
        journal = os.path.join(self.app, "~update.journal")
        outcomes = set()
        for delay in (0.0, 0.02, 0.05, 0.1, 0.2, 0.4, 0.8):
            with self.subTest(delay=delay):
                shutil.rmtree(self.app)
                os.makedirs(os.path.join(self.app, "part"))
                for i in range(0, count, 2):
                    with open(os.path.join(self.app, "part", "%03d.bin" % i), "wb") as f:
                        f.write(b"old %d\n" % i)
                    os.utime(os.path.join(self.app, "part", "%03d.bin" % i), (1e9, 1e9))
                old = self.tree()
                with Server(new) as server:
                    args = [update_test.UPDATER, server.url(), self.app, "update.zip", "none.sh", self.download]
                    process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                               stderr=subprocess.DEVNULL, env=dict(os.environ, DISPLAY=""))
                    # The journal appears when the extraction begins; the kill comes that much later.
                    deadline = time.time() + 60
                    while not os.path.exists(journal) and process.poll() is None and time.time() < deadline:
                        time.sleep(0.002)
                    time.sleep(delay)
                    process.send_signal(signal.SIGKILL)
                    process.wait()
                err = self.run_updater("http://127.0.0.1:%d/update.zip" % unused_port(), run_program="none.sh")
                self.assertIn(DOWNLOAD_FAILED, err)
                after = self.tree()
                if after == old:
                    outcomes.add("old")
                else:
                    self.assert_installed(new)
                    self.assertEqual(set(after), {os.path.join("part", "%03d.bin" % i) for i in range(count)})
                    outcomes.add("new")
                self.assert_no_debris()
        print("outcomes after a kill:", sorted(outcomes), file=sys.stderr)

    def test_relative_directories_are_taken_against_the_working_directory(self):
        archive = self.standard_archive()
        with Server(archive) as server:
            err = self.run_updater(server.url(), app="app", download="dl", cwd=self.work)
        self.assertIn(COMPLETE, err)
        self.assert_installed(archive)
        self.assertTrue(os.path.exists(os.path.join(self.work, "dl", "update.zip")))
        self.assertTrue(self.started())

    def test_program_in_front_of_a_blank_in_the_directory_is_never_started(self):
        # "<work>/my app" + "missing.sh x", read as one command line, would start "<work>/my".
        self.app = os.path.join(self.work, "my app")
        os.makedirs(self.app)
        decoy = os.path.join(self.work, "my")
        with open(decoy, "w") as f:
            f.write('#!/bin/sh\necho started > "%s"\n' % os.path.join(self.app, "started.txt"))
        os.chmod(decoy, 0o755)
        archive = self.standard_archive()
        with Server(archive) as server:
            err = self.run_updater(server.url(), run_program="missing.sh x")
        self.assertIn(COMPLETE, err)
        self.assertFalse(self.started())


# Run only the fault cases defined here.
for name in [n for n in dir(update_test.UpdateTest) if n.startswith("test_")]:
    if name not in FaultTest.__dict__:
        setattr(FaultTest, name, None)

if __name__ == "__main__":
    update_test.UPDATER = os.path.abspath(sys.argv.pop(1))
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(FaultTest)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
