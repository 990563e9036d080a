#!/usr/bin/env python3
"""A small content server for the file service tests and the benchmark.

Runs a command while serving HTTP on 127.0.0.1 (an ephemeral port); the command finds the
server's address, ending with "/", in the environment variable LAUNCHER_CDN.

    cdn_test_server.py COMMAND [ARGS...]

Paths:
    /ok/<size>/<anything>              200 with <size> pattern bytes (byte i = (i*31+7) % 251)
    /slow/<ms>/<size>/<anything>       the same after <ms> milliseconds
    /missing/<anything>                404 with the body "not here"
    /redirect/<anything>               302 to /ok/<anything>
    /stats                             "requests=<n> concurrent=<now> max_concurrent=<m>"
                                       (requests and connections other than /stats)
"""
import http.server
import os
import subprocess
import sys
import threading
import time

lock = threading.Lock()
# concurrent counts open connections; active counts requests being answered.
stats = {"requests": 0, "concurrent": 0, "max_concurrent": 0, "active": 0, "max_active": 0}


# The pattern repeats every 251 bytes: a body is a slice of enough whole periods.
PERIOD = bytes((i * 31 + 7) % 251 for i in range(251))


def pattern(size):
    return (PERIOD * (size // 251 + 1))[:size]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body leave at once, not held back waiting for an acknowledgement.
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def setup(self):
        super().setup()
        with lock:
            stats["concurrent"] += 1
            stats["max_concurrent"] = max(stats["max_concurrent"], stats["concurrent"])

    def finish(self):
        with lock:
            stats["concurrent"] -= 1
        super().finish()

    def answer(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        parts = self.path.split("/")
        if self.path == "/stats":
            with lock:
                text = "requests=%d concurrent=%d max_concurrent=%d max_active=%d" % (
                    stats["requests"], stats["concurrent"] - 1, stats["max_concurrent"], stats["max_active"])
            self.answer(200, text.encode())
            return
        if self.path == "/stats/reset":
            with lock:
                stats["max_active"] = stats["active"]
            self.answer(200, b"reset")
            return
        with lock:
            stats["requests"] += 1
            stats["active"] += 1
            stats["max_active"] = max(stats["max_active"], stats["active"])
        try:
            if parts[1] == "ok":
                self.answer(200, pattern(int(parts[2])))
            elif parts[1] == "slow":
                time.sleep(int(parts[2]) / 1000.0)
                self.answer(200, pattern(int(parts[3])))
            elif parts[1] == "redirect":
                self.answer(302, b"", [("Location", "/ok/" + "/".join(parts[2:]))])
            else:
                self.answer(404, b"not here")
        except (IndexError, ValueError):
            self.answer(404, b"not here")
        finally:
            with lock:
                stats["active"] -= 1


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    env = dict(os.environ)
    env["LAUNCHER_CDN"] = "http://127.0.0.1:%d/" % server.server_address[1]
    code = subprocess.call(sys.argv[1:], env=env)
    server.shutdown()
    return code


if __name__ == "__main__":
    sys.exit(main())
