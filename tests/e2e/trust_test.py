#!/usr/bin/env python3
"""End-to-end tests of HTTPS downloads and signed archives: the real updater in its console front end against
the servers of tools/tls_test_server.py (a test CA made at start; one server per certificate case). The test
CA is trusted through OpenSSL's own setting, SSL_CERT_FILE; the program has no option for it.

Usage: trust_test.py path/to/updater path/to/updater-built-with-the-test-key
The second program has the public key of signing_test_key.pem (beside this file) compiled in.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "..", "tools")
sys.path.insert(0, TOOLS)
import concurrent_cases  # noqa: E402
import tls_test_server  # noqa: E402
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import COMPLETE, DOWNLOAD_FAILED, run_updater, saved_files, updater_environment  # noqa: E402
from fault_test import Lighttpd  # noqa: E402

UPDATER = None
SIGNED_UPDATER = None
TEST_KEY = os.path.join(HERE, "signing_test_key.pem")


def flip_bit(data, index):
    data = bytearray(data)
    data[index] ^= 0x01
    return bytes(data)


def archive_with_stored_blocks(path, content, empty_first):
    """An archive whose member data.bin is deflated as stored blocks, an empty one first or last: the same
    content, CRC and sizes under other compressed bytes, as another compressor may give them."""
    chunks = [content[at:at + 65535] for at in range(0, len(content), 65535)]
    chunks = [b""] + chunks if empty_first else chunks + [b""]
    deflated = b"".join(bytes([index == len(chunks) - 1]) + struct.pack("<HH", len(chunk), len(chunk) ^ 0xFFFF) + chunk
                        for index, chunk in enumerate(chunks))
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as archive:
        archive.writestr("VERSION", b"2.0\n")
        archive.writestr("data.bin", deflated)
    with open(path, "r+b") as f:
        data = f.read()
        # The stored member becomes a deflated one: method, CRC and size of the content, in both records.
        local = data.find(b"PK\x03\x04data.bin"[:4], data.find(b"data.bin") - 30)
        central = data.rfind(b"PK\x01\x02", 0, data.rfind(b"data.bin"))
        for method, crc, size in ((local + 8, local + 14, local + 22), (central + 10, central + 16, central + 24)):
            f.seek(method)
            f.write(struct.pack("<H", 8))
            f.seek(crc)
            f.write(struct.pack("<I", zlib.crc32(content)))
            f.seek(size)
            f.write(struct.pack("<I", len(content)))


class TrustTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="updater-trust-")
        cls.archive_path = os.path.join(cls.work, "update.zip")
        with zipfile.ZipFile(cls.archive_path, "w", zipfile.ZIP_DEFLATED) as archive:
            archive.writestr("VERSION", b"2.0\n")
            archive.writestr("lib/data.bin", os.urandom(200000))
        with open(cls.archive_path, "rb") as f:
            cls.archive = f.read()
        subprocess.run([sys.executable, os.path.join(TOOLS, "sign_update.py"), "sign", TEST_KEY, cls.archive_path],
                       check=True)
        with open(cls.archive_path + ".sig", "rb") as f:
            cls.signature = f.read()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        self.case = tempfile.mkdtemp(prefix="case-", dir=self.work)
        self.app = os.path.join(self.case, "app")
        self.download = os.path.join(self.case, "dl")
        os.makedirs(self.app)

    def run_updater(self, url, ca_file, program=None, interrupt_after=None):
        environment = updater_environment()
        environment.pop("SSL_CERT_FILE", None)
        if ca_file:
            environment["SSL_CERT_FILE"] = ca_file
        code, err = run_updater([program or UPDATER, url, self.app, "update.zip", " ", self.download], environment,
                                interrupt_after=interrupt_after)
        self.assertEqual(code, 0)
        return err

    def assert_installed(self, err):
        self.assertIn(COMPLETE, err)
        with open(os.path.join(self.app, "VERSION"), "rb") as f:
            self.assertEqual(f.read(), b"2.0\n")

    def assert_failed_download(self, err):
        self.assertIn(DOWNLOAD_FAILED, err)
        self.assertNotIn(COMPLETE, err)
        self.assertEqual(saved_files(self.download), [])
        self.assertEqual(os.listdir(self.app), [])

    def fresh(self):
        shutil.rmtree(self.case)
        self.setUp()

    def test_https_download_installs_when_the_ca_is_trusted(self):
        with tls_test_server.Servers(files={"/update.zip": self.archive}) as servers:
            err = self.run_updater("https://localhost:%d/update.zip" % servers.ports["good"], servers.ca_file)
        self.assert_installed(err)
        # The run's log names the protocol and the certificate the server showed.
        with open(os.path.join(self.download, "updater.log"), encoding="utf-8") as f:
            self.assertRegex(f.read(), r"TLS: TLSv1\.[23], .*CN=localhost")

    def test_certificate_and_protocol_failures_are_failed_downloads(self):
        with tls_test_server.Servers(files={"/update.zip": self.archive}) as servers:
            for case in ("expired", "wronghost", "untrusted", "plain"):
                with self.subTest(case=case):
                    self.fresh()
                    err = self.run_updater("https://localhost:%d/update.zip" % servers.ports[case],
                                           servers.ca_file)
                    self.assert_failed_download(err)
            with self.subTest(case="system trust store"):
                self.fresh()
                err = self.run_updater("https://localhost:%d/update.zip" % servers.ports["good"], None)
                self.assert_failed_download(err)

    def test_plain_http_is_unchanged(self):
        with tls_test_server.Servers(files={"/update.zip": self.archive}) as servers:
            err = self.run_updater("http://localhost:%d/update.zip" % servers.ports["plain"], servers.ca_file)
        self.assert_installed(err)

    def test_cancel_during_a_tls_download_ends_the_update(self):
        with tls_test_server.Servers() as servers:
            err = self.run_updater("https://localhost:%d/slow" % servers.ports["good"], servers.ca_file,
                                   interrupt_after=0.5)
        self.assertNotIn(COMPLETE, err)
        self.assertEqual(saved_files(self.download), [])

    def test_signed_build_installs_only_archives_whose_signature_verifies(self):
        cases = [
            ("good signature", self.archive, self.signature, True),
            ("flipped bit in the archive", flip_bit(self.archive, 100), self.signature, False),
            ("flipped bit in the signature",
             self.archive, self.signature[:10] + bytes([self.signature[10] ^ 0x02]) + self.signature[11:], False),
            ("missing signature", self.archive, None, False),
        ]
        for name, archive, signature, installs in cases:
            with self.subTest(case=name):
                self.fresh()
                files = {"/update.zip": archive}
                if signature is not None:
                    files["/update.zip.sig"] = signature
                with tls_test_server.Servers(files=files) as servers:
                    err = self.run_updater("https://localhost:%d/update.zip" % servers.ports["good"],
                                           servers.ca_file, program=SIGNED_UPDATER)
                with open(os.path.join(self.download, "updater.log"), encoding="utf-8") as f:
                    log = f.read()
                if installs:
                    self.assert_installed(err)
                    self.assertIn("signature verified", log)
                else:
                    self.assert_failed_download(err)
                    self.assertNotIn("signature verified", log)

    def test_an_archive_assembled_in_part_that_does_not_verify_is_downloaded_whole(self):
        root = os.path.join(self.case, "www")
        os.makedirs(root)
        os.makedirs(self.download)
        content = os.urandom(400000)
        archive_with_stored_blocks(os.path.join(root, "update.zip"), content, empty_first=True)
        archive_with_stored_blocks(os.path.join(self.download, "update.zip"), content, empty_first=False)
        subprocess.run([sys.executable, os.path.join(TOOLS, "sign_update.py"), "sign", TEST_KEY,
                        os.path.join(root, "update.zip")], check=True)
        with Lighttpd(root, self.case) as server:
            err = self.run_updater("http://127.0.0.1:%d/update.zip" % server.port, None, program=SIGNED_UPDATER)
        self.assert_installed(err)
        with open(os.path.join(self.app, "data.bin"), "rb") as f:
            self.assertEqual(f.read(), content)
        with open(os.path.join(self.download, "update.zip"), "rb") as f, open(os.path.join(root, "update.zip"), "rb") as g:
            self.assertEqual(f.read(), g.read())
        with open(os.path.join(self.download, "updater.log"), encoding="utf-8") as f:
            log = f.read()
        self.assertIn("reused 1 of 2 members", log)
        self.assertIn("the archive assembled in part does not verify: downloading it whole", log)
        self.assertIn("signature verified", log)

    def test_build_without_a_key_ignores_signatures(self):
        bad = self.signature[:10] + bytes([self.signature[10] ^ 0x02]) + self.signature[11:]
        with tls_test_server.Servers(files={"/update.zip": self.archive, "/update.zip.sig": bad}) as servers:
            err = self.run_updater("http://localhost:%d/update.zip" % servers.ports["plain"], None)
        self.assert_installed(err)


if __name__ == "__main__":
    arguments = sys.argv[1:3]
    UPDATER = os.path.abspath(sys.argv.pop(1))
    SIGNED_UPDATER = os.path.abspath(sys.argv.pop(1))
    tls_test_server.share_certificates()
    concurrent_cases.main(arguments)
