#!/usr/bin/env python3
"""A small HTTP server for the tests, standing in for the content and game servers.

It binds 127.0.0.1 on a free port and writes the port number to --port-file once it
listens. Paths:
  /<name>                  a file under --root: 200 with its bytes, else 404
  /__status/<code>         that status with the body "status <code> page"
  /__redirect/<path>       302 to /<path>
  /__slow/<ms>/<path>      waits ms milliseconds, then answers /<path>
  /__trickle/<ms>/<path>   answers /<path> (a file) one byte every ms milliseconds
  /__throttle/<ms>/<n>/<path>
                           answers /<path> (a file) n bytes every ms milliseconds
  /__stall/<ms>/<n>/<path> answers /<path> (a file longer than n bytes) asked from its
                           start with its first n bytes, then sends nothing for ms
                           milliseconds and closes the connection; a request with a Range
                           (or for a shorter file) is answered at once
  /__norange/<path>        answers /<path> whole (200) even when a Range is asked for
  /__badrange/<path>       answers a Range of /<path> with a 206 whose Content-Range
                           starts one byte later than asked
  /__bytes/<n>             200 with n bytes, byte i = (i * 7 + 3) & 0xFF
  /__raw/<kind>            a damaged answer: truncated, oversized, garbage, empty,
                           badlength, badchunk, hugeheader
  /__stats                 JSON: open connections now and at most, requests now and at
                           most, requests answered (the /__ control paths not counted)
  /__log                   JSON: the paths asked for (query included) since the last reset,
                           in arrival order (the /__ control paths not listed)
  /__requests              JSON: the same requests with their method, the number of the
                           connection they came on (connections are numbered from 1 as
                           they open, never reused) and their header lines as [name, value]
                           pairs in arrival order
  /__fail/<n>/<path>       the next n requests of /<path> answer 500
  /__reset                 zeroes the counts, empties the log and forgets planned failures
Files are served with Range support: "Range: bytes=N-" (N below the size) gets 206 with
"Content-Range: bytes N-<last>/<size>" and the bytes from N; N at or past the size gets 416.
POST /__echo answers the request body back. Connections are kept alive.
"""
import argparse
import json
import os
import random
import socketserver
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class Counts:
    def __init__(self):
        self.lock = threading.Lock()
        self.connections_opened = 0
        self.reset()

    def reset(self):
        with self.lock:
            self.connections = 0
            self.max_connections = 0
            self.in_flight = 0
            self.max_in_flight = 0
            self.requests = 0
            self.log = []
            self.requests_seen = []
            self.failures = {}

    def snapshot(self):
        with self.lock:
            return {"connections": self.connections, "max_connections": self.max_connections,
                    "in_flight": self.in_flight, "max_in_flight": self.max_in_flight,
                    "requests": self.requests}


COUNTS = Counts()
ROOT = "."


PATTERN_PERIOD = bytes((i * 7 + 3) & 0xFF for i in range(256))


def pattern(n):
    return (PATTERN_PERIOD * (n // 256 + 1))[:n]


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def setup(self):
        super().setup()
        with COUNTS.lock:
            COUNTS.connections_opened += 1
            self.connection_number = COUNTS.connections_opened
            COUNTS.connections += 1
            COUNTS.max_connections = max(COUNTS.max_connections, COUNTS.connections)

    def finish(self):
        with COUNTS.lock:
            COUNTS.connections -= 1
        try:
            super().finish()
        except OSError:
            pass

    def answer(self, code, body, headers=()):
        self.send_response(code)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def raw(self, data):
        self.wfile.write(data)
        self.wfile.flush()
        self.close_connection = True

    def record(self):
        """Logs a request that is no control path."""
        with COUNTS.lock:
            COUNTS.log.append(self.path)
            COUNTS.requests_seen.append({"method": self.command, "path": self.path,
                                         "connection": self.connection_number,
                                         "headers": [[k, v] for k, v in self.headers.items()]})

    def do_POST(self):
        self.record()
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        if self.path == "/__echo":
            self.answer(200, body)
        else:
            self.answer(404, b"no such post target")

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        if path == "/__stats":
            self.answer(200, json.dumps(COUNTS.snapshot()).encode())
            return
        if path == "/__reset":
            COUNTS.reset()
            self.answer(200, b"reset")
            return
        if path == "/__log":
            with COUNTS.lock:
                log = list(COUNTS.log)
            self.answer(200, json.dumps(log).encode())
            return
        if path == "/__requests":
            with COUNTS.lock:
                seen = list(COUNTS.requests_seen)
            self.answer(200, json.dumps(seen).encode())
            return
        if path.startswith("/__fail/"):
            parts = path.split("/")
            with COUNTS.lock:
                COUNTS.failures["/" + "/".join(parts[3:])] = int(parts[2])
            self.answer(200, b"planned")
            return
        self.record()
        with COUNTS.lock:
            planned = COUNTS.failures.get(path, 0)
            if planned > 0:
                COUNTS.failures[path] = planned - 1
        if planned > 0:
            self.answer(500, b"planned failure")
            with COUNTS.lock:
                COUNTS.requests += 1
            return
        with COUNTS.lock:
            COUNTS.in_flight += 1
            COUNTS.max_in_flight = max(COUNTS.max_in_flight, COUNTS.in_flight)
        try:
            self.serve(path)
        finally:
            with COUNTS.lock:
                COUNTS.in_flight -= 1
                COUNTS.requests += 1

    def serve(self, path):
        parts = path.split("/")
        if path.startswith("/__slow/") and len(parts) >= 4:
            time.sleep(int(parts[2]) / 1000.0)
            path = "/" + "/".join(parts[3:])
            parts = path.split("/")
        self.range_answer = "honour"
        for prefix, answer in (("/__norange/", "ignore"), ("/__badrange/", "shift")):
            if path.startswith(prefix):
                self.range_answer = answer
                path = "/" + "/".join(parts[2:])
                parts = path.split("/")
        if path.startswith("/__trickle/") and len(parts) >= 4:
            self.serve_paced(int(parts[2]) / 1000.0, 1, None, "/" + "/".join(parts[3:]))
        elif path.startswith("/__throttle/") and len(parts) >= 5:
            self.serve_paced(int(parts[2]) / 1000.0, int(parts[3]), None, "/" + "/".join(parts[4:]))
        elif path.startswith("/__stall/") and len(parts) >= 5:
            self.serve_paced(0, None, (int(parts[2]) / 1000.0, int(parts[3])), "/" + "/".join(parts[4:]))
        elif path.startswith("/__status/"):
            code = int(parts[2])
            self.answer(code, ("status %d page" % code).encode())
        elif path.startswith("/__redirect/"):
            self.answer(302, b"moved", [("Location", "/" + "/".join(parts[2:]))])
        elif path.startswith("/__bytes/"):
            self.answer(200, pattern(int(parts[2])))
        elif path.startswith("/__raw/"):
            self.serve_raw(parts[2])
        else:
            self.serve_file(path)

    def serve_raw(self, kind):
        junk = random.Random(kind).randbytes(4096)
        if kind == "truncated":
            self.raw(b"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + junk[:100])
        elif kind == "oversized":
            self.raw(b"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n" + junk)
        elif kind == "garbage":
            self.raw(junk)
        elif kind == "empty":
            self.raw(b"")
        elif kind == "badlength":
            self.raw(b"HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nabc")
        elif kind == "badchunk":
            self.raw(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n")
        elif kind == "hugeheader":
            self.raw(b"HTTP/1.1 200 OK\r\nX-Big: " + b"a" * 200000 + b"\r\nContent-Length: 2\r\n\r\nok")
        else:
            self.answer(404, b"no such raw kind")

    def file_bytes(self, path):
        """The bytes of a file under the root, or None (a 404 has then been sent)."""
        name = os.path.normpath(path.lstrip("/"))
        full = os.path.join(ROOT, name)
        if name.startswith("..") or os.path.isabs(name) or not os.path.isfile(full):
            self.answer(404, b"file not found")
            return None
        with open(full, "rb") as f:
            return f.read()

    def asked_from(self):
        """The N of a "Range: bytes=N-" header, or None."""
        value = self.headers.get("Range", "")
        if not value.startswith("bytes=") or not value.endswith("-") or not value[6:-1].isdigit():
            return None
        return int(value[6:-1])

    def start_body(self, body):
        """Sends the status and headers for a file and returns the bytes still to send, or
        None when the answer is complete already (416)."""
        start = self.asked_from() if self.range_answer != "ignore" else None
        if start is None:
            self.send_response(200)
        elif start >= len(body):
            self.answer(416, b"", [("Content-Range", "bytes */%d" % len(body))])
            return None
        else:
            said = start + 1 if self.range_answer == "shift" else start
            self.send_response(206)
            self.send_header("Content-Range", "bytes %d-%d/%d" % (said, len(body) - 1, len(body)))
            body = body[start:]
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.flush()
        return body

    def serve_file(self, path):
        self.serve_paced(0, None, None, path)

    def serve_paced(self, pause, step, stall, path):
        """A file in steps of `step` bytes `pause` seconds apart (all at once without a step);
        with a stall (seconds, n) and no Range asked, n bytes and then silence."""
        body = self.file_bytes(path)
        if body is None:
            return
        stalling = stall is not None and self.asked_from() is None and len(body) > stall[1]
        body = self.start_body(body)
        if body is None:
            return
        if stalling:
            body = body[:stall[1]]
        try:
            step = step or max(len(body), 1)
            for i in range(0, len(body), step):
                time.sleep(pause)
                self.wfile.write(body[i:i + step])
                self.wfile.flush()
            if stalling:
                time.sleep(stall[0])
                self.close_connection = True
        except OSError:
            self.close_connection = True


class Server(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 64


def main():
    global ROOT
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--root", default=".")
    args = parser.parse_args()
    ROOT = args.root
    server = Server(("127.0.0.1", 0), Handler)
    temp = args.port_file + ".tmp"
    with open(temp, "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(temp, args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
