#!/usr/bin/env python3
"""Checks of the service simulator: python3 tools/service_sim/test_sim.py"""

import base64
import hashlib
import http.client
import io
import json
import os
import random
import shutil
import socket
import sys
import tempfile
import time
import unittest
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sim  # noqa: E402


def client_scramble(text, rng):
    """Written out again from the client's rules, so the simulator's decoding is checked against
    something other than itself."""
    n = len(text)
    key = [rng.randrange(256) for _ in range(n)]
    out = bytearray()
    p = (255 - key[0]) % n if n else 0
    for i in range(n):
        c = key[i]
        if p % 3 == 0:
            out.append(text[p] ^ c)
        elif p % 3 == 1:
            out.append((text[p] + c) % 256)
        else:
            out.append((text[p] - c) % 256)
        p = (p + 1) % n
    return bytes(out), bytes(key)


def encode(raw):
    """Base64, then the client's percent-encoding (only letters and digits stay)."""
    return "".join(c if c.isalnum() and c.isascii() else "%%%02x" % ord(c)
                   for c in base64.b64encode(raw).decode())


class SimulatorTest(unittest.TestCase):
    def setUp(self):
        with open(sim.DEFAULT_CONFIG, encoding="utf-8") as f:
            config = json.load(f)
        config["slow_seconds"] = 0.6
        self.log = io.StringIO()
        self.sim = sim.Simulator(config, [0, 0], self.log)
        self.sim.start()
        self.port = self.sim.ports[0]
        self.rng = random.Random(7)

    def tearDown(self):
        self.sim.stop()

    def get(self, path, port=None, timeout=5):
        connection = http.client.HTTPConnection("127.0.0.1", port or self.port, timeout=timeout)
        try:
            connection.request("GET", "/" + path, headers={"Connection": "close"})
            response = connection.getresponse()
            return response, response.read()
        finally:
            connection.close()

    def login_path(self, user, password, cmd="login", extra=""):
        p, s = client_scramble(password.encode("gbk"), self.rng)
        b, a = client_scramble(b"LENOVO|1.0|N1EET|", self.rng)
        d, c = client_scramble(b"WDC WD10 01.01 WD-1", self.rng)
        f, e = client_scramble(b"001a2b3c4d5e", self.rng)
        return ("client_login.php?u=%s&p=%s&s=%s&a=%s&b=%s&c=%s&d=%s&e=%s&f=%s&t=%d&v=2.1.0.0"
                "&cmd=%s%s&rf=main" % (urllib.parse.quote(user.encode("gbk"), safe=""),
                                       encode(p), encode(s), encode(a), encode(b), encode(c),
                                       encode(d), encode(e), encode(f), int(time.time()), cmd,
                                       extra))

    def log_entries(self):
        return [json.loads(line) for line in self.log.getvalue().splitlines()]

    def set_modes(self, endpoint, modes):
        response, _ = self.get("_sim/misbehave?endpoint=%s&modes=%s" % (endpoint, modes))
        self.assertEqual(response.status, 200)

    def test_descrambling_inverts_the_client_for_every_length(self):
        for n in range(0, 40):
            text = bytes(self.rng.randrange(256) for _ in range(n))
            self.assertEqual(sim.descramble(*client_scramble(text, self.rng)), text)
        self.assertEqual(sim.descramble(*sim.scramble(b"abc", random.Random(1))), b"abc")

    def test_announcements_carry_news_version_and_the_callers_address(self):
        response, body = self.get("client_announcements.php?v=2.1.0.0", port=self.sim.ports[1])
        text = body.decode("utf-8")
        self.assertEqual(response.status, 200)
        self.assertEqual(int(response.getheader("Content-Length")), len(body))
        self.assertIn(sim.MARKER, text)
        self.assertIn("ClientIP=127.0.0.1\r\n", text)
        self.assertIn("RequiredClientVersion=2.1.0.0\r\n", text)
        self.assertIn("Title0=OrumaVPN 2.1 发布\r\n", text)
        self.assertIn("DatetimeGMT0=1714550400\r\n", text)
        self.assertIn("DownloadGreen=http://127.0.0.1:%d/packages/Kavrin.exe" % self.sim.ports[1],
                      text)

    def test_demo_login_succeeds_and_lists_routes_and_servers(self):
        _, body = self.get(self.login_path("demo", "demo123"))
        text = body.decode("utf-8")
        self.assertIn("AuthResult=OK\r\n", text)
        self.assertIn("RouteId0=overseas\r\n", text)
        self.assertIn("ModifyDefaultGateway1=1\r\n", text)
        self.assertIn("ServerId2=201\r\n", text)
        self.assertIn("Categories1=china,asia\r\n", text)
        self.assertIn("Protocols0=pptp,l2tp,openvpn\r\n", text)
        decoded = self.log_entries()[-1]["decoded"]
        self.assertEqual(decoded["password"], "demo123")
        self.assertEqual(decoded["bios"], "LENOVO|1.0|N1EET|")
        self.assertEqual(decoded["adapters"], "001a2b3c4d5e")
        self.assertTrue(decoded["password_ok"])

    def test_expired_wrong_and_limited_accounts(self):
        _, body = self.get(self.login_path("expired", "expired123"))
        self.assertIn("AuthResult=Expired\r\n", body.decode("utf-8"))
        _, body = self.get(self.login_path("demo", "wrong"))
        self.assertIn("AuthResult=Failed\r\n", body.decode("utf-8"))
        self.assertNotIn("[Servers]", body.decode("utf-8"))
        _, body = self.get(self.login_path("limited", "limited123"))
        text = body.decode("utf-8")
        self.assertIn("ServerId0=201\r\n", text)
        self.assertNotIn("ServerId1=", text)
        self.assertNotIn("Title1=", text.split("[Servers]")[0])

    def test_route_list_needs_the_password(self):
        response, body = self.get(self.login_path("demo", "demo123", "getvpnroutes", "&id=overseas"))
        self.assertEqual(response.status, 200)
        self.assertEqual(body, b"8.8.8.0 mask 255.255.255.0\r\n203.0.113.0 mask 255.255.255.0\r\n")
        response, _ = self.get(self.login_path("demo", "nope", "getvpnroutes", "&id=overseas"))
        self.assertEqual(response.status, 403)

    def test_packages_match_their_advertised_md5_unless_told_otherwise(self):
        _, body = self.get("client_announcements.php?v=2.1.0.0")
        advertised = dict(line.split("=", 1) for line in body.decode().splitlines() if "=" in line)
        _, package = self.get("packages/KavrinInstaller.exe")
        self.assertEqual(hashlib.md5(package).hexdigest(), advertised["DownloadSetupMD5"])
        self.set_modes("package:setup", "wrong_md5")
        _, body = self.get("client_announcements.php?v=2.1.0.0")
        self.assertNotIn("DownloadSetupMD5=" + hashlib.md5(package).hexdigest(), body.decode())

    def test_body_misbehaviours(self):
        _, plain = self.get("client_announcements.php?v=2.1.0.0")
        self.set_modes("announcements", "chunked")
        response, body = self.get("client_announcements.php?v=2.1.0.0")
        self.assertEqual(response.getheader("Transfer-Encoding"), "Chunked")
        self.assertEqual(body, plain)
        self.set_modes("announcements", "no_length")
        response, body = self.get("client_announcements.php?v=2.1.0.0")
        self.assertIsNone(response.getheader("Content-Length"))
        self.assertEqual(body, plain)
        self.set_modes("announcements", "no_marker")
        _, body = self.get("client_announcements.php?v=2.1.0.0")
        self.assertNotIn(sim.MARKER.encode(), body)
        self.set_modes("announcements", "http500")
        response, _ = self.get("client_announcements.php?v=2.1.0.0")
        self.assertEqual(response.status, 500)
        self.set_modes("announcements", "slow")
        started = time.monotonic()
        _, body = self.get("client_announcements.php?v=2.1.0.0")
        self.assertGreater(time.monotonic() - started, 0.4)
        self.assertEqual(body, plain)

    def test_connection_cut_and_no_answer(self):
        self.set_modes("login", "cut")
        with self.assertRaises(http.client.IncompleteRead):
            self.get(self.login_path("demo", "demo123"))
        self.set_modes("*", "hang")
        with self.assertRaises(socket.timeout):
            self.get("client_announcements.php?v=2.1.0.0", timeout=0.5)
        response, _ = self.get("_sim/reset")
        self.assertEqual(response.status, 200)
        response, _ = self.get("client_announcements.php?v=2.1.0.0")
        self.assertEqual(response.status, 200)

    def package_file(self, name, content):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(content)
        return path

    def advertised(self):
        _, body = self.get("client_announcements.php?v=2.1.0.0")
        return dict(line.split("=", 1) for line in body.decode().splitlines() if "=" in line)

    def test_update_offer_from_the_command_line(self):
        package = self.package_file("KavrinSetup.exe", b"MZ installer")
        args = sim.main_parser().parse_args([
            "--required-version", "2.2.0.0", "--update-url", "http://example.com/u",
            "--package", "setup=" + package, "--package-md5", "green=ABCDEF",
            "--download-url", "green="])
        config = sim.load_config(sim.DEFAULT_CONFIG, args)
        simulator = sim.Simulator(config, [0], io.StringIO(), os.path.dirname(package))
        simulator.start()
        self.addCleanup(simulator.stop)
        self.port = simulator.ports[0]
        offer = self.advertised()
        self.assertEqual(offer["RequiredClientVersion"], "2.2.0.0")
        self.assertEqual(offer["UpdateURL"], "http://example.com/u")
        self.assertEqual(offer["DownloadSetupMD5"], hashlib.md5(b"MZ installer").hexdigest())
        self.assertEqual(offer["DownloadGreenMD5"], "ABCDEF")
        self.assertEqual(offer["DownloadGreen"], "")
        _, body = self.get(offer["DownloadSetup"].split("/", 3)[3])
        self.assertEqual(body, b"MZ installer")

    def test_packages_folder_serves_both_kinds(self):
        folder = tempfile.mkdtemp()
        try:
            contents = {"KavrinInstaller.exe": b"MZ setup", "Kavrin.exe": b"MZ green"}
            for name, content in contents.items():
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(content)
            other = os.path.join(folder, "other.exe")
            with open(other, "wb") as f:
                f.write(b"MZ other")
            args = sim.main_parser().parse_args(
                ["--packages", folder, "--package", "green=" + other])
            simulator = sim.Simulator(sim.load_config(sim.DEFAULT_CONFIG, args), [0],
                                      io.StringIO(), folder)
            simulator.start()
            try:
                self.port = simulator.ports[0]
                offer = self.advertised()
                for key, content in (("DownloadSetup", b"MZ setup"),
                                     ("DownloadGreen", b"MZ other")):
                    self.assertEqual(offer[key + "MD5"], hashlib.md5(content).hexdigest())
                    _, body = self.get(offer[key].split("/", 3)[3])
                    self.assertEqual(body, content)
            finally:
                simulator.stop()
        finally:
            shutil.rmtree(folder)

    def test_update_offer_changes_at_run_time(self):
        package = self.package_file("Kavrin.exe", b"MZ portable")
        response, _ = self.get("_sim/offer?required_version=2.1.0.1&green_file=%s"
                               "&setup_url=http://elsewhere/s.exe&setup_md5=0123"
                               % urllib.parse.quote(package))
        self.assertEqual(response.status, 200)
        offer = self.advertised()
        self.assertEqual(offer["RequiredClientVersion"], "2.1.0.1")
        self.assertEqual(offer["DownloadGreenMD5"], hashlib.md5(b"MZ portable").hexdigest())
        self.assertEqual(offer["DownloadSetup"], "http://elsewhere/s.exe")
        self.assertEqual(offer["DownloadSetupMD5"], "0123")
        _, body = self.get("packages/Kavrin.exe")
        self.assertEqual(body, b"MZ portable")
        self.get("_sim/offer?required_version=2.1.0.0&setup_url=&setup_md5=")
        offer = self.advertised()
        self.assertEqual(offer["RequiredClientVersion"], "2.1.0.0")
        self.assertTrue(offer["DownloadSetup"].endswith("/packages/KavrinInstaller.exe"))
        response, _ = self.get("_sim/offer?nonsense=1")
        self.assertEqual(response.status, 500)

    def test_endless_package_goes_on_until_the_client_leaves(self):
        self.set_modes("package:green", "endless")
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=5)
        connection.request("GET", "/packages/Kavrin.exe")
        response = connection.getresponse()
        self.assertIsNone(response.getheader("Content-Length"))
        self.assertEqual(len(response.read(1 << 20)), 1 << 20)
        connection.close()

    def test_every_request_is_one_json_line(self):
        self.get("client_announcements.php?v=2.1.0.0")
        self.get("nothing-here")
        entries = self.log_entries()
        self.assertEqual([e["status"] for e in entries], [200, 404])
        self.assertEqual(entries[0]["endpoint"], "announcements")
        self.assertEqual(entries[0]["query"], {"v": "2.1.0.0"})


if __name__ == "__main__":
    unittest.main()
