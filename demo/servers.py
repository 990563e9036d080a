#!/usr/bin/env python3
"""The servers the launcher talks to, run locally for the demo and the tests.

    servers.py --content DIR [--config cg.txt] [--ports-file FILE] [--log FILE] ...

Four HTTP servers in one process, each on 127.0.0.1 and on a port of its own (picked
free unless given):
  game     GET <page path>?connectPort=N...  the game page: an XML document with
           flashVars (the configured game parameters plus the connectPort received;
           "{cdnUrl}" in them stands for the content server's address), cdnUrl (the
           content server) and asynUrl (its notice address)
  content  the files of DIR (the content publisher's output: hash key, dictionary
           archive, game frame, resources) by relative path, any query ignored;
           /notice answers the asynchronous notice
  update   the version file at the versionUrl path and the new executable at the exeUrl
           path (paths from --config or the options; each only when given), and the
           executable's minisign signature at that path + ".minisig" when a file
           <exe>.minisig lies beside the given executable
  ip       a what-is-my-IP page: the caller's address in "[...]" on line 3
Every server also answers /__stats with the counts of all four (JSON).

Once all four listen, the ports and addresses are written as JSON to --ports-file.
Every request is appended to --log as one JSON line. The process ends by itself after
--time-limit seconds (default 900), or on SIGTERM or SIGINT, and then prints what each
server served.
"""

import argparse
import json
import os
import signal
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from xml.sax.saxutils import escape

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))

import launcher_ini as ini  # noqa: E402

HOST = "127.0.0.1"
SERVER_NAMES = ("game", "content", "update", "ip")
NOTICE_PATH = "/notice"
STATS_PATH = "/__stats"


class Failure(Exception):
    """Stops the servers before they start, with a message and exit status 1."""


class Record:
    """Counts and the request log, shared by all servers."""

    def __init__(self, log_path):
        self.lock = threading.Lock()
        self.counts = {name: {"requests": 0, "answered": 0, "failed": 0, "bytes": 0, "paths": {}}
                       for name in SERVER_NAMES}
        self.log = open(log_path, "a", encoding="utf-8") if log_path else None

    def note(self, server, method, path, status, size):
        with self.lock:
            c = self.counts[server]
            c["requests"] += 1
            if 200 <= status < 300:
                c["answered"] += 1
                c["bytes"] += size
                plain = path.split("?", 1)[0]
                plain = request_path(plain) or plain
                c["paths"][plain] = c["paths"].get(plain, 0) + 1
            else:
                c["failed"] += 1
            if self.log:
                self.log.write(json.dumps({"time": round(time.time(), 3), "server": server,
                                           "method": method, "path": path, "status": status,
                                           "bytes": size}, ensure_ascii=False) + "\n")
                self.log.flush()

    def snapshot(self):
        with self.lock:
            return json.loads(json.dumps(self.counts))

    def close(self):
        with self.lock:
            if self.log:
                self.log.close()
                self.log = None


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    disable_nagle_algorithm = True
    server_version = "DemoServer/1"

    def log_message(self, *args):
        pass

    def answer(self, status, body, content_type="text/plain; charset=utf-8", head=False):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        if not head:
            self.wfile.write(body)
        self.server.record.note(self.server.name, self.command, self.path, status, len(body))

    def do_HEAD(self):
        self.do_GET(head=True)

    def do_GET(self, head=False):
        path, _, query = self.path.partition("?")
        if path == STATS_PATH:
            body = json.dumps(self.server.record.snapshot(), ensure_ascii=False).encode("utf-8")
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if not head:
                self.wfile.write(body)
            return
        try:
            status, body, content_type = self.server.respond(self, path, query)
        except Exception as e:  # a fault in one answer must not end the server
            status, body, content_type = 500, ("error: %s" % e).encode(), "text/plain"
        self.answer(status, body, content_type, head)


class DemoServer(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 64

    def __init__(self, name, port, record, respond):
        self.name = name
        self.record = record
        self.respond = respond
        try:
            super().__init__((HOST, port), Handler)
        except OSError as e:
            raise Failure("the %s server cannot listen on %s:%d: %s" % (name, HOST, port, e.strerror))

    @property
    def port(self):
        return self.server_address[1]

    def handle_error(self, request, client_address):
        # A client that goes away in the middle of an answer is no fault of the server.
        error = sys.exc_info()[1]
        if not isinstance(error, ConnectionError):
            print("servers: %s server: %s from %s" % (self.name, error, client_address[0]),
                  file=sys.stderr)


# ---------------------------------------------------------------------------
# What each server answers: respond(handler, path, query) -> (status, body, type)

def request_path(path):
    """The path of a request line as text: percent escapes and raw UTF-8 bytes both
    decoded. None when it is not UTF-8."""
    try:
        return urllib.parse.unquote_to_bytes(path.encode("latin-1")).decode("utf-8")
    except (UnicodeEncodeError, UnicodeDecodeError):
        return None


def not_found(what):
    return 404, ("%s not found\n" % what).encode("utf-8"), "text/plain; charset=utf-8"


class GameServer:
    def __init__(self, page_path, flash_vars):
        self.page_path = page_path
        self.flash_vars = flash_vars
        self.content_base = None  # set once the content server listens

    def __call__(self, handler, path, query):
        if request_path(path) != self.page_path:
            return not_found(path)
        fields = urllib.parse.parse_qs(query, keep_blank_values=True)
        port = fields.get("connectPort", [""])[-1]
        if not port.isdigit():
            return 400, b"connectPort missing from the game page request\n", "text/plain"
        given = self.flash_vars.replace("{cdnUrl}", self.content_base)
        flash_vars = "%s&connectPort=%s" % (given, port) if given else "connectPort=%s" % port
        page = ("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root>"
                "<flashVars>%s</flashVars><cdnUrl>%s</cdnUrl><asynUrl>%s</asynUrl></root>\n"
                % (escape(flash_vars), escape(self.content_base),
                   escape(self.content_base + NOTICE_PATH.lstrip("/") + "?event=update")))
        return 200, page.encode("utf-8"), "text/xml; charset=utf-8"


class ContentServer:
    def __init__(self, root):
        self.root = os.path.realpath(root)

    def __call__(self, handler, path, query):
        name = request_path(path)
        if name == NOTICE_PATH:
            return 200, b"ok\n", "text/plain"
        if name is None:
            return not_found(path)
        parts = name.lstrip("/").split("/")
        if any(p in ("", ".", "..") for p in parts):
            return not_found(name)
        full = os.path.realpath(os.path.join(self.root, *parts))
        if not full.startswith(self.root + os.sep) or not os.path.isfile(full):
            return not_found(name)
        with open(full, "rb") as f:
            return 200, f.read(), "application/octet-stream"


class UpdateServer:
    def __init__(self, files):
        self.files = {path: (data, content_type) for path, data, content_type in files.values()}

    def __call__(self, handler, path, query):
        name = request_path(path)
        if name not in self.files:
            return not_found(path)
        data, content_type = self.files[name]
        return 200, data, content_type


class IpServer:
    def __init__(self, address):
        self.address = address

    def __call__(self, handler, path, query):
        address = self.address or handler.client_address[0]
        page = ("<html><head><title>Current IP Check</title></head>\n<body>\n"
                "Current IP Address: [%s]\n</body></html>\n" % address)
        return 200, page.encode("ascii"), "text/html"


# ---------------------------------------------------------------------------

def read_file(path, what):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as e:
        raise Failure("cannot read %s %s: %s" % (what, path, e.strerror))


def url_path(value, what):
    """A path of the update server as the launcher asks for it: it must start with "/"."""
    text = value.decode("utf-8", "replace") if isinstance(value, bytes) else value
    if not text.startswith("/"):
        raise Failure("%s %r must start with \"/\"" % (what, text))
    return text


SIGNATURE_SUFFIX = ".minisig"


def update_files(args, doc):
    """{"version", "exe" and/or "signature": (path, bytes, content type)}: what the update
    server offers."""
    def configured(option, key):
        if option:
            return option
        return ini.read_value(doc, "global", ini.GLOBAL[ini.fold(key)]) if doc else None

    files = {}
    version_path = configured(args.version_path, "versionUrl")
    exe_path = configured(args.exe_path, "exeUrl")
    if args.version is not None:
        if not version_path:
            raise Failure("--version needs --version-path or a --config with versionUrl")
        files["version"] = (url_path(version_path, "the version path"),
                            args.version.encode("utf-8"), "text/plain")
    if args.exe is not None:
        if not exe_path:
            raise Failure("--exe needs --exe-path or a --config with exeUrl")
        files["exe"] = (url_path(exe_path, "the executable path"),
                        read_file(args.exe, "the new executable"), "application/octet-stream")
        if os.path.isfile(args.exe + SIGNATURE_SUFFIX):
            files["signature"] = (files["exe"][0] + SIGNATURE_SUFFIX,
                                  read_file(args.exe + SIGNATURE_SUFFIX, "the signature"), "text/plain")
    if len({path for path, _, _ in files.values()}) < len(files):
        raise Failure("the version file and the executable have the same path")
    return files


def port_number(text):
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError("%r is no port number" % text)
    if not 0 <= value <= 65535:
        raise argparse.ArgumentTypeError("%d is no port number (0 to 65535)" % value)
    return value


def positive_seconds(text):
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError("%r is no number of seconds" % text)
    if value <= 0:
        raise argparse.ArgumentTypeError("the time limit must be above 0")
    return value


def parse_args(argv):
    p = argparse.ArgumentParser(prog="servers.py", description=__doc__.split("\n\n")[0])
    p.add_argument("--content", required=True, help="the folder the content server serves")
    p.add_argument("--config", help="a package's config/cg.txt: versionUrl and exeUrl")
    for name in SERVER_NAMES:
        p.add_argument("--%s-port" % name, type=port_number, default=0,
                       help="port of the %s server (default: a free one)" % name)
    p.add_argument("--page-path", default="/game_client.php", help="path of the game page")
    p.add_argument("--flash-vars", default="serverId=1&account=demo",
                   help="the game parameters handed to the movie (connectPort is added; "
                        "{cdnUrl} stands for the content server's address)")
    p.add_argument("--version", help="the published version (text of the version file)")
    p.add_argument("--version-path", help="path of the version file (default: versionUrl)")
    p.add_argument("--exe", help="the new executable the update server offers (with its "
                                 "signature when <exe>.minisig exists)")
    p.add_argument("--exe-path", help="path of the new executable (default: exeUrl)")
    p.add_argument("--public-ip", help="the address the IP page reports (default: the caller's)")
    p.add_argument("--ports-file", help="where to write the ports and addresses (JSON)")
    p.add_argument("--log", help="file to append one JSON line per request to")
    p.add_argument("--time-limit", type=positive_seconds, default=900.0,
                   help="seconds after which the servers stop by themselves (default 900)")
    return p.parse_args(argv)


def start(args):
    """The four servers, listening; raises Failure on bad input."""
    if not os.path.isdir(args.content):
        raise Failure("the content folder %s does not exist" % args.content)
    doc = ini.parse(read_file(args.config, "the configuration")) if args.config else None
    if not args.page_path.startswith("/"):
        raise Failure("the page path %r must start with \"/\"" % args.page_path)
    files = update_files(args, doc)
    record = Record(None)
    game = GameServer(args.page_path, args.flash_vars)
    handlers = {"game": game, "content": ContentServer(args.content),
                "update": UpdateServer(files), "ip": IpServer(args.public_ip)}
    servers = []
    try:
        for name in SERVER_NAMES:
            servers.append(DemoServer(name, getattr(args, name + "_port"), record, handlers[name]))
        if args.log:
            try:
                record.log = open(args.log, "a", encoding="utf-8")
            except OSError as e:
                raise Failure("cannot write the log %s: %s" % (args.log, e.strerror))
    except Failure:
        for s in servers:
            s.server_close()
        raise
    by_name = {s.name: s for s in servers}
    game.content_base = "http://%s:%d/" % (HOST, by_name["content"].port)
    return servers, record, files


def describe(servers, args, files):
    by_name = {s.name: s for s in servers}
    base = {name: "http://%s:%d" % (HOST, s.port) for name, s in by_name.items()}
    urls = {"game_page": base["game"] + args.page_path,
            "cdn": base["content"] + "/",
            "ip_page": base["ip"] + "/",
            "stats": base["game"] + STATS_PATH}
    for role, (path, _, _) in files.items():
        urls[role] = base["update"] + path
    return {"pid": os.getpid(), "host": HOST,
            "ports": {name: s.port for name, s in by_name.items()},
            "urls": urls, "time_limit": args.time_limit}


def write_json(path, data):
    temporary = path + ".tmp"
    with open(temporary, "w", encoding="utf-8") as f:
        json.dump(data, f, indent=2)
        f.write("\n")
    os.replace(temporary, path)


def summary(record):
    lines = []
    for name, c in record.snapshot().items():
        lines.append("%-7s %4d requests, %4d answered (%d bytes), %d failed"
                     % (name, c["requests"], c["answered"], c["bytes"], c["failed"]))
    return "\n".join(lines)


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    try:
        servers, record, files = start(args)
        info = describe(servers, args, files)
        if args.ports_file:
            try:
                write_json(args.ports_file, info)
            except OSError as e:
                raise Failure("cannot write %s: %s" % (args.ports_file, e.strerror))
    except Failure as e:
        print("servers: error: %s" % e, file=sys.stderr)
        return 1

    stop = threading.Event()
    reason = ["time limit of %g s reached" % args.time_limit]

    def on_signal(number, frame):
        reason[0] = "stopped by %s" % signal.Signals(number).name
        stop.set()

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    threads = [threading.Thread(target=s.serve_forever, kwargs={"poll_interval": 0.2},
                                name=s.name, daemon=True) for s in servers]
    for t in threads:
        t.start()
    print("servers listening on %s: %s" % (HOST, ", ".join(
        "%s %d" % (name, port) for name, port in info["ports"].items())), flush=True)
    stop.wait(args.time_limit)
    for s in servers:
        s.shutdown()
        s.server_close()
    record.close()
    print("servers: %s" % reason[0])
    print(summary(record), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
