"""The pieces of a launcher run against the demo servers, shared by ./scripts/demo
(demo/run_demo.py) and the end-to-end test: the demo movie and its published content,
the servers, a Launcher.exe whose package points at them, the Flash stand-in registered
in a Wine prefix, the launcher started under Wine, and what each of them recorded.

Wine runs with the WINEPREFIX and DISPLAY of the environment.
"""

import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import time

DEMO = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(DEMO)
TOOLS = os.path.join(REPO, "tools")
sys.path.insert(0, TOOLS)

import make_test_swf  # noqa: E402

WINE = "/usr/lib/wine/wine64"
PACKAGE = os.path.join(DEMO, "package")
RESOURCES = os.path.join(DEMO, "content")
SCRIPT = os.path.join(DEMO, "movie", "script.txt")
SPID = ("tarn", "chn1")  # spid of demo/package/config/cg.txt: the cache folder below the exe

# The launcher's cache scrambling: the first 256 bytes of a cached file (all whole words of
# a shorter one) XORed with these four little-endian words.
CACHE_KEY_TABLE = (0x6F2677F1, 0x671D4082, 0xEA1FE59C, 0xDFCB498F)


class RunError(Exception):
    """A step of the run failed; the message says which."""


def windows_path(path):
    """The path as Wine's programs see it (drive Z: is the root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def scrambled(data):
    """`data` as the launcher keeps it in its cache (the same call undoes it)."""
    out = bytearray(data)
    words = min(len(out), 256) // 4
    for i in range(words):
        word = struct.unpack_from("<I", out, 4 * i)[0] ^ CACHE_KEY_TABLE[i % 4]
        struct.pack_into("<I", out, 4 * i, word)
    return bytes(out)


def wait_for(what, predicate, timeout, interval=0.1):
    """The first true value of predicate() within timeout seconds; RunError otherwise."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise RunError("timed out after %g s waiting for %s" % (timeout, what))
        time.sleep(interval)


def wine_environment(extra=None):
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("WINEDLLOVERRIDES", "mscoree=;mshtml=")
    if extra:
        env.update(extra)
    return env


def make_movie(path, script_path=SCRIPT, pad=0):
    """The demo movie: a 800 x 600 stage carrying the stand-in script (and `pad` bytes)."""
    with open(script_path, "rb") as f:
        script = f.read()
    movie = make_test_swf.make_swf(800, 600, 24, 1, background=0x1E2A38, script=script, pad=pad)
    with open(path, "wb") as f:
        f.write(movie)
    return movie


def publish(movie, config, out, resources=RESOURCES):
    subprocess.run([sys.executable, os.path.join(TOOLS, "publish_content.py"), "--config", config,
                    "--movie", movie, "--resources", resources, "-o", out, "--quiet"], check=True)


def rewrite_config(text, values):
    """cg.txt text with the keys of `values` set: "key" is a key of [global],
    "section.key" one of another section; every key must be there."""
    lines = text.split("\n")
    section = None
    left = {name if "." in name else "global." + name: value for name, value in values.items()}
    for i, line in enumerate(lines):
        stripped = line.strip().lstrip("\ufeff")
        if stripped.startswith("["):
            section = stripped.strip("[]").strip().lower()
            continue
        key, equals, _ = stripped.partition("=")
        name = "%s.%s" % (section, key.strip())
        if equals and name in left:
            lines[i] = "%s=%s" % (key.strip(), left.pop(name))
    if left:
        raise RunError("cg.txt has no key %s" % ", ".join(sorted(left)))
    return "\n".join(lines)


def build_launcher(plain_exe, skins, out_exe, values, work, files=None):
    """out_exe: plain_exe with the demo package, its cg.txt changed by `values` and the
    entries of `files` ({package path: bytes}) added."""
    package = os.path.join(work, "package")
    shutil.rmtree(package, ignore_errors=True)
    shutil.copytree(PACKAGE, package)
    for name, data in (files or {}).items():
        with open(os.path.join(package, *name.split("/")), "wb") as f:
            f.write(data)
    config = os.path.join(package, "config", "cg.txt")
    with open(config, encoding="utf-8") as f:
        text = f.read()
    with open(config, "w", encoding="utf-8") as f:
        f.write(rewrite_config(text, values))
    os.makedirs(os.path.dirname(os.path.abspath(out_exe)), exist_ok=True)
    subprocess.run([sys.executable, os.path.join(TOOLS, "make_package.py"), "--exe", plain_exe,
                    "-o", out_exe, package, skins], check=True, stdout=subprocess.DEVNULL)
    return config


# What every prefix of ours holds, as the tests' Wine wrapper sets it: Chinese dialog
# text (which falls back to SimSun) in the system's WenQuanYi font; unmanaged windows
# (Wine's X11 driver otherwise waits up to 2 s for a window manager, which Xvfb lacks,
# each time a window is hidden); no debugger for a crashing program, which then ends at once
# with the exception's code.
PREFIX_SETTINGS = (
    (r"HKCU\Software\Wine\Fonts\Replacements", "SimSun", "REG_SZ", "WenQuanYi Micro Hei"),
    (r"HKCU\Software\Wine\X11 Driver", "Managed", "REG_SZ", "N"),
    (r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug", "Debugger", "REG_SZ", ""),
)


def apply_prefix_settings():
    """Writes PREFIX_SETTINGS into the prefix once."""
    prefix = os.environ.get("WINEPREFIX")
    if not prefix:
        return
    marker = os.path.join(prefix, ".launcher-settings-3")
    if os.path.exists(marker):
        return
    for key, name, kind, value in PREFIX_SETTINGS:
        result = subprocess.run([WINE, "reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f"],
                                env=wine_environment(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if result.returncode != 0:
            return
    open(marker, "w").close()


def register_standin(dll, unregister=False):
    command = [WINE, "regsvr32", "/s"] + (["/u"] if unregister else []) + [windows_path(dll)]
    result = subprocess.run(command, env=wine_environment(), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    if result.returncode != 0 and not unregister:
        raise RunError("regsvr32 could not register %s (exit status %d)" % (dll, result.returncode))


def read_json_lines(path):
    """The complete lines of a JSON-lines file; a line still being written is left out."""
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except FileNotFoundError:
        return []
    entries = []
    for line in text.split("\n")[:-1]:
        if line.strip():
            entries.append(json.loads(line))
    return entries


class Servers:
    """demo/servers.py as a process of its own."""

    def __init__(self, work, content, config, flash_vars, version=None, exe=None, time_limit=600):
        os.makedirs(work, exist_ok=True)
        self.ports_file = os.path.join(work, "ports.json")
        self.log = os.path.join(work, "requests.log")
        self.output = os.path.join(work, "servers.out")
        for stale in (self.ports_file, self.log):
            if os.path.exists(stale):
                os.unlink(stale)
        command = [sys.executable, os.path.join(DEMO, "servers.py"), "--content", content, "--config", config,
                   "--flash-vars", flash_vars, "--ports-file", self.ports_file, "--log", self.log,
                   "--time-limit", str(time_limit)]
        if version:
            command += ["--version", version]
        if exe:
            command += ["--exe", exe]
        self.output_file = open(self.output, "w")
        self.process = subprocess.Popen(command, stdout=self.output_file, stderr=subprocess.STDOUT)
        try:
            wait_for("the demo servers", self._ready, 60)
        except RunError:
            self.stop()
            raise
        with open(self.ports_file, encoding="utf-8") as f:
            self.info = json.load(f)

    def _ready(self):
        if self.process.poll() is not None:
            with open(self.output) as f:
                raise RunError("the demo servers ended: %s" % f.read().strip())
        return os.path.exists(self.ports_file)

    @property
    def ports(self):
        return self.info["ports"]

    @property
    def urls(self):
        return self.info["urls"]

    def requests(self, server=None):
        return [r for r in read_json_lines(self.log) if server is None or r["server"] == server]

    def stop(self):
        """Stops the servers by their pid; returns what they printed."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.output_file.close()
        with open(self.output) as f:
            return f.read()


class Launcher:
    """Launcher.exe started under Wine in its own folder, with the game page address as
    its argument unless game_page is None."""

    def __init__(self, exe, game_page, report, log, ip_page):
        self.exe = exe
        self.folder = os.path.dirname(os.path.abspath(exe))
        self.report = report
        self.log = log
        self.started = time.time()
        env = wine_environment({"FLASH_STANDIN_REPORT": windows_path(report),
                                "LAUNCHER_LOG": windows_path(log),
                                "LAUNCHER_IP_PAGE": ip_page})
        env.pop("LAUNCHER_STARTUP_REPORT", None)
        command = [WINE, os.path.basename(exe)] + ([game_page] if game_page is not None else [])
        self.process = subprocess.Popen(command, cwd=self.folder, env=env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    @property
    def cache(self):
        return os.path.join(self.folder, *SPID)

    def events(self, kind=None):
        return [e for e in read_json_lines(self.report) if kind is None or e["event"] == kind]

    def log_lines(self):
        """The lines the launcher logged (LAUNCHER_LOG)."""
        try:
            with open(self.log, encoding="utf-8", errors="replace") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def wait_event(self, kind, timeout):
        def seen():
            if self.process.poll() is not None and not self.events(kind):
                raise RunError("Launcher.exe ended (status %s) before the movie reported %s"
                               % (self.process.returncode, kind))
            return self.events(kind)
        return wait_for("the movie's %s report" % kind, seen, timeout)[0]

    def wait_exit(self, timeout):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise RunError("Launcher.exe did not end within %g s" % timeout)

    def stop(self):
        """Ends this launcher's process (by its pid) if it still runs."""
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def screenshot(path):
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    subprocess.run(["import", "-window", "root", path], check=True)


def cached_files(cache):
    """Relative names ("/" separators) of the files below the cache folder."""
    names = []
    for folder, _, files in os.walk(cache):
        for name in files:
            names.append(os.path.relpath(os.path.join(folder, name), cache).replace(os.sep, "/"))
    return sorted(names)


def resource_names(resources=RESOURCES):
    return cached_files(resources)
