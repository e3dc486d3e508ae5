#!/usr/bin/env python3
"""End-to-end tests of the updater behind proxies: the real program, with the system's proxy settings, through
the real proxies of tools/proxy_test_servers.py (tinyproxy, microsocks) to the servers of
tools/tls_test_server.py, all on 127.0.0.1. Each row sets the proxy, runs an update and checks what was
installed and saved, and which proxy the program spoke to, and how.

Usage: proxy_test.py path/to/updater
       proxy_test.py --wine WINE path/to/updater.exe WORK_DIR [--copy-prefix SHARED_PREFIX]
The Linux program reads the proxy variables and its console front end prints its boxes. The Windows program
runs under Wine on a virtual X display (Xvfb) in a Wine prefix of its own in WORK_DIR (made once, 20 to 60
seconds, or a copy of SHARED_PREFIX when that is ready: tools/wine_prefix.py), where its boxes are confirmed with a key press; it reads the same variables and, in rows of their
own, the user's Internet settings in that prefix's registry. The test CA is trusted through SSL_CERT_FILE on
Linux and through the prefix's registry (the user's root store) on Windows. The Windows program also installs
archives with Chinese names (made by Python's zipfile and by 7-Zip) under the system code pages 936 and 1252:
the GBK locale made by the build (UPDATER_CP936_LOCPATH) gives Wine code page 936.
"""
import hashlib
import os
import shutil
import ssl
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "..", "tools")
sys.path.insert(0, TOOLS)
import child_process  # noqa: E402
import proxy_test_servers  # noqa: E402
import concurrent_cases  # noqa: E402
import tls_test_server  # noqa: E402
import virtual_display  # noqa: E402
import wine_prefix  # noqa: E402
from proxy_test_servers import PASSWORD, USER  # noqa: E402
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import BOX_CAPTION, COMPLETE, DOWNLOAD_FAILED, EXTRACT_FAILED  # noqa: E402
from harness import run_updater, saved_files, updater_environment  # noqa: E402
from fault_test import Lighttpd  # noqa: E402

UPDATER = None
WINE = None
WORK = None
SHARED_PREFIX = None

INTERNET_SETTINGS = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings"

INSTALLED, FAILED = "installed", "failed"

# name, proxy, credentials (None, "right", "wrong"), URL scheme, origin server, outcome, first bytes the proxy
# must have seen (None: not reached at all).
ROWS = [
    ("http through the HTTP proxy", "http", None, "http", "plain", INSTALLED, b"GET http://127.0.0.1:"),
    ("https through the HTTP proxy's tunnel", "http", None, "https", "good", INSTALLED, b"CONNECT 127.0.0.1:"),
    ("http through the HTTP proxy with credentials", "http-auth", "right", "http", "plain", INSTALLED,
     b"GET http://127.0.0.1:"),
    ("https through the HTTP proxy with credentials", "http-auth", "right", "https", "good", INSTALLED,
     b"CONNECT 127.0.0.1:"),
    ("http through SOCKS 5", "socks", None, "http", "plain", INSTALLED, b"\x05\x01\x00"),
    ("https through SOCKS 5", "socks", None, "https", "good", INSTALLED, b"\x05\x01\x00"),
    ("http through SOCKS 5 with credentials", "socks-auth", "right", "http", "plain", INSTALLED,
     b"\x05\x02\x00\x02"),
    ("https through SOCKS 5 with credentials", "socks-auth", "right", "https", "good", INSTALLED,
     b"\x05\x02\x00\x02"),
]

FAILURE_ROWS = [
    ("a proxy that refuses the connection", "refused", None, "http", "plain", FAILED, None),
    ("407 without credentials (http)", "http-auth", None, "http", "plain", FAILED, b"GET http://"),
    ("407 without credentials (https)", "http-auth", None, "https", "good", FAILED, b"CONNECT "),
    ("407 for a wrong password", "http-auth", "wrong", "https", "good", FAILED, b"CONNECT "),
    ("CONNECT answered with 403", "connect-403", None, "https", "good", FAILED, b"CONNECT "),
    ("the origin's certificate names another host", "http", None, "https", "wronghost", FAILED, b"CONNECT "),
    ("a SOCKS 5 server that demands credentials", "socks-auth", None, "http", "plain", FAILED, b"\x05\x01\x00"),
    ("a SOCKS 5 server that rejects the password", "socks-auth", "wrong", "https", "good", FAILED,
     b"\x05\x02\x00\x02"),
    ("a SOCKS 5 server that answers garbage", "socks-garbage", None, "http", "plain", FAILED, b"\x05"),
    ("a SOCKS 5 server that cannot reach the origin", "socks", None, "http", "closed", FAILED, b"\x05"),
]


def proxy_url(proxies, proxy, credentials):
    scheme = "socks5" if proxy.startswith("socks") else "http"
    user = ""
    if credentials:
        user = "%s:%s@" % (USER, PASSWORD if credentials == "right" else "wrong")
    return "%s://%s127.0.0.1:%d" % (scheme, user, proxies.ports[proxy])


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def root_store_blob(pem_file):
    """The test CA as the value "Blob" of a certificate in the registry's root store: serialized properties,
    of which property 32 is the certificate's DER encoding."""
    with open(pem_file) as f:
        der = ssl.PEM_cert_to_DER_cert(f.read())
    return hashlib.sha1(der).hexdigest().upper(), struct.pack("<III", 32, 1, len(der)) + der


# Chinese member names, as Python's zipfile and 7-Zip store them: UTF-8, flagged (general purpose bit 11).
CHINESE_NAMES = ["说明书.txt", "数据/配置.ini"]


def named_archives(work):
    """{path: archive bytes} of the same members with CHINESE_NAMES, made by each tool."""
    source = os.path.join(work, "names")
    for name in CHINESE_NAMES:
        os.makedirs(os.path.dirname(os.path.join(source, name)), exist_ok=True)
        with open(os.path.join(source, name), "wb") as f:
            f.write(name.encode() + b"\n")
    made = {"/names-zipfile.zip": os.path.join(work, "names-zipfile.zip"),
            "/names-7zz.zip": os.path.join(work, "names-7zz.zip")}
    with zipfile.ZipFile(made["/names-zipfile.zip"], "w", zipfile.ZIP_DEFLATED) as archive:
        for name in CHINESE_NAMES:
            archive.write(os.path.join(source, name), name)
    subprocess.run(["7zz", "a", "-tzip", "-mcu=on", "-bd", "-bso0", made["/names-7zz.zip"]] + CHINESE_NAMES,
                   cwd=source, check=True)
    archives = {}
    for path, file in made.items():
        with zipfile.ZipFile(file) as archive:
            assert all(info.flag_bits & 0x800 for info in archive.infolist() if not info.is_dir()), path
        with open(file, "rb") as f:
            archives[path] = f.read()
    return archives


def registry_file(keys):
    """The text of a .reg file that sets the values of keys: {key: {name: text, number (a DWORD) or bytes}}."""
    def data(value):
        if isinstance(value, int):
            return "dword:%08x" % value
        if isinstance(value, bytes):
            return "hex:" + ",".join("%02x" % byte for byte in value)
        return '"%s"' % value.replace("\\", "\\\\").replace('"', '\\"')
    lines = ["REGEDIT4", ""]
    for key, values in keys.items():
        lines += ["[%s]" % key] + ['"%s"=%s' % (name, data(value)) for name, value in values.items()] + [""]
    return "\r\n".join(lines) + "\r\n"


class WineSession:
    """Xvfb, the Wine prefix and the runs of updater.exe; close() ends them. The test CA in ca_file is trusted
    in the prefix."""

    def __init__(self, work, ca_file, shared_prefix):
        self.work = os.path.abspath(work)
        os.makedirs(self.work, exist_ok=True)
        self.xvfb, display = virtual_display.start_xvfb("800x600x24")
        self.env = updater_environment(DISPLAY=display, WINEPREFIX=os.path.join(self.work, "wineprefix-proxy"),
                                       WINEDEBUG="-all", WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml=")
        ready = os.path.join(self.env["WINEPREFIX"], ".updater-proxy-ready")
        self.holder = None
        try:
            if not os.path.exists(ready):
                wine_prefix.make(WINE, self.env, shared_prefix)
                open(ready, "w").close()
            self.holder = wine_prefix.hold_session(WINE, self.env)
            # Windows left to themselves ("Managed"): without a window manager on the display, Wine waits two
            # seconds for each managed window to be withdrawn as it closes, the box and the main window of every
            # run.
            thumbprint, blob = root_store_blob(ca_file)
            self.set_values({r"HKEY_CURRENT_USER\Software\Wine\X11 Driver": {"Managed": "N"},
                             r"HKEY_CURRENT_USER\Software\Microsoft\SystemCertificates\Root\Certificates" + "\\" +
                             thumbprint: {"Blob": blob}})
        except BaseException:
            self.close()
            raise

    def set_values(self, keys):
        """Sets registry values (see registry_file) with one Wine program."""
        path = os.path.join(self.work, "values.reg")
        with open(path, "w", newline="") as f:
            f.write(registry_file(keys))
        subprocess.run([WINE, "reg", "import", windows_path(path)], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def run(self, arguments, variables):
        """Runs the program to its end, confirming every box it shows."""
        process = subprocess.Popen([WINE, UPDATER] + arguments, env=dict(self.env, **variables),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 120
        while process.poll() is None:
            if time.time() > deadline:
                process.kill()
                process.wait()
                raise AssertionError("the program did not end within 120 seconds")
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", BOX_CAPTION], env=self.env,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout.split()
            for window in found:
                subprocess.run(["xdotool", "windowfocus", "--sync", window], env=self.env,
                               stderr=subprocess.DEVNULL)
                subprocess.run(["xdotool", "key", "Return"], env=self.env, stderr=subprocess.DEVNULL)
            # The end is waited for, not polled: a confirmed box is mostly the program's last step. Half a
            # second lets a confirmed box go before the next look, so that a second Return cannot reach the
            # window behind it.
            try:
                process.wait(0.5 if found else 0.1)
            except subprocess.TimeoutExpired:
                pass
        return process.returncode

    def close(self):
        wine_prefix.end_session(WINE, self.env, self.holder)
        child_process.stop(self.xvfb)


class ProxyTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Each part is ended by a class clean-up registered as soon as it runs: those run even when a later
        # part fails to start, and tearDownClass would not.
        cls.work = tempfile.mkdtemp(prefix="updater-proxy-")
        cls.addClassCleanup(shutil.rmtree, cls.work, ignore_errors=True)
        archive_path = os.path.join(cls.work, "update.zip")
        with zipfile.ZipFile(archive_path, "w", zipfile.ZIP_DEFLATED) as archive:
            archive.writestr("VERSION", b"2.0\n")
            archive.writestr("lib/data.bin", os.urandom(200000))
        with open(archive_path, "rb") as f:
            archive = f.read()
        files = {"/update.zip": archive}
        if WINE:
            files.update(named_archives(cls.work))
        cls.servers = cls.enterClassContext(tls_test_server.Servers(files=files))
        cls.servers.ports["closed"] = proxy_test_servers.unused_port()
        cls.proxies = cls.enterClassContext(proxy_test_servers.Proxies())
        cls.wine = None
        if WINE:
            cls.wine = WineSession(WORK, cls.servers.ca_file, SHARED_PREFIX)
            cls.addClassCleanup(cls.wine.close)

    def fresh(self):
        self.case = tempfile.mkdtemp(prefix="case-", dir=self.work)
        self.app = os.path.join(self.case, "app")
        self.download = os.path.join(self.case, "dl")
        os.makedirs(self.app)
        for relay in self.proxies.relays.values():
            relay.first.clear()

    def run_updater(self, scheme, origin, variables):
        url = "%s://127.0.0.1:%d/update.zip" % (scheme, self.servers.ports[origin])
        if self.wine:
            code = self.wine.run([url, windows_path(self.app), "update.zip", " ", windows_path(self.download)],
                                 variables)
            self.assertEqual(code, 0)
            return None
        environment = updater_environment(SSL_CERT_FILE=self.servers.ca_file, **variables)
        code, err = run_updater([UPDATER, url, self.app, "update.zip", " ", self.download], environment)
        self.assertEqual(code, 0)
        return err

    def check_outcome(self, outcome, err):
        if outcome == INSTALLED:
            if err is not None:
                self.assertIn(COMPLETE, err)
            with open(os.path.join(self.app, "VERSION"), "rb") as f:
                self.assertEqual(f.read(), b"2.0\n")
            self.assertTrue(os.path.isfile(os.path.join(self.download, "update.zip")))
        else:
            if err is not None:
                self.assertIn(DOWNLOAD_FAILED, err)
                self.assertNotIn(COMPLETE, err)
            self.assertEqual(saved_files(self.download), [], "nothing saved")
            self.assertEqual(os.listdir(self.app), [], "nothing installed")

    def check_table(self, rows):
        for name, proxy, credentials, scheme, origin, outcome, first in rows:
            with self.subTest(case=name):
                self.fresh()
                variable = "all_proxy" if proxy.startswith("socks") else scheme + "_proxy"
                err = self.run_updater(scheme, origin, {variable: proxy_url(self.proxies, proxy, credentials)})
                try:
                    self.check_outcome(outcome, err)
                except (AssertionError, OSError):
                    # Under Wine the boxes are confirmed unseen: the run's log says what happened.
                    log = os.path.join(self.download, "updater.log")
                    if os.path.exists(log):
                        with open(log, encoding="utf-8", errors="replace") as f:
                            print("updater.log of %s:\n%s" % (name, f.read()), file=sys.stderr)
                    raise
                if first is not None:
                    seen = self.proxies.relays[proxy].first
                    self.assertTrue(seen, "the program did not connect to the proxy")
                    self.assertTrue(all(data.startswith(first) for data in seen), seen)

    def test_each_proxy_for_http_and_https_with_and_without_credentials(self):
        self.check_table(ROWS)

    def test_bad_answers_are_failed_downloads_with_nothing_saved(self):
        self.check_table(FAILURE_ROWS)

    def test_no_proxy_lets_a_host_past_the_proxy(self):
        self.fresh()
        err = self.run_updater("http", "plain", {"http_proxy": proxy_url(self.proxies, "refused", None),
                                                 "no_proxy": "localhost,127.0.0.1"})
        self.check_outcome(INSTALLED, err)

    def test_member_names_in_the_system_code_page(self):
        """UTF-8 names land under their own names where the system code page (936) holds them; where it does
        not (1252) the extraction fails and nothing is installed."""
        if not self.wine:
            self.skipTest("the system code page is the Windows program's")
        gbk = {"LOCPATH": os.environ.get("UPDATER_CP936_LOCPATH"), "LC_ALL": "zh_CN.GBK"}
        rows = [(code_page, path, variables, file_names)
                for code_page, variables, file_names in ((936, gbk, "gbk"), (1252, {"LC_ALL": "C.UTF-8"}, "utf-8"))
                for path in ("/names-zipfile.zip", "/names-7zz.zip")]
        for code_page, path, variables, file_names in rows:
            with self.subTest(code_page=code_page, archive=path):
                if variables.get("LOCPATH", "") is None:
                    self.skipTest("no GBK locale made (UPDATER_CP936_LOCPATH)")
                self.fresh()
                url = "http://127.0.0.1:%d%s" % (self.servers.ports["plain"], path)
                self.assertEqual(self.wine.run([url, windows_path(self.app), "update.zip", " ",
                                                windows_path(self.download)], variables), 0)
                # Wine names the files on this side in the locale's character set.
                top = self.app.encode()
                installed = sorted(os.path.relpath(os.path.join(folder, name), top).decode(file_names)
                                   for folder, _, names in os.walk(top) for name in names)
                with open(os.path.join(self.download, "updater.log"), encoding="utf-8", errors="replace") as f:
                    log = f.read()
                if code_page == 936:
                    self.assertEqual(installed, sorted(CHINESE_NAMES), log)
                    self.assertIn("update complete", log)
                else:
                    self.assertEqual(installed, [], log)
                    self.assertIn("failed: " + EXTRACT_FAILED, log)
                    self.assertNotIn("update complete", log)

    def test_an_install_the_user_may_not_write_is_handed_to_an_elevated_copy(self):
        """Wine has no consent prompt: the test build plays a user who may not write the extract directory, and
        the copy that the runas verb starts installs; the window reports and starts the program itself."""
        if not self.wine:
            self.skipTest("the runas verb is the Windows program's")
        self.fresh()
        with open(os.path.join(self.app, "VERSION"), "wb") as f:
            f.write(b"1.0\n")
        url = "http://127.0.0.1:%d/update.zip" % self.servers.ports["plain"]
        self.assertEqual(self.wine.run([url, windows_path(self.app), "update.zip", "VERSION",
                                        windows_path(self.download)],
                                       {"UPDATER_TEST_DENY_WRITES_UNDER": windows_path(self.app)}), 0)
        with open(os.path.join(self.download, "updater.log"), encoding="utf-8", errors="replace") as f:
            log = f.read()
        for event in ("is not this user's to lock", "the install is handed to an elevated copy",
                      "elevated copy: installed", "update complete", "starting "):
            self.assertIn(event, log)
        self.check_outcome(INSTALLED, None)

    def test_an_update_fetched_in_part_from_the_previous_download(self):
        # The Linux program's cases are in fault_test.py; here the Windows program's files and ranges.
        if not self.wine:
            self.skipTest("Windows program only")
        self.fresh()
        root = os.path.join(self.case, "www")
        os.makedirs(root)
        os.makedirs(self.download)
        members = {"part/m%02d.bin" % index: os.urandom(100000) for index in range(20)}
        for name, version in ((os.path.join(self.download, "update.zip"), b"1.0\n"),
                              (os.path.join(root, "update.zip"), b"2.0\n")):
            with zipfile.ZipFile(name, "w", zipfile.ZIP_DEFLATED) as archive:
                archive.writestr("VERSION", version)
                for member, data in members.items():
                    archive.writestr(member, data if member != "part/m07.bin" or version == b"1.0\n" else b"new")
        with Lighttpd(root, self.case) as server:
            code = self.wine.run(["http://127.0.0.1:%d/update.zip" % server.port, windows_path(self.app),
                                  "update.zip", " ", windows_path(self.download)], {})
        self.assertEqual(code, 0)
        with open(os.path.join(self.download, "updater.log"), encoding="utf-8", errors="replace") as f:
            log = f.read()
        self.assertIn("reused 19 of 21 members", log)
        self.check_outcome(INSTALLED, None)
        with open(os.path.join(self.download, "update.zip"), "rb") as f, open(os.path.join(root, "update.zip"), "rb") as g:
            self.assertEqual(f.read(), g.read())
        with open(os.path.join(self.app, "part", "m07.bin"), "rb") as f:
            self.assertEqual(f.read(), b"new")

    def test_the_users_internet_settings(self):
        if not self.wine:
            self.skipTest("the Internet settings are the Windows program's")
        rows = [
            ("static proxy, https through its tunnel", "%d" % self.proxies.ports["http"], "", "https", INSTALLED,
             b"CONNECT 127.0.0.1:"),
            ("static proxy, http", "%d" % self.proxies.ports["http"], "", "http", INSTALLED, b"GET http://"),
            ("per-protocol proxies", "http=127.0.0.1:%d;https=127.0.0.1:%d" % (self.proxies.ports["refused"],
                                                                               self.proxies.ports["http"]),
             "", "https", INSTALLED, b"CONNECT "),
            ("bypass list", "%d" % self.proxies.ports["refused"], "<local>;127.0.0.*", "http", INSTALLED, None),
            ("a proxy that refuses the connection", "%d" % self.proxies.ports["refused"], "", "https", FAILED,
             None),
        ]
        try:
            for name, server, bypass, scheme, outcome, first in rows:
                with self.subTest(case=name):
                    self.fresh()
                    if "=" not in server:
                        server = "127.0.0.1:" + server
                    self.wine.set_values({INTERNET_SETTINGS: {"ProxyEnable": 1, "ProxyServer": server,
                                                              "ProxyOverride": bypass or "<local>"}})
                    self.check_outcome(outcome, self.run_updater(scheme, "good" if scheme == "https" else "plain",
                                                                 {}))
                    if first is not None:
                        self.assertTrue(self.proxies.relays["http"].first)
                        self.assertTrue(all(d.startswith(first) for d in self.proxies.relays["http"].first))
        finally:
            self.wine.set_values({INTERNET_SETTINGS: {"ProxyEnable": 0}})


if __name__ == "__main__":
    if sys.argv[1] == "--wine":
        sys.argv.pop(1)
        WINE = sys.argv.pop(1)
        UPDATER = os.path.abspath(sys.argv.pop(1))
        WORK = os.path.abspath(sys.argv.pop(1))
        if len(sys.argv) > 2 and sys.argv[1] == "--copy-prefix":
            SHARED_PREFIX = sys.argv.pop(2)
            sys.argv.pop(1)
        # One after another: the cases share the Wine prefix, its registry and the X display.
        unittest.main(verbosity=2)
    else:
        arguments = sys.argv[1:2]
        UPDATER = os.path.abspath(sys.argv.pop(1))
        tls_test_server.share_certificates()
        concurrent_cases.main(arguments)
