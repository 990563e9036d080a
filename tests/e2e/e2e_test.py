"""The launcher end to end: Launcher.exe under Wine against the demo servers, with the
Flash stand-in playing the demo movie.

Run 1 starts with an empty cache: every resource the movie asks for must reach it through
the local server with the published bytes, and the cache must hold each one scrambled.
Run 2, in the same folder, must serve them from the cache: the content server sees no
request for a resource. Run 3 finds version 1.12 on the update server, signed with a
minisign key made for the run whose public key the package carries: once the launcher
has ended, its update batch must have replaced Launcher.exe with the new executable and
started it.

Paths come from the environment (set by CTest): E2E_LAUNCHER (the plain Launcher.exe),
E2E_SKINS (the drawn demo skins), E2E_STANDIN (FlashStandin.dll), E2E_NEW_EXE (the
executable the update server offers; it leaves started.txt beside itself when run),
E2E_WORK (a folder of its own). The test uses a Wine prefix of its own below E2E_WORK, so
that registering the stand-in touches no other test, and an Xvfb display of its own, so
that its full-size game window covers no other test's windows.

    python3 e2e_test.py --benchmark [frame MB]
measures instead of testing and prints figures: with a cold and a warm cache for a large
game frame, the time from the process start to each step of the launch (from the
launcher's log and the movie's report), then the CPU the launcher uses over 10 s while
its game window is open and nothing is asked.
"""

import datetime
import os
import shutil
import subprocess
import sys
import time
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "demo"))

import launcher_run as run  # noqa: E402
from minisign_cli import SigningKey  # noqa: E402

CONFIG = os.path.join(run.PACKAGE, "config", "cg.txt")
RUN_TIMEOUT = 120
BATCH_TIMEOUT = 60


def environment_path(name):
    value = os.environ.get(name)
    if not value:
        raise unittest.SkipTest("%s is not set (the test runs from CTest)" % name)
    return os.path.abspath(value)


def script_names():
    """The resources the demo movie asks for, in its order."""
    with open(run.SCRIPT, encoding="utf-8") as f:
        return [line.split()[1] for line in f if line.split()[:1] == ["get"]]


class WineSession:
    """A Wine prefix and server of the test's own, and a display of its own."""

    def __init__(self, prefix):
        self.saved = {k: os.environ.get(k) for k in ("WINEPREFIX", "DISPLAY")}
        os.makedirs(os.path.dirname(prefix), exist_ok=True)
        os.environ["WINEPREFIX"] = prefix
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24",
                                      "-nolisten", "tcp"], pass_fds=(write,), stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            os.environ["DISPLAY"] = ":" + f.readline().strip()
        env = run.wine_environment()
        # The first start creates the prefix (tens of seconds); later ones find it.
        subprocess.run([run.WINE, "wineboot", "-i"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)
        subprocess.run(["wineserver", "-p"], env=env, check=False)
        run.apply_prefix_settings()

    def close(self):
        subprocess.run(["wineserver", "-k"], env=run.wine_environment(), check=False)
        self.xvfb.terminate()
        self.xvfb.wait()
        for key, value in self.saved.items():
            if value is None:
                os.environ.pop(key, None)
            else:
                os.environ[key] = value


class Rig:
    """Published content, servers and a packaged launcher in a folder of their own."""

    def __init__(self, work, flash_vars_extra="", version="1.11", new_exe=None, pad=0, update_key=None, quit_after=0):
        self.work = work
        os.makedirs(work, exist_ok=True)
        movie = os.path.join(work, "demo.swf")
        run.make_movie(movie, pad=pad)
        self.content = os.path.join(work, "content")
        run.publish(movie, CONFIG, self.content)
        self.run_dir = os.path.join(work, "run")
        local_dir = run.windows_path(os.path.join(self.run_dir, *run.SPID)) + "\\"
        flash_vars = "serverId=1&account=e2e&localDir=%s&resBase={cdnUrl}&quitAfter=%d%s" % (
            local_dir, quit_after, flash_vars_extra)
        self.servers = run.Servers(os.path.join(work, "servers"), self.content, CONFIG, flash_vars,
                                   version=version, exe=new_exe, time_limit=600)
        self.exe = os.path.join(self.run_dir, "Launcher.exe")
        values = {"firstUrl": "1", "port": str(self.servers.ports["update"])}
        if update_key:
            values["updateKey"] = update_key
        run.build_launcher(environment_path("E2E_LAUNCHER"), environment_path("E2E_SKINS"), self.exe, values, work)
        self.runs = 0

    def start(self):
        self.runs += 1
        report = os.path.join(self.work, "report%d.jsonl" % self.runs)
        return run.Launcher(self.exe, self.servers.urls["game_page"], report,
                            os.path.join(self.work, "launcher%d.log" % self.runs), self.servers.urls["ip_page"])

    def launch(self):
        """One run to its end; the launcher and the requests the servers saw meanwhile."""
        seen = len(self.servers.requests())
        launcher = self.start()
        launcher.wait_exit(RUN_TIMEOUT)
        return launcher, self.servers.requests()[seen:]

    def stop(self):
        self.servers.stop()


class EndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = environment_path("E2E_WORK")
        standin = environment_path("E2E_STANDIN")
        cls.new_exe = environment_path("E2E_NEW_EXE")
        for part in ("cache", "update"):
            shutil.rmtree(os.path.join(cls.work, part), ignore_errors=True)
        cls.wine = WineSession(os.path.join(cls.work, "wineprefix"))
        cls.addClassCleanup(cls.wine.close)
        run.register_standin(standin)
        cls.names = script_names()
        cls.rig = Rig(os.path.join(cls.work, "cache"))
        cls.addClassCleanup(cls.rig.stop)
        # What the content server holds for each resource the movie asks for.
        cls.plain = {}
        for name in cls.names:
            with open(os.path.join(cls.rig.content, *name.split("/")), "rb") as f:
                cls.plain[name] = f.read()
        cls.first, cls.first_requests = cls.rig.launch()
        cls.second, cls.second_requests = cls.rig.launch()

    def check_served(self, launcher):
        """Every resource the movie asked for, answered once with the published bytes."""
        self.assertEqual(launcher.events("error"), [])
        files = {f["name"]: f for f in launcher.events("file")}
        self.assertEqual(sorted(files), sorted(self.names))
        for name, f in files.items():
            with self.subTest(name=name):
                self.assertEqual(f["status"], 0)
                self.assertEqual(f["size"], len(self.plain[name]))
                self.assertEqual(f["crc32"], "%08x" % (zlib.crc32(self.plain[name]) & 0xFFFFFFFF))
                self.assertEqual(f["head"], self.plain[name][:16].hex())
        done = launcher.events("done")
        self.assertEqual(len(done), 1)
        self.assertEqual((done[0]["files"], done[0]["failed"], done[0]["ok"]), (len(self.names), 0, 1))

    def test_the_movie_gets_every_resource_through_the_local_server(self):
        self.check_served(self.first)
        self.assertEqual(len(self.first.events("policy")), 1)
        self.assertEqual(self.first.events("policy")[0]["bytes"], 111)
        self.assertEqual(len(self.first.events("handshake")), 1)
        # A cold cache: the launcher fetched each resource from the content server once.
        fetched = [r["path"].split("?", 1)[0].lstrip("/") for r in self.first_requests if r["server"] == "content"]
        for name in self.names:
            self.assertEqual(fetched.count(name), 1, name)

    def test_the_bridge_carries_the_game_parameters_and_the_client_information(self):
        init = self.first.events("init")
        self.assertEqual(len(init), 1)
        self.assertIn("account=e2e", init[0]["flashVars"])
        self.assertRegex(init[0]["flashVars"], r"connectPort=\d+")
        self.assertEqual([b["arguments"][0] for b in self.first.events("bridge")], ["6", "7", "1"])
        calls = self.first.events("call")
        self.assertEqual(len(calls), 1)
        event, mac, ip, origin = calls[0]["arguments"]
        self.assertEqual((event, ip, origin), ("5", "127.0.0.1", "demo"))
        self.assertRegex(mac, r"^[0-9a-f]{2}(-[0-9a-f]{2}){5}$")
        self.assertEqual(len([r for r in self.first_requests if r["server"] == "ip"]), 1)

    def test_the_cache_holds_the_resources_scrambled(self):
        for name in self.names:
            with self.subTest(name=name):
                with open(os.path.join(self.first.cache, *name.split("/")), "rb") as f:
                    cached = f.read()
                plain = self.plain[name]
                self.assertEqual(cached, run.scrambled(plain))
                self.assertNotEqual(cached[:16], plain[:16])

    def test_a_second_run_serves_the_resources_from_the_cache(self):
        self.check_served(self.second)
        content = [r["path"].split("?", 1)[0].lstrip("/") for r in self.second_requests if r["server"] == "content"]
        self.assertEqual([p for p in content if p in self.names], [])
        # The dictionary and the frame are current as well: only the hash key is asked for.
        self.assertNotIn("GameFrame.dat", content)
        self.assertNotIn("hashdict.zip", content)
        self.assertIn("hashkey.txt", content)

    def test_a_newer_signed_version_replaces_the_executable_through_the_batch(self):
        work = os.path.join(self.work, "update")
        key = SigningKey(os.path.join(work, "key"))
        new_exe = os.path.join(work, "Launcher_new.exe")
        shutil.copyfile(self.new_exe, new_exe)
        key.sign(new_exe, "version:1.12")
        rig = Rig(work, version="1.12", new_exe=new_exe, update_key=key.public)
        self.addCleanup(rig.stop)
        launcher, requests = rig.launch()
        update = [r["path"] for r in requests if r["server"] == "update"]
        self.assertEqual(update, ["/client/chn1/version.txt", "/client/chn1/Launcher_new.exe",
                                  "/client/chn1/Launcher_new.exe.minisig"])
        with open(new_exe, "rb") as f:
            wanted = f.read()

        def replaced():
            with open(rig.exe, "rb") as f:
                return f.read() == wanted
        run.wait_for("the update batch to replace Launcher.exe", replaced, BATCH_TIMEOUT)
        marker = os.path.join(rig.run_dir, "started.txt")
        run.wait_for("the new Launcher.exe to start", lambda: os.path.exists(marker), BATCH_TIMEOUT)
        with open(marker, "rb") as f:
            started = f.read().decode("utf-16-le")
        self.assertEqual(started.lower(), run.windows_path(rig.exe).lower())
        self.assertFalse(os.path.exists(os.path.join(launcher.cache, "Launcher.exe")))


# The launch's steps as the launcher logs them (LAUNCHER_LOG), in their order.
LAUNCH_STEPS = [
    ("first window", "launch: update dialog shown"),
    ("game page", "launch: answer of kind 1 arrived"),
    ("hash key", "launch: answer of kind 2 arrived"),
    ("check values", "launch: check values compared"),
    ("dictionary", "launch: answer of kind 3 arrived"),
    ("game frame", "launch: answer of kind 4 arrived"),
    ("dialog closed", "launch: update dialog closed"),
    ("game window shown", "launch: game window opened"),
    ("movie loaded", "launch: game movie loaded"),
]


def logged_time(line):
    """The time of a log line ("YYYY-MM-DD HH:MM:SS.mmm [level] text", local time)."""
    stamp = datetime.datetime.strptime(line[:23], "%Y-%m-%d %H:%M:%S.%f")
    return stamp.timestamp()


def launch_steps(launcher):
    """(step, seconds since the process start) for each step the run went through."""
    lines = launcher.log_lines()
    steps = [("process start", 0.0)]
    for name, text in LAUNCH_STEPS:
        found = [line for line in lines if text in line]
        if found:
            steps.append((name, logged_time(found[0]) - launcher.started))
    steps.append(("_InitGameParams", launcher.events("init")[0]["ms"] / 1000.0 - launcher.started))
    return steps


def cpu_seconds(pid):
    """User and system CPU seconds of a process so far (/proc, as GetProcessTimes reads it under Wine)."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def wineserver_pid():
    """The pid of the Wine server of this session's prefix (its cwd is the prefix's server folder)."""
    prefix_device = os.stat(os.environ["WINEPREFIX"]).st_ino
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % entry) as f:
                if f.read().strip() != "wineserver":
                    continue
            server_dir = os.readlink("/proc/%s/cwd" % entry)
        except OSError:
            continue
        if os.path.basename(server_dir).endswith("-%x" % prefix_device):
            return int(entry)
    return None


def benchmark(frame_mb):
    work = environment_path("E2E_WORK")
    bench = os.path.join(work, "benchmark")
    shutil.rmtree(bench, ignore_errors=True)
    session = WineSession(os.path.join(work, "wineprefix"))
    rig = None
    idle_seconds = 10
    try:
        run.register_standin(environment_path("E2E_STANDIN"))
        rig = Rig(bench, pad=frame_mb * 1024 * 1024, quit_after=(idle_seconds + 5) * 1000)
        frame = os.path.getsize(os.path.join(rig.content, "GameFrame.dat"))
        print("game frame: %.1f MB" % (frame / 1e6))
        runs = []
        for label in ("cold cache", "warm cache"):
            launcher = rig.start()
            launcher.wait_event("done", RUN_TIMEOUT)
            if label == "warm cache":
                # The movie has all it asked for and waits: the launcher is idle.
                server = wineserver_pid()
                before = cpu_seconds(launcher.process.pid), server and cpu_seconds(server)
                time.sleep(idle_seconds)
                after = cpu_seconds(launcher.process.pid), server and cpu_seconds(server)
            launcher.wait_exit(RUN_TIMEOUT)
            runs.append((label, launch_steps(launcher)))
        names = [name for name, _ in runs[0][1]]
        print("%-18s %10s %10s" % ("step (s from start)", runs[0][0], runs[1][0]))
        for name in names:
            cells = []
            for _, steps in runs:
                found = [t for n, t in steps if n == name]
                cells.append("%10.3f" % found[0] if found else "%10s" % "-")
            print("%-18s %s" % (name, " ".join(cells)))
        print("idle launcher over %d s (game window open, nothing asked): %.2f %% of a core" %
              (idle_seconds, (after[0] - before[0]) / idle_seconds * 100))
        if server:
            print("  the Wine server meanwhile: %.2f %% of a core" % ((after[1] - before[1]) / idle_seconds * 100))
    finally:
        if rig:
            rig.stop()
        session.close()


if __name__ == "__main__":
    if sys.argv[1:2] == ["--benchmark"]:
        benchmark(int(sys.argv[2]) if len(sys.argv) > 2 else 5)
    else:
        unittest.main()
