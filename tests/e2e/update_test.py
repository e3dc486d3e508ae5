#!/usr/bin/env python3
"""End-to-end tests of the real updater binary in its console front end, against tools/update_server.py on
127.0.0.1. Each test builds an update archive, serves it, runs the updater and checks the installed
directory, the saved archive, what the program printed and whether the started program ran.

Usage: update_test.py path/to/updater
"""
import os
import pty
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

UPDATER = None
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import concurrent_cases  # noqa: E402
from harness import COMPLETE, DOWNLOAD_FAILED, EXTRACT_FAILED, MARKER_SCRIPT, SAVE_FAILED  # noqa: E402
from harness import Server, run_updater, saved_files, unused_port, updater_environment  # noqa: E402


class UpdateTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="updater-e2e-")
        self.app = os.path.join(self.work, "app")
        self.download = os.path.join(self.work, "dl", "a", "b")
        os.makedirs(self.app)

    def tearDown(self):
        for root, dirs, files in os.walk(self.work):
            for name in dirs + files:
                try:
                    os.chmod(os.path.join(root, name), 0o700)
                except OSError:
                    pass
        shutil.rmtree(self.work, ignore_errors=True)

    def make_archive(self, members, name="update.zip"):
        path = os.path.join(self.work, name)
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
            for member, data in members.items():
                info = zipfile.ZipInfo(member, date_time=(2024, 5, 6, 7, 8, 10))
                info.compress_type = zipfile.ZIP_DEFLATED
                info.external_attr = (0o755 if member.endswith(".sh") else 0o644) << 16
                info.create_system = 3
                archive.writestr(info, data)
        return path

    def standard_archive(self):
        return self.make_archive({
            "VERSION": b"2.0\n",
            "lib/data.bin": os.urandom(300000),
            "docs/readme.txt": b"hello\n" * 1000,
            "start.sh": MARKER_SCRIPT,
        })

    def run_updater(self, url, run_program="start.sh", interrupt_after=None, extra=(), app=None, download=None,
                    cwd=None, preexec_fn=None, variables=None):
        args = [UPDATER, url, app or self.app, "update.zip", run_program, download or self.download] + list(extra)
        code, err = run_updater(args, updater_environment(**(variables or {})), interrupt_after=interrupt_after,
                                cwd=cwd, preexec_fn=preexec_fn)
        self.assertEqual(code, 0, err)
        return err

    def started(self):
        """Whether the program was started, asked once the updater has ended: its log names every program it
        starts, so a run whose log names none is answered at once; otherwise the program must leave its marker
        within five seconds."""
        log = os.path.join(self.download, "updater.log")
        if os.path.exists(log):
            with open(log, encoding="utf-8", errors="replace") as f:
                if not any(" starting " in line for line in f):
                    return os.path.exists(os.path.join(self.app, "started.txt"))
        for _ in range(50):
            if os.path.exists(os.path.join(self.app, "started.txt")):
                return True
            time.sleep(0.1)
        return False

    def assert_installed(self, archive):
        with zipfile.ZipFile(archive) as z:
            for info in z.infolist():
                with open(os.path.join(self.app, info.filename), "rb") as f:
                    self.assertEqual(f.read(), z.read(info), info.filename)

    def test_update_lands_with_every_body_framing(self):
        archive = self.standard_archive()
        for framing in ("length", "chunked", "close"):
            with self.subTest(framing=framing):
                shutil.rmtree(self.app)
                os.makedirs(self.app)
                with Server(archive, "--framing", framing) as server:
                    err = self.run_updater(server.url())
                self.assertIn(COMPLETE, err)
                self.assert_installed(archive)
                self.assertTrue(self.started())
                with open(os.path.join(self.download, "update.zip"), "rb") as f, open(archive, "rb") as g:
                    self.assertEqual(f.read(), g.read())

    def test_http_error_shows_only_the_download_error_and_creates_nothing(self):
        archive = self.standard_archive()
        with Server(archive, "--status", "404") as server:
            err = self.run_updater(server.url())
        self.assertIn(DOWNLOAD_FAILED, err)
        self.assertNotIn(COMPLETE, err)
        self.assertEqual(saved_files(self.download), [])
        self.assertFalse(self.started())

    def test_unreachable_port_shows_the_download_error(self):
        err = self.run_updater("http://127.0.0.1:%d/update.zip" % unused_port())
        self.assertIn(DOWNLOAD_FAILED, err)
        self.assertEqual(saved_files(self.download), [])

    def test_short_body_is_a_failed_download(self):
        archive = self.standard_archive()
        with Server(archive, "--truncate", "1000") as server:
            err = self.run_updater(server.url())
        self.assertIn(DOWNLOAD_FAILED, err)
        self.assertFalse(os.path.exists(os.path.join(self.download, "update.zip")))
        self.assertFalse(self.started())

    def test_body_that_is_not_an_archive_is_an_extraction_failure(self):
        page = os.path.join(self.work, "page.html")
        with open(page, "wb") as f:
            f.write(b"<html>not an archive</html>" * 100)
        with Server(page) as server:
            err = self.run_updater(server.url())
        self.assertIn(EXTRACT_FAILED, err)
        self.assertNotIn(COMPLETE, err)
        self.assertFalse(self.started())

    def test_damaged_member_keeps_the_old_file_and_starts_nothing(self):
        with open(os.path.join(self.app, "VERSION"), "wb") as f:
            f.write(b"1.0\n")
        archive = self.standard_archive()
        with open(archive, "rb") as f:
            data = bytearray(f.read())
        with zipfile.ZipFile(archive) as z:
            info = z.getinfo("VERSION")
        # Flip a byte of the member's compressed data: it then fails its CRC check.
        start = info.header_offset + 30 + len(info.filename)
        data[start + 1] ^= 0xFF
        with open(archive, "wb") as f:
            f.write(data)
        with Server(archive) as server:
            err = self.run_updater(server.url())
        self.assertIn(EXTRACT_FAILED, err)
        with open(os.path.join(self.app, "VERSION"), "rb") as f:
            self.assertEqual(f.read(), b"1.0\n")
        self.assertFalse(self.started())

    def test_download_directory_that_cannot_be_created_is_a_save_failure(self):
        archive = self.standard_archive()
        blocker = os.path.join(self.work, "dl")
        with open(blocker, "w") as f:
            f.write("a file where a directory should be")
        with Server(archive) as server:
            err = self.run_updater(server.url())
        self.assertIn(SAVE_FAILED, err)
        self.assertFalse(self.started())

    def test_interrupt_during_a_slow_download_ends_the_update(self):
        archive = self.standard_archive()
        with Server(archive, "--rate", "50000") as server:
            err = self.run_updater(server.url(), interrupt_after=0.5)
        self.assertNotIn(COMPLETE, err)
        self.assertFalse(os.path.exists(os.path.join(self.download, "update.zip")))
        self.assertFalse(os.path.exists(os.path.join(self.app, "VERSION")))
        self.assertFalse(self.started())

    def test_progress_line_of_a_body_of_unknown_size_counts_the_bytes(self):
        # stderr on a terminal, so that the progress line is drawn; the body is close-delimited.
        archive = self.make_archive({"big.bin": os.urandom(2000000), "start.sh": MARKER_SCRIPT})
        size_mb = os.path.getsize(archive) / 1048576.0
        master, slave = pty.openpty()
        with Server(archive, "--framing", "close", "--rate", "1000000") as server:
            started = time.time()
            process = subprocess.Popen([UPDATER, server.url(), self.app, "update.zip", "start.sh", self.download],
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=slave,
                                       env=updater_environment())
            os.close(slave)
            output = b""
            while True:
                try:
                    chunk = os.read(master, 65536)
                except OSError:  # the terminal's last writer has gone
                    break
                if not chunk:
                    break
                output += chunk
            os.close(master)
            self.assertEqual(process.wait(timeout=60), 0)
            elapsed = time.time() - started
        text = output.decode("utf-8", "replace")
        self.assertIn(COMPLETE, text)
        counts = [float(value) for value in re.findall(r"\r(\d+\.\d) MB", text)]
        self.assertTrue(counts, text)
        self.assertAlmostEqual(counts[-1], size_mb, delta=0.25)  # a redraw interval behind at most
        # Redrawn at most every 100 ms, not for every piece received.
        self.assertLessEqual(len(counts), elapsed / 0.1 + 3)

    def test_blank_run_program_starts_nothing_and_still_completes(self):
        archive = self.standard_archive()
        with Server(archive) as server:
            err = self.run_updater(server.url(), run_program=" ")
        self.assertIn(COMPLETE, err)
        self.assert_installed(archive)
        self.assertFalse(self.started())


if __name__ == "__main__":
    arguments = sys.argv[1:2]
    UPDATER = os.path.abspath(sys.argv.pop(1))
    concurrent_cases.main(arguments)
