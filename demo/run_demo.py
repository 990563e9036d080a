#!/usr/bin/env python3
"""Walks through the launcher's windows with the demo servers, for ./scripts/demo.

    run_demo.py --build build/x86_64 --out build/x86_64/demo

Publishes the demo movie and demo/content, makes a minisign key for this run only (no
password, in the run's folder), starts demo/servers.py and registers the Flash stand-in
in the Wine prefix. Every Launcher.exe of the run carries the demo package, asks the demo
update server for its version and carries the run's key as its updateKey. Then:
- the splash: a package with BoPlaySwf and a splash movie; a screenshot, then it is ended;
- the login window, its page on the game server (which has none: the hint shows); a
  screenshot, then it is ended;
- the login window whose page hands over through the game header ("client://loadgame|"
  and the game page's address): the update dialog and the game window follow, each with
  a screenshot, and the demo movie ends the game;
- the self-update: a second set of servers offers a newer version, signed with the run's
  key, and a Launcher.exe started with the game page's address checks the signature and
  installs it through its batch.
Stops the servers and prints what happened. Wine runs with the WINEPREFIX and DISPLAY of
the environment.
"""

import argparse
import os
import shutil
import sys
import time

import launcher_run as run
import make_test_swf
from minisign_cli import SigningKey

# The game window stays this long after the movie is done, for the screenshot and a look.
QUIT_AFTER_MS = 6000
# A window is given this long to paint once it is up, before its screenshot; the splash
# (whose movie says nothing) this long from its start.
SETTLE_SECONDS = 1.5
SPLASH_SECONDS = 4
LAUNCHER_VERSION = "1.11"  # of demo/package/config/cg.txt
UPDATE_VERSION = "1.12"
CONFIG = os.path.join(run.PACKAGE, "config", "cg.txt")


def flash_vars(run_dir, quit_after_ms):
    local_dir = run.windows_path(os.path.join(run_dir, *run.SPID)) + "\\"
    return "serverId=1&account=demo&localDir=%s&resBase={cdnUrl}&quitAfter=%d" % (local_dir, quit_after_ms)


def self_update(build, out, content, key):
    """A launcher against servers that offer UPDATE_VERSION signed with key: it must verify
    the signature, and its batch must replace it with the new executable (update_marker.exe
    of the test build, which notes that it was started) and start that. Lines for the
    summary."""
    marker = os.path.join(build, "tests", "update", "update_marker.exe")
    if not os.path.isfile(marker):
        raise run.RunError("%s is missing (the x86_64 build makes it)" % marker)
    work = os.path.join(out, "update")
    run_dir = os.path.join(work, "run")
    new_exe = os.path.join(work, "Launcher_new.exe")
    os.makedirs(work)
    shutil.copyfile(marker, new_exe)
    key.sign(new_exe, "version:" + UPDATE_VERSION)
    servers = run.Servers(os.path.join(work, "servers"), content, CONFIG, flash_vars(run_dir, 0),
                          version=UPDATE_VERSION, exe=new_exe)
    try:
        exe = os.path.join(run_dir, "Launcher.exe")
        run.build_launcher(os.path.join(build, "Launcher.exe"), os.path.join(build, "demo_skins"), exe,
                           package_values(servers, key, {"firstUrl": "1"}), work)
        print("== Launcher.exe %s, with version %s on the update server" % (servers.urls["game_page"], UPDATE_VERSION))
        launcher = run.Launcher(exe, servers.urls["game_page"], os.path.join(work, "movie-report.jsonl"),
                                os.path.join(work, "launcher.log"), servers.urls["ip_page"])
        launcher.wait_exit(120)
        with open(new_exe, "rb") as f:
            wanted = f.read()

        def replaced():
            with open(exe, "rb") as f:
                return f.read() == wanted
        run.wait_for("the update batch to replace Launcher.exe", replaced, 60)
        run.wait_for("the new Launcher.exe to start", lambda: os.path.exists(os.path.join(run_dir, "started.txt")), 60)
    finally:
        servers.stop()
    verified = [line for line in launcher.log_lines() if "signature verified" in line]
    if not verified:
        raise run.RunError("the launcher logged no verified signature: %s" % launcher.log_lines())
    fetched = [r["path"] for r in servers.requests("update") if r["status"] == 200]
    return ["== self-update to %s, signed with the run's key %s (%s)" % (UPDATE_VERSION, key.key_id,
                                                                           os.path.relpath(key.public_file)),
            "  fetched from the update server: " + ", ".join(fetched),
            "  the update's signature was verified; the launcher logged: "
            + verified[0][verified[0].index("self-update"):],
            "  the batch replaced %s with the new executable, which started" % os.path.relpath(exe)]


def package_values(servers, key, values):
    """The cg.txt changes of a demo launcher: its update server, its key, and `values`."""
    return dict({"port": str(servers.ports["update"]), "updateKey": key.public}, **values)


def show_and_end(build, out, name, values, files, shot, shown):
    """A launcher without arguments whose package has `values` and `files`: once shown()
    holds and a moment after, the screen goes to `shot` and the launcher is ended."""
    work = os.path.join(out, name)
    exe = os.path.join(work, "Launcher.exe")
    run.build_launcher(os.path.join(build, "Launcher.exe"), os.path.join(build, "demo_skins"), exe, values, work,
                       files)
    print("== Launcher.exe with the %s" % name)
    launcher = run.Launcher(exe, None, os.path.join(work, "movie-report.jsonl"), os.path.join(work, "launcher.log"),
                            "")
    try:
        run.wait_for("the %s" % name, shown, 60)
        time.sleep(SETTLE_SECONDS)
        if launcher.process.poll() is not None:
            raise run.RunError("Launcher.exe with the %s ended (status %s)" % (name, launcher.process.returncode))
        run.screenshot(shot)
    finally:
        launcher.stop()


def splash_and_login(build, out, servers, key, shots):
    """The splash, then the login window whose page does not hand over."""
    splash = make_test_swf.make_swf(800, 600, 24, 1, background=0x2A1E38)
    started = time.monotonic()
    show_and_end(build, out, "splash", package_values(servers, key, {"BoPlaySwf": "1"}),
                 {"config/launcher.swf": splash}, shots["splash"],
                 lambda: time.monotonic() - started > SPLASH_SECONDS)
    # The page's request shows the window is up; a browser that asks nothing gets as long
    # as the splash.
    login_page = servers.urls["game_page"].rsplit("/", 1)[0] + "/login.html"
    started = time.monotonic()
    show_and_end(build, out, "login window", package_values(servers, key, {"link5.url": login_page}), None,
                 shots["login"], lambda: any(r["path"] == "/login.html" for r in servers.requests("game"))
                 or time.monotonic() - started > SPLASH_SECONDS)


def summary(servers, launcher, shots):
    lines = ["== servers on 127.0.0.1: " + ", ".join("%s %d" % kv for kv in servers.ports.items())]
    fetched = [r["path"].split("?", 1)[0] for r in servers.requests("content") if r["status"] == 200]
    lines.append("== fetched by the launcher from the content server (%d)" % len(fetched))
    lines += ["  " + path for path in fetched]
    cached = run.cached_files(launcher.cache)
    lines.append("== cached in %s (%d)" % (os.path.relpath(launcher.cache), len(cached)))
    for name in cached:
        lines.append("  %-22s %7d bytes" % (name, os.path.getsize(os.path.join(launcher.cache, name))))
    files = launcher.events("file")
    lines.append("== served to the movie by the local server (%d)" % len(files))
    for f in files:
        if f["status"] == 0:
            lines.append("  %-22s %7d bytes  CRC-32 %s" % (f["name"], f["size"], f["crc32"]))
        else:
            lines.append("  %-22s failed: %s" % (f["name"], f.get("address", "")))
    for call in launcher.events("call"):
        lines.append("== the launcher answered the movie: ClientCallJs " + ", ".join(call["arguments"]))
    lines.append("== screenshots")
    lines += ["  " + os.path.relpath(shot) for shot in shots.values()]
    return "\n".join(lines)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="the x86_64 build tree")
    parser.add_argument("--out", required=True, help="folder for the run (emptied first)")
    args = parser.parse_args(argv)
    build = os.path.abspath(args.build)
    out = os.path.abspath(args.out)
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    run_dir = os.path.join(out, "run")
    shots = {name: os.path.join(out, "shots", name + ".png")
             for name in ("splash", "login", "update_dialog", "game_window")}
    dll = os.path.join(build, "standins", "flash", "FlashStandin.dll")

    print("== publishing the demo movie and demo/content")
    movie = os.path.join(out, "demo.swf")
    run.make_movie(movie)
    content = os.path.join(out, "content")
    run.publish(movie, CONFIG, content)
    key = SigningKey(os.path.join(out, "key"))
    print("== a minisign key for this run: %s" % key.key_id)

    servers = run.Servers(os.path.join(out, "servers"), content, CONFIG, flash_vars(run_dir, QUIT_AFTER_MS),
                          version=LAUNCHER_VERSION)
    registered = False
    launcher = None
    update = []
    try:
        run.apply_prefix_settings()
        run.register_standin(dll)
        registered = True
        splash_and_login(build, out, servers, key, shots)

        exe = os.path.join(run_dir, "Launcher.exe")
        hand_over = "client://loadgame|" + servers.urls["game_page"]
        run.build_launcher(os.path.join(build, "Launcher.exe"), os.path.join(build, "demo_skins"), exe,
                           package_values(servers, key, {"link5.url": hand_over}), out)
        print("== Launcher.exe, its login page handing over %s" % hand_over)
        launcher = run.Launcher(exe, None, os.path.join(out, "movie-report.jsonl"),
                                os.path.join(out, "launcher.log"), servers.urls["ip_page"])
        run.wait_for("the game page request", lambda: any(
            r["path"].startswith("/game_client.php") for r in servers.requests("game")), 60)
        time.sleep(1.0)
        run.screenshot(shots["update_dialog"])
        launcher.wait_event("done", 30)
        try:
            launcher.wait_event("call", 10)
        except run.RunError as e:
            print("note: %s" % e)
        time.sleep(0.5)
        run.screenshot(shots["game_window"])
        launcher.wait_exit(QUIT_AFTER_MS / 1000 + 30)
        update = self_update(build, out, content, key)
    except run.RunError as e:
        failure = os.path.join(out, "shots", "failure.png")
        run.screenshot(failure)
        print("demo: %s (the screen then: %s)" % (e, os.path.relpath(failure)), file=sys.stderr)
        return 1
    finally:
        if registered:
            run.register_standin(dll, unregister=True)
        printed = servers.stop()
    print(summary(servers, launcher, shots))
    print("\n".join(update))
    print(printed.strip())
    return 0


if __name__ == "__main__":
    sys.exit(main())
