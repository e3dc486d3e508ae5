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
from harness import Server, no_start_logged, run_updater, saved_files, unused_port, updater_environment  # noqa: E402


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
        starts, so a run whose log names none is answered at once, and so is one that left no start.sh to start;
        otherwise the program must leave its marker within five seconds."""
        if no_start_logged(self.download) or not os.path.exists(os.path.join(self.app, "start.sh")):
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


# A stand-in for pkexec: made setuid root by the test, it runs the program it is given as root, as the real one
# does once the user has consented, and notes each call.
PKEXEC_STAND_IN = r"""
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
int main(int argc, char** argv) {
  FILE* calls = fopen(CALLS, "a");
  if (calls) { fputs("called\n", calls); fclose(calls); }
  if (argc < 2 || setgid(0) != 0 || setuid(0) != 0) return 127;
#ifdef KILL_AT
  /* Kills the copy as soon as the file KILL_AT appears in its extract directory (its fourth item). */
  if (argc < 5) return 127;
  char watched[4096];
  snprintf(watched, sizeof watched, "%s/%s", argv[4], KILL_AT);
  pid_t child = fork();
  if (child == 0) { execv(argv[1], argv + 1); _exit(127); }
  struct timespec pause = {0, 1000000};
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (access(watched, F_OK) == 0) { kill(child, SIGKILL); waitpid(child, &status, 0); return 137; }
    nanosleep(&pause, 0);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
#endif
  execv(argv[1], argv + 1);
  return 127;
}
"""

# The refusal of a user who dismisses the prompt: pkexec's own exit status.
PKEXEC_DECLINES = "#!/bin/sh\necho called >> \"$(dirname \"$0\")/calls\"\nexit 126\n"


@unittest.skipUnless(hasattr(os, "geteuid") and os.geteuid() == 0 and shutil.which("setpriv") and shutil.which("cc"),
                     "needs root, setpriv and a C compiler")
class AdministratorRightsTest(unittest.TestCase):
    """The updater run by an unprivileged user (nobody) against an extract directory that only root may write:
    the install is handed to a copy of itself through pkexec, and the program is started with the user's id."""

    tearDown = UpdateTest.tearDown
    make_archive = UpdateTest.make_archive
    assert_installed = UpdateTest.assert_installed

    def setUp(self):
        UpdateTest.setUp(self)
        os.chmod(self.work, 0o755)
        self.user = 65534
        # The unprivileged user reaches its own copy of the program, and owns the download directory.
        self.program = os.path.join(self.work, "updater")
        shutil.copy(UPDATER, self.program)
        os.chmod(self.program, 0o755)
        os.makedirs(self.download)
        for directory in (os.path.join(self.work, "dl"), os.path.join(self.work, "dl", "a"), self.download):
            os.chown(directory, self.user, self.user)
        self.marker = os.path.join(self.download, "started-by")
        self.stand_in = self.build_stand_in("grants")
        self.calls = os.path.join(self.stand_in, "calls")
        self.declines = os.path.join(self.work, "declines")
        os.makedirs(self.declines)
        os.chmod(self.declines, 0o755)
        with open(os.path.join(self.declines, "pkexec"), "w") as f:
            f.write(PKEXEC_DECLINES)
        os.chmod(os.path.join(self.declines, "pkexec"), 0o777)
        os.chmod(self.declines, 0o777)
        with open(os.path.join(self.app, "VERSION"), "wb") as f:
            f.write(b"1.0\n")

    def build_stand_in(self, name, *defines):
        """A directory holding a setuid-root pkexec stand-in that runs its items as root."""
        directory = os.path.join(self.work, name)
        os.makedirs(directory)
        os.chmod(directory, 0o755)
        source = os.path.join(self.work, name + ".c")
        with open(source, "w") as f:
            f.write(PKEXEC_STAND_IN)
        calls = os.path.join(directory, "calls")
        subprocess.run(["cc", "-DCALLS=\"%s\"" % calls, *defines, "-o", os.path.join(directory, "pkexec"), source],
                       check=True)
        os.chmod(os.path.join(directory, "pkexec"), 0o4755)
        return directory

    def archive(self):
        return self.make_archive({
            "VERSION": b"2.0\n",
            "lib/data.bin": os.urandom(100000),
            "start.sh": "#!/bin/sh\nid -u > %s\n" % self.marker,
        })

    def run_as_user(self, url, path):
        """Runs the updater as the unprivileged user with the given PATH, where it looks for pkexec."""
        args = [shutil.which("setpriv"), "--reuid=%d" % self.user, "--regid=%d" % self.user, "--clear-groups",
                self.program, url, self.app, "update.zip", "start.sh", self.download]
        process = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, cwd=self.download,
                                 env=updater_environment(PATH=path, TMPDIR=self.download), timeout=120)
        self.assertEqual(process.returncode, 0, process.stderr.decode("utf-8", "replace"))
        return process.stderr.decode("utf-8", "replace")

    def started_by(self):
        """The user id the program ran as; None when it was not started (asked as started() asks)."""
        if no_start_logged(self.download):
            return None
        for _ in range(50):
            if os.path.exists(self.marker) and os.path.getsize(self.marker) > 0:
                with open(self.marker) as f:
                    return int(f.read())
            time.sleep(0.1)
        return None

    def stand_in_called(self, directory):
        return os.path.exists(os.path.join(directory, "calls"))

    def first_on_path(self, directory):
        return directory + os.pathsep + os.environ.get("PATH", "/usr/bin:/bin")

    def test_root_owned_install_is_handed_over_and_the_program_runs_as_the_user(self):
        archive = self.archive()
        # 0711: the user cannot even open the directory to lock it; the elevated copy takes the lock.
        for mode in (0o755, 0o711):
            with self.subTest(mode=oct(mode)):
                shutil.rmtree(self.app)
                os.makedirs(self.app)
                with open(os.path.join(self.app, "VERSION"), "wb") as f:
                    f.write(b"1.0\n")
                os.chmod(self.app, mode)
                for name in (self.calls, self.marker):
                    if os.path.exists(name):
                        os.remove(name)
                with Server(archive) as server:
                    err = self.run_as_user(server.url(), self.first_on_path(self.stand_in))
                self.assertIn(COMPLETE, err)
                self.assertTrue(self.stand_in_called(self.stand_in))
                self.assert_installed(archive)
                self.assertEqual(os.stat(os.path.join(self.app, "VERSION")).st_uid, 0)
                self.assertEqual(self.started_by(), self.user)
                self.assertEqual(saved_files(self.download), ["started-by", "update.zip"])
                with open(os.path.join(self.download, "updater.log"), encoding="utf-8") as f:
                    self.assertIn("elevated copy: installed", f.read())

    def test_a_killed_elevated_copy_is_repaired_by_the_next_one(self):
        # The copy dies as its staging reaches the directory "many". The next run, still the user's, cannot
        # write where that journal lies: it leaves the repair to its own elevated copy, which rolls the
        # killed run back and then installs.
        kills = self.build_stand_in("kills", "-DKILL_AT=\"many\"")
        members = {"many/f%03d" % i: os.urandom(3000) for i in range(300)}
        members["VERSION"] = b"2.0\n"
        archive = self.make_archive(members)
        with Server(archive) as server:
            err = self.run_as_user(server.url(), self.first_on_path(kills))
            self.assertIn(EXTRACT_FAILED, err)
            self.assertIn("~update.journal", os.listdir(self.app))
            with open(os.path.join(self.app, "VERSION"), "rb") as f:
                self.assertEqual(f.read(), b"1.0\n")
            err = self.run_as_user(server.url(), self.first_on_path(self.stand_in))
        self.assertIn(COMPLETE, err)
        with open(os.path.join(self.download, "updater.log"), encoding="utf-8") as f:
            self.assertIn("is left to the elevated copy", f.read())
        self.assert_installed(archive)
        self.assertEqual(sorted(os.listdir(self.app)), ["VERSION", "many"])

    def test_declined_prompt_leaves_the_tree_unchanged(self):
        archive = self.archive()
        with Server(archive) as server:
            err = self.run_as_user(server.url(), self.first_on_path(self.declines))
        self.assertIn(EXTRACT_FAILED, err)
        self.assertIn("administrator rights were not granted", err)
        self.assertNotIn(COMPLETE, err)
        self.assertTrue(self.stand_in_called(self.declines))
        self.assertEqual(sorted(os.listdir(self.app)), ["VERSION"])
        with open(os.path.join(self.app, "VERSION"), "rb") as f:
            self.assertEqual(f.read(), b"1.0\n")
        self.assertIsNone(self.started_by())

    def test_missing_pkexec_is_a_refusal(self):
        empty = os.path.join(self.work, "empty")
        os.makedirs(empty)
        archive = self.archive()
        with Server(archive) as server:
            err = self.run_as_user(server.url(), empty)
        self.assertIn(EXTRACT_FAILED, err)
        self.assertIn("administrator rights were not granted", err)
        self.assertEqual(sorted(os.listdir(self.app)), ["VERSION"])

    def test_writable_install_never_asks(self):
        os.chown(self.app, self.user, self.user)
        os.chown(os.path.join(self.app, "VERSION"), self.user, self.user)
        archive = self.archive()
        with Server(archive) as server:
            err = self.run_as_user(server.url(), self.first_on_path(self.stand_in))
        self.assertIn(COMPLETE, err)
        self.assertFalse(self.stand_in_called(self.stand_in))
        self.assert_installed(archive)
        self.assertEqual(self.started_by(), self.user)


if __name__ == "__main__":
    arguments = sys.argv[1:2]
    UPDATER = os.path.abspath(sys.argv.pop(1))
    concurrent_cases.main(arguments)
