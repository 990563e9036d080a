"""Tests of the demo servers: demo/servers.py runs as its own process on free ports and
is asked what the launcher asks."""

import http.client
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request
import xml.etree.ElementTree as ET

DEMO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REPO = os.path.dirname(DEMO)
SERVERS = os.path.join(DEMO, "servers.py")
CONFIG = os.path.join(DEMO, "package", "config", "cg.txt")
sys.path.insert(0, os.path.join(REPO, "tools"))

import make_test_swf  # noqa: E402
import publish_content  # noqa: E402

# Generous bounds for a loaded machine; they only keep a broken server from hanging
# the test.
START_WAIT = 60
END_WAIT = 60


def get(url):
    """(status, body) of a GET; the query is part of url."""
    try:
        with urllib.request.urlopen(url, timeout=30) as answer:
            return answer.status, answer.read()
    except urllib.error.HTTPError as e:
        return e.code, e.read()


def raw_get(port, target):
    """(status, body) of a GET whose request target (bytes) is sent exactly as given."""
    with socket.create_connection(("127.0.0.1", port), timeout=30) as s:
        s.sendall(b"GET " + target + b" HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")
        answer = http.client.HTTPResponse(s)
        answer.begin()
        return answer.status, answer.read()


class Servers:
    """servers.py started with options; its ports file read once it is written."""

    def __init__(self, directory, *options):
        self.ports_file = os.path.join(directory, "ports.json")
        self.log = os.path.join(directory, "requests.log")
        if os.path.exists(self.ports_file):
            os.unlink(self.ports_file)
        self.process = subprocess.Popen(
            [sys.executable, SERVERS, "--ports-file", self.ports_file, "--log", self.log] +
            [str(o) for o in options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + START_WAIT
        while not os.path.exists(self.ports_file):
            if self.process.poll() is not None:
                raise AssertionError("servers.py ended: %s" % self.process.stderr.read())
            if time.monotonic() > deadline:
                self.stop()
                raise AssertionError("servers.py wrote no ports file")
            time.sleep(0.05)
        with open(self.ports_file) as f:
            self.info = json.load(f)

    def wait(self):
        """(exit status, stdout) once the process has ended by itself."""
        out, _ = self.process.communicate(timeout=END_WAIT)
        return self.process.returncode, out

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        out, _ = self.process.communicate(timeout=END_WAIT)
        return self.process.returncode, out


class DemoServerTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        d = cls.tmp.name
        res = os.path.join(d, "res")
        os.makedirs(os.path.join(res, "maps", "第一关"))
        cls.resource = bytes(range(256)) * 5
        with open(os.path.join(res, "maps", "第一关", "terrain.cbp"), "wb") as f:
            f.write(cls.resource)
        movie = os.path.join(d, "game.swf")
        with open(movie, "wb") as f:
            f.write(make_test_swf.make_swf(64, 64, 12, 2))
        cls.content = os.path.join(d, "content")
        if publish_content.main(["--config", CONFIG, "--movie", movie, "--resources", res,
                                 "-o", cls.content, "--quiet"]) != 0:
            raise AssertionError("publishing the fixture failed")
        cls.new_exe = os.path.join(d, "Launcher_new.exe")
        with open(cls.new_exe, "wb") as f:
            f.write(b"MZ new launcher")
        with open(cls.new_exe + ".minisig", "wb") as f:
            f.write(b"untrusted comment: signature\n")
        cls.servers = Servers(d, "--content", cls.content, "--config", CONFIG,
                              "--version", "1.12", "--exe", cls.new_exe,
                              "--public-ip", "203.0.113.7", "--time-limit", 600,
                              "--flash-vars", "serverId=1&resBase={cdnUrl}")
        cls.urls = cls.servers.info["urls"]

    @classmethod
    def tearDownClass(cls):
        cls.servers.stop()
        cls.tmp.cleanup()

    def content_file(self, name):
        with open(os.path.join(self.content, name), "rb") as f:
            return f.read()

    def test_ports_are_distinct_and_on_loopback(self):
        ports = self.servers.info["ports"]
        self.assertEqual(sorted(ports), ["content", "game", "ip", "update"])
        self.assertEqual(len(set(ports.values())), 4)
        for url in self.urls.values():
            self.assertTrue(url.startswith("http://127.0.0.1:"), url)

    def test_game_page_passes_the_connect_port_into_the_flash_vars(self):
        for query, port in (("?connectPort=9898&clientversionz=2", "9898"),
                            ("?server=1&connectPort=10001&clientversionz=2", "10001")):
            with self.subTest(query=query):
                status, body = get(self.urls["game_page"] + query)
                self.assertEqual(status, 200)
                root = ET.fromstring(body)
                self.assertEqual(root.tag, "root")
                flash_vars = urllib.parse.parse_qs(root.findtext("flashVars"))
                self.assertEqual(flash_vars["connectPort"], [port])
                self.assertEqual(flash_vars["serverId"], ["1"])
                self.assertEqual(flash_vars["resBase"], [self.urls["cdn"]])
                self.assertEqual(root.findtext("cdnUrl"), self.urls["cdn"])
                status, _ = get(root.findtext("asynUrl"))
                self.assertEqual(status, 200)
        self.assertEqual(get(self.urls["game_page"])[0], 400)
        self.assertEqual(get(self.urls["game_page"].rsplit("/", 1)[0] + "/other.php?connectPort=1")[0], 404)

    def test_content_server_ignores_the_tick(self):
        cdn = self.urls["cdn"]
        for name, tick in (("hashkey.txt", "123456"), ("hashdict.zip", "-987654"),
                           ("GameFrame.dat", "42")):
            with self.subTest(name=name):
                self.assertEqual(get(cdn + name + "?" + tick), (200, self.content_file(name)))
        # A resource whose name is not ASCII: libcurl sends such bytes percent-escaped,
        # in lower-case hexadecimal; other clients use upper case.
        name = "maps/第一关/terrain.cbp"
        escaped = urllib.parse.quote(name)
        port = self.servers.info["ports"]["content"]
        for target in (escaped, escaped.lower()):
            with self.subTest(target=target):
                self.assertEqual(raw_get(port, ("/" + target + "?7").encode()), (200, self.resource))

    def test_content_server_stays_inside_its_folder(self):
        port = self.servers.info["ports"]["content"]
        for target in ("/../content/hashkey.txt", "/maps/../hashkey.txt", "/%2e%2e/x",
                       "/missing.png", "/", "/maps", "/%ff.png"):
            with self.subTest(target=target):
                self.assertEqual(raw_get(port, target.encode())[0], 404)

    def test_update_server_and_ip_page(self):
        self.assertTrue(self.urls["version"].endswith("/client/chn1/version.txt"))
        self.assertEqual(get(self.urls["version"]), (200, b"1.12"))
        self.assertTrue(self.urls["exe"].endswith("/client/chn1/Launcher_new.exe"))
        self.assertEqual(get(self.urls["exe"]), (200, b"MZ new launcher"))
        self.assertEqual(self.urls["signature"], self.urls["exe"] + ".minisig")
        self.assertEqual(get(self.urls["signature"]), (200, b"untrusted comment: signature\n"))
        status, page = get(self.urls["ip_page"])
        self.assertEqual(status, 200)
        line = page.decode().splitlines()[2]
        self.assertEqual(line[line.index("[") + 1:line.index("]")], "203.0.113.7")
        # No earlier line holds a bracket: the launcher takes the first line with both.
        self.assertFalse(any(c in l for l in page.decode().splitlines()[:2] for c in "[]"))

    def test_statistics_and_log_record_what_was_served(self):
        get(self.urls["cdn"] + "hashkey.txt?1")
        get(self.urls["cdn"] + "nothing.here")
        stats = json.loads(get(self.urls["stats"])[1])
        content = stats["content"]
        self.assertGreaterEqual(content["paths"].get("/hashkey.txt", 0), 1)
        self.assertGreaterEqual(content["failed"], 1)
        with open(self.servers.log, encoding="utf-8") as f:
            lines = [json.loads(line) for line in f]
        self.assertIn({"server": "content", "path": "/nothing.here", "status": 404},
                      [{k: l[k] for k in ("server", "path", "status")} for l in lines])


class LifetimeTests(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def test_ends_by_itself_after_its_time_limit(self):
        servers = Servers(self.tmp.name, "--content", self.tmp.name, "--time-limit", 1)
        status, out = servers.wait()
        self.assertEqual(status, 0)
        self.assertIn("time limit", out)
        with self.assertRaises(OSError):
            socket.create_connection(("127.0.0.1", servers.info["ports"]["game"]), timeout=5).close()

    def test_sigterm_ends_it_with_a_summary(self):
        servers = Servers(self.tmp.name, "--content", self.tmp.name, "--time-limit", 600)
        get(servers.info["urls"]["ip_page"])
        status, out = servers.stop()
        self.assertEqual(status, 0)
        self.assertIn("SIGTERM", out)
        self.assertRegex(out, r"ip\s+1 requests")

    def test_bad_input_is_one_line_and_exit_status_1(self):
        busy = socket.socket()
        busy.bind(("127.0.0.1", 0))
        busy.listen(1)
        self.addCleanup(busy.close)
        d = self.tmp.name
        cases = (
            (["--content", os.path.join(d, "missing")], "does not exist"),
            (["--content", d, "--game-port", str(busy.getsockname()[1])], "cannot listen"),
            (["--content", d, "--version", "1.2"], "needs --version-path"),
            (["--content", d, "--exe", os.path.join(d, "none.exe"), "--exe-path", "/a.exe"],
             "cannot read"),
            (["--content", d, "--version", "1", "--version-path", "v.txt"], "must start with"),
            (["--content", d, "--config", os.path.join(d, "none.txt")], "cannot read"),
        )
        for options, expected in cases:
            with self.subTest(options=options):
                run = subprocess.run([sys.executable, SERVERS, "--time-limit", "5"] + options,
                                     capture_output=True, text=True, timeout=END_WAIT)
                self.assertEqual(run.returncode, 1)
                self.assertEqual(len(run.stderr.strip().splitlines()), 1, run.stderr)
                self.assertIn(expected, run.stderr)


if __name__ == "__main__":
    unittest.main()
