#!/usr/bin/env python3
"""Stand-in for the VPN service: answers the client's announcement, login, route-list and
update-package requests from one JSON configuration, and misbehaves on demand.

Python 3 standard library only. Listens on 127.0.0.1; every request is logged as one JSON line.
Run with --help for the command line; README.md beside this file describes the configuration.
"""

import argparse
import base64
import binascii
import calendar
import hashlib
import json
import os
import random
import socket
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

MARKER = "MagicTag=VpnServerResponse"
MODES = ("chunked", "no_length", "slow", "hang", "cut", "no_marker", "http500", "wrong_md5",
         "endless")
ENDPOINTS = ("announcements", "login", "routes", "package:setup", "package:green", "*")
DEFAULT_CONFIG = os.path.join(os.path.dirname(os.path.abspath(__file__)), "config.json")


# --- the client's encodings -------------------------------------------------------------------

def descramble(scrambled, key):
    """Inverse of the client's scrambling: byte i of `scrambled` belongs to text position
    (p0 + i) mod n, where p0 = (255 - key[0]) mod n, and was XOR-ed with, added to or
    subtracted by key[i] as that position mod 3 is 0, 1 or 2."""
    n = len(scrambled)
    if n == 0 or len(key) != n:
        return b"" if n == 0 and not key else None
    text = bytearray(n)
    position = (255 - key[0]) % n
    for i in range(n):
        c = key[i]
        b = scrambled[i]
        if position % 3 == 0:
            text[position] = b ^ c
        elif position % 3 == 1:
            text[position] = (b - c) & 0xFF
        else:
            text[position] = (b + c) & 0xFF
        position = (position + 1) % n
    return bytes(text)


def scramble(text, rng=random):
    """The client's scrambling, for tests and for trying the service by hand."""
    n = len(text)
    scrambled, key = bytearray(), bytearray()
    position = 0
    for i in range(n):
        c = rng.randrange(256)
        if i == 0:
            position = (255 - c) % n
        key.append(c)
        if position % 3 == 0:
            scrambled.append(text[position] ^ c)
        elif position % 3 == 1:
            scrambled.append((text[position] + c) & 0xFF)
        else:
            scrambled.append((text[position] - c) & 0xFF)
        position = (position + 1) % n
    return bytes(scrambled), bytes(key)


def b64(raw):
    """Base64 as the client sends it; tolerant of missing padding. None when not Base64."""
    try:
        raw = raw.strip()
        return base64.b64decode(raw + b"=" * (-len(raw) % 4), validate=True)
    except (ValueError, binascii.Error):
        return None


def parse_query(query):
    """Query values as bytes, decoded from percent-encoding; '+' is left alone."""
    values = {}
    for item in query.split("&"):
        if not item:
            continue
        name, _, value = item.partition("=")
        values[urllib.parse.unquote(name)] = urllib.parse.unquote_to_bytes(value)
    return values


def epoch(text):
    """An ISO-8601 UTC time ("2030-01-01T00:00:00Z") or a number of seconds."""
    if isinstance(text, (int, float)):
        return int(text)
    return calendar.timegm(time.strptime(text.rstrip("Z"), "%Y-%m-%dT%H:%M:%S"))


# --- state ------------------------------------------------------------------------------------

class Service:
    """Configuration plus the misbehaviour switches, shared by every listening port."""

    def __init__(self, config, log, config_dir):
        self.config = config
        self.config_dir = config_dir
        self.log_file = log
        self.lock = threading.Lock()
        self.modes = {}
        for endpoint, modes in config.get("misbehave", {}).items():
            self.set_modes(endpoint, modes)
        self.packages = {}
        for kind, package in config.get("packages", {}).items():
            self.packages[kind] = dict(package, content=self._package_bytes(kind, package))
        self.stopping = threading.Event()

    def _package_bytes(self, kind, package):
        if package.get("file"):
            with open(os.path.join(self.config_dir, package["file"]), "rb") as f:
                return f.read()
        size = int(package.get("size", 65536))
        rng = random.Random(kind)
        return bytes(rng.getrandbits(8) for _ in range(size))

    def set_offer(self, values):
        """Changes the update offer while running: required_version, update_url, and per package
        kind KIND_file (a path to serve), KIND_md5 and KIND_url (what is advertised; an empty
        value clears an override)."""
        with self.lock:
            for name, value in values.items():
                if name in ("required_version", "update_url"):
                    self.config[name] = value
                    continue
                kind, _, field = name.rpartition("_")
                if field not in ("file", "md5", "url") or not kind:
                    raise ValueError("unknown offer field: %s" % name)
                package = self.packages.setdefault(
                    kind, {"path": "packages/%s.exe" % kind, "content": b""})
                if field == "file":
                    with open(value, "rb") as f:
                        package["content"] = f.read()
                elif value:
                    package[field] = value
                else:
                    package.pop(field, None)

    def set_modes(self, endpoint, modes):
        if isinstance(modes, str):
            modes = [m for m in modes.split(",") if m]
        unknown = [m for m in modes if m not in MODES]
        if unknown or endpoint not in ENDPOINTS:
            raise ValueError("unknown endpoint or mode: %s %s" % (endpoint, unknown))
        with self.lock:
            if modes:
                self.modes[endpoint] = list(modes)
            else:
                self.modes.pop(endpoint, None)

    def modes_for(self, endpoint):
        with self.lock:
            return sorted(set(self.modes.get(endpoint, []) + self.modes.get("*", [])))

    def log(self, entry):
        line = json.dumps(entry, ensure_ascii=False, sort_keys=True)
        with self.lock:
            self.log_file.write(line + "\n")
            self.log_file.flush()

    def account(self, user):
        for account in self.config.get("accounts", []):
            if account["user"] == user:
                return account
        return None

    def package_md5(self, kind):
        package = self.packages[kind]
        if "md5" in package:
            return package["md5"]
        content = package["content"]
        if "wrong_md5" in self.modes_for("package:" + kind):
            content = content + b"x"
        return hashlib.md5(content).hexdigest()


def ini(lines):
    return ("\r\n".join(lines) + "\r\n").encode("utf-8")


# --- responses --------------------------------------------------------------------------------

class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    service = None  # set per server

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass  # every request is logged as JSON instead

    @property
    def base(self):
        return "http://127.0.0.1:%d/" % self.server.server_address[1]

    def do_GET(self):  # noqa: N802 - the base class's name
        path, _, query = self.path.partition("?")
        path = path.lstrip("/")
        values = parse_query(query)
        entry = {"time": round(time.time(), 3), "port": self.server.server_address[1],
                 "client": self.client_address[0], "path": path,
                 "query": {k: v.decode("latin-1") for k, v in values.items()}}
        try:
            endpoint, status, body, content_type = self.route(path, values, entry)
        except Exception as error:  # a broken request must not take the simulator down
            endpoint, status, body, content_type = "error", 500, str(error).encode(), "text/plain"
        modes = self.service.modes_for(endpoint) if endpoint else []
        entry.update(endpoint=endpoint, status=status, modes=modes)
        if "no_marker" in modes:
            body = body.replace((MARKER + "\r\n").encode(), b"").replace(MARKER.encode(), b"")
        if "http500" in modes:
            status, body, content_type = 500, b"<html><body>500</body></html>", "text/html"
            entry["status"] = 500
        self.service.log(entry)
        self.answer(status, body, content_type, modes)

    def do_HEAD(self):  # noqa: N802
        self.answer(405, b"", "text/plain", [])

    def route(self, path, values, entry):
        if path == "client_announcements.php":
            return "announcements", 200, self.announcements(), "text/plain; charset=utf-8"
        if path == "client_login.php":
            cmd = values.get("cmd", b"").decode("latin-1")
            credentials = self.credentials(values, entry)
            if cmd == "login":
                return "login", 200, self.login(credentials), "text/plain; charset=utf-8"
            if cmd == "getvpnroutes":
                status, body = self.routes(credentials, values.get("id", b"").decode("latin-1"))
                return "routes", status, body, "text/plain"
            return None, 400, b"unknown cmd", "text/plain"
        with self.service.lock:
            packages = list(self.service.packages.items())
        for kind, package in packages:
            if path == package["path"]:
                return "package:" + kind, 200, package["content"], "application/octet-stream"
        if path == "update.html":
            return None, 200, b"<html><body>Kavrin update</body></html>", "text/html"
        if path.startswith("_sim/"):
            return self.control(path[5:], values)
        return None, 404, b"not found", "text/plain"

    def control(self, command, values):
        if command == "misbehave":
            endpoint = values.get("endpoint", b"*").decode()
            self.service.set_modes(endpoint, values.get("modes", b"").decode())
        elif command == "reset":
            with self.service.lock:
                self.service.modes.clear()
        elif command == "offer":
            self.service.set_offer({name: value.decode("utf-8") for name, value in values.items()})
        else:
            return None, 404, b"unknown control", "text/plain"
        return None, 200, b"ok", "text/plain"

    def credentials(self, values, entry):
        encoding = self.service.config.get("client_encoding", "gbk")

        def text(raw):
            return None if raw is None else raw.decode(encoding, errors="replace")

        def decoded(scrambled_key, key_key):
            scrambled = b64(values.get(scrambled_key, b""))
            key = b64(values.get(key_key, b""))
            if scrambled is None or key is None:
                return None
            return descramble(scrambled, key)

        user = text(values.get("u", b""))
        password = decoded("p", "s")
        found = {
            "user": user,
            "password": text(password),
            "bios": text(decoded("b", "a")),
            "disk": text(decoded("d", "c")),
            "adapters": text(decoded("f", "e")),
            "t": values.get("t", b"").decode("latin-1"),
            "v": values.get("v", b"").decode("latin-1"),
            "rf": values.get("rf", b"").decode("latin-1"),
        }
        account = self.service.account(user)
        found["password_ok"] = bool(account) and found["password"] == account["password"]
        entry["decoded"] = found
        return found, account

    def version_lines(self):
        config = self.service.config
        with self.service.lock:
            lines = ["RequiredClientVersion=" + config.get("required_version", "2.1.0.0"),
                     "UpdateURL=" + config.get("update_url", "{base}update.html").format(
                         base=self.base)]
            packages = {kind: dict(package) for kind, package in self.service.packages.items()}
        for kind, key in (("setup", "DownloadSetup"), ("green", "DownloadGreen")):
            if kind in packages:
                url = packages[kind].get("url", "{base}" + packages[kind]["path"])
                lines.append(key + "=" + url.format(base=self.base))
                lines.append(key + "MD5=" + self.service.package_md5(kind))
        return lines

    def announcements(self):
        lines = [MARKER, "[VPN]", "ClientIP=" + self.client_address[0]] + self.version_lines()
        news = self.service.config.get("news", [])[:4]
        lines += ["[Announcements]", "Count=%d" % len(news)]
        for i, item in enumerate(news):
            lines += ["Title%d=%s" % (i, item["title"]),
                      "Url%d=%s" % (i, item.get("url", "").format(base=self.base)),
                      "DatetimeGMT%d=%d" % (i, epoch(item.get("time", 0)))]
        return ini(lines)

    def login(self, credentials):
        found, account = credentials
        config = self.service.config
        lines = [MARKER, "[VPN]", "ClientIP=" + self.client_address[0]] + self.version_lines()
        if not found["password_ok"]:
            return ini(lines + ["AuthResult=Failed",
                                "AuthMessage=" + config.get("refusal_message", "Wrong user name or password")])
        expires = epoch(account.get("expires", 0))
        lines.append("ExpirationDatetimeGMT=%d" % expires)
        if expires and expires < time.time():
            return ini(lines + ["AuthResult=Expired",
                                "AuthMessage=" + account.get("message", config.get("expired_message", "Expired"))])
        lines += ["AuthResult=OK", "AuthMessage=" + account.get("message", "")]
        route_sets = [r for r in config.get("route_sets", [])
                      if "route_sets" not in account or r["id"] in account["route_sets"]]
        lines.append("[Routes]")
        for i, route_set in enumerate(route_sets):
            lines += ["Title%d=%s" % (i, route_set["title"]),
                      "Comment%d=%s" % (i, route_set.get("comment", "")),
                      "RouteId%d=%s" % (i, route_set["id"]),
                      "ModifyDefaultGateway%d=%d" % (i, 1 if route_set.get("default_gateway") else 0)]
        servers = [s for s in config.get("servers", [])
                   if "servers" not in account or s["id"] in account["servers"]]
        lines.append("[Servers]")
        for i, server in enumerate(servers):
            lines += ["ServerId%d=%d" % (i, server["id"]),
                      "Title%d=%s" % (i, server["title"]),
                      "Comment%d=%s" % (i, server.get("comment", "")),
                      "Load%d=%s" % (i, server.get("load", 0)),
                      "ServerHost%d=%s" % (i, server["host"]),
                      "Protocols%d=%s" % (i, server.get("protocols", "pptp,l2tp")),
                      "PPTPUseMPPE%d=%d" % (i, 1 if server.get("mppe") else 0),
                      "Categories%d=%s" % (i, ",".join(server.get("regions", [])))]
        return ini(lines)

    def routes(self, credentials, route_id):
        found, _ = credentials
        if not found["password_ok"]:
            return 403, b"forbidden"
        for route_set in self.service.config.get("route_sets", []):
            if route_set["id"] == route_id:
                return 200, ("\r\n".join(route_set.get("routes", [])) + "\r\n").encode("ascii")
        return 404, b"no such route set"

    # --- delivery, with the misbehaviours -----------------------------------------------------

    def answer(self, status, body, content_type, modes):
        self.close_connection = True
        if "hang" in modes:
            self.hang()
            return
        if "endless" in modes:
            self.send_endlessly(status, content_type)
            return
        reason = {200: "OK", 400: "Bad Request", 403: "Forbidden", 404: "Not Found",
                  405: "Method Not Allowed", 500: "Internal Server Error"}.get(status, "Status")
        head = ["HTTP/1.1 %d %s" % (status, reason), "Content-Type: " + content_type,
                "Connection: close"]
        if "chunked" in modes:
            head.append("Transfer-Encoding: Chunked")
            payload = self.chunked(body)
        else:
            if "no_length" not in modes:
                head.append("Content-Length: %d" % len(body))
            payload = body
        if "cut" in modes:
            payload = payload[:max(1, len(payload) // 2)]
        try:
            self.wfile.write(("\r\n".join(head) + "\r\n\r\n").encode("ascii"))
            if "slow" in modes:
                self.send_slowly(payload)
            else:
                self.wfile.write(payload)
            self.wfile.flush()
            if "cut" in modes:
                self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass  # the client went away

    @staticmethod
    def chunked(body):
        """Odd chunk sizes, one chunk extension, and a trailer the client must skip."""
        out, at, sizes = bytearray(), 0, [1, 7, 0x1B, 13, 0x100, 0x3FF]
        i = 0
        while at < len(body):
            piece = body[at:at + sizes[i % len(sizes)]]
            extension = ";sim=1" if i == 1 else ""
            out += b"%X%s\r\n%s\r\n" % (len(piece), extension.encode(), piece)
            at += len(piece)
            i += 1
        return bytes(out + b"0\r\nX-Sim-Trailer: 1\r\n\r\n")

    def send_slowly(self, payload):
        seconds = float(self.service.config.get("slow_seconds", 3.0))
        pieces = max(1, min(20, len(payload)))
        step = -(-len(payload) // pieces)
        for at in range(0, len(payload), step):
            self.wfile.write(payload[at:at + step])
            self.wfile.flush()
            if self.service.stopping.wait(seconds / pieces):
                return

    def send_endlessly(self, status, content_type):
        """No length and no end: the body goes on until the client gives up."""
        block = bytes(random.Random(status).getrandbits(8) for _ in range(16384))
        try:
            self.wfile.write(("HTTP/1.1 %d OK\r\nContent-Type: %s\r\nConnection: close\r\n\r\n"
                              % (status, content_type)).encode("ascii"))
            while not self.service.stopping.is_set():
                self.wfile.write(block)
        except OSError:
            pass  # the client went away

    def hang(self):
        """Reads and ignores whatever comes until the client gives up or the simulator stops."""
        self.connection.settimeout(0.2)
        while not self.service.stopping.is_set():
            try:
                if not self.connection.recv(4096):
                    return
            except socket.timeout:
                continue
            except OSError:
                return


# --- running ----------------------------------------------------------------------------------

class Simulator:
    """One service on one or more ports; usable from tests in-process."""

    def __init__(self, config, ports, log=sys.stdout, config_dir="."):
        self.service = Service(config, log, config_dir)
        handler = type("BoundHandler", (Handler,), {"service": self.service})
        self.servers = []
        for port in ports:
            server = ThreadingHTTPServer(("127.0.0.1", port), handler)
            server.daemon_threads = True
            self.servers.append(server)
        self.threads = []

    @property
    def ports(self):
        return [server.server_address[1] for server in self.servers]

    def start(self):
        for server in self.servers:
            thread = threading.Thread(target=server.serve_forever, args=(0.1,), daemon=True)
            thread.start()
            self.threads.append(thread)

    def stop(self):
        self.service.stopping.set()
        for server in self.servers:
            server.shutdown()
            server.server_close()


def kind_values(items, what):
    values = {}
    for item in items or []:
        kind, sep, value = item.partition("=")
        if not sep or not kind:
            raise SystemExit("%s: expected KIND=VALUE, got %r" % (what, item))
        values[kind] = value
    return values


def load_config(path, overrides):
    with open(path, encoding="utf-8") as f:
        config = json.load(f)
    if overrides.required_version:
        config["required_version"] = overrides.required_version
    if overrides.update_url is not None:
        config["update_url"] = overrides.update_url
    packages = config.setdefault("packages", {})
    shipped = []
    if overrides.packages:
        shipped = ["setup=" + os.path.join(overrides.packages, "KavrinInstaller.exe"),
                   "green=" + os.path.join(overrides.packages, "Kavrin.exe")]
    for kind, file in kind_values(shipped + (overrides.package or []), "--package").items():
        package = packages.setdefault(kind, {"path": "packages/%s.exe" % kind})
        package.pop("size", None)
        package["file"] = os.path.abspath(file)
    for kind, md5 in kind_values(overrides.package_md5, "--package-md5").items():
        packages.setdefault(kind, {"path": "packages/%s.exe" % kind})["md5"] = md5
    for kind, url in kind_values(overrides.download_url, "--download-url").items():
        packages.setdefault(kind, {"path": "packages/%s.exe" % kind})["url"] = url
    if overrides.slow_seconds is not None:
        config["slow_seconds"] = overrides.slow_seconds
    misbehave = config.setdefault("misbehave", {})
    for item in overrides.misbehave or []:
        endpoint, _, modes = item.partition("=")
        misbehave[endpoint] = modes.split(",") if modes else []
    return config


def main_parser():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, action="append",
                        help="port on 127.0.0.1; repeat for several hosts; 0 picks a free one")
    parser.add_argument("--config", default=DEFAULT_CONFIG, help="JSON configuration")
    parser.add_argument("--log", help="append the JSON request lines here instead of stdout")
    parser.add_argument("--misbehave", action="append", metavar="ENDPOINT=MODE[,MODE]",
                        help="endpoints: %s; modes: %s" % (", ".join(ENDPOINTS), ", ".join(MODES)))
    parser.add_argument("--required-version", help="override RequiredClientVersion")
    parser.add_argument("--update-url", help="override UpdateURL ({base} is this simulator)")
    parser.add_argument("--package", action="append", metavar="KIND=FILE",
                        help="serve FILE as the setup or green package (repeatable)")
    parser.add_argument("--packages", metavar="DIR",
                        help="serve scripts/package's output: DIR/KavrinInstaller.exe as setup, "
                             "DIR/Kavrin.exe as green (--package overrides either)")
    parser.add_argument("--package-md5", action="append", metavar="KIND=MD5",
                        help="advertise this MD5 for a package instead of its own")
    parser.add_argument("--download-url", action="append", metavar="KIND=URL",
                        help="advertise this download address for a package ({base} is this "
                             "simulator; empty leaves the address empty)")
    parser.add_argument("--slow-seconds", type=float, help="how long a slow body takes")
    return parser


def main(argv=None):
    args = main_parser().parse_args(argv)

    config = load_config(args.config, args)
    log = open(args.log, "a", encoding="utf-8") if args.log else sys.stdout
    simulator = Simulator(config, args.port or [0], log, os.path.dirname(os.path.abspath(args.config)))
    simulator.start()
    for port in simulator.ports:
        print("service_sim listening on http://127.0.0.1:%d/" % port, file=sys.stderr, flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass
    finally:
        simulator.stop()


if __name__ == "__main__":
    main()
