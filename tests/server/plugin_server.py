#!/usr/bin/env python3
"""Loopback HTTPS server the download tests run against.

  plugin_server.py start --state-dir DIR [--port 47631 --control-port 47632]
                        [--signing-key KEY] [--proxy-port P]
  plugin_server.py stop  --state-dir DIR
  plugin_server.py serve --state-dir DIR ...   (in the foreground, for debugging)

The data port (HTTPS, 127.0.0.1 only) serves GET /down/Zarvelo_CDRplugin.gip
the way the current mode says, and its signature beside it
(/down/Zarvelo_CDRplugin.gip.sig) the way the signature mode says. The
control port (plain HTTP) sets the modes and reports what the data port saw:

  GET /mode/<name>[?size=N][&sig=S]
                             switch mode (body size N, default 300000) and
                             signature mode S (default good)
      drop and 503 also take n=K (default 1): the first K requests for
      the plug-in are dropped or answered 503 (with retry_after=S, a
      Retry-After of S), the later ones answered as mode then=M says
      (default ok)
  GET /requests              {"count": data requests since the last switch,
                              "paths": [...] they asked for,
                              "path": ..., "headers": {...} of the last one}
  GET /body                  the body an `ok` answer carries
  GET /proxy.pac             a configuration script naming the proxy

With --proxy-port, a web proxy listens on 127.0.0.1:P as well. It tunnels
a CONNECT to the asked port on 127.0.0.1 whatever the name (so a test can
use a name only its client resolves, and nothing ever leaves loopback), and
answers any other request 407, asking for Negotiate or NTLM; /requests lists
each tunnel's "host:port", and "asked URL" for each 407, under "tunnels".

Signature modes: good (KEY's signature of the body, made by
tools/sign-plugin), other (KEY's signature of another file), garbage (bytes
that are no signature), missing (404), busy (429, Retry-After: 1). Without
--signing-key every signature but busy is missing.

Plug-in modes besides the plain ones: nolength (no Content-Length, the end
of the connection ends the body), oversized (a Content-Length of 2^64 - 1,
then a few bytes), endless (a chunked body that never ends), chunked (the
body, chunked), chunked-cut (the same, cut in the middle of a chunk),
gzip (the body gzip-compressed, Content-Encoding: gzip), trickle (the body
one byte every quarter of a second), 206 (the whole body as 206 Partial
Content).

On start a fresh test CA, a server certificate for 127.0.0.1 (and NAMED_HOST) signed by it
and a self-signed "untrusted" certificate are made with openssl; DIR/ca.pem
and DIR/ca.der are the CA the client has to trust.
"""

import argparse
import gzip
import http.client
import http.server
import json
import os
import secrets
import select
import signal
import socket
import ssl
import struct
import subprocess
import sys
import threading
import time
import urllib.parse

PLUGIN_PATH = "/down/Zarvelo_CDRplugin.gip"
DEFAULT_SIZE = 300000
MODES = ("ok", "404", "500", "empty", "truncated", "nolength", "stall", "slow",
         "refuse", "untrusted", "redirect-http", "login", "login-untyped", "drop", "503",
         "oversized", "endless", "chunked", "gzip", "trickle", "206", "chunked-cut",
         "stall-late")
# Modes that fail the first n requests, then answer as another mode.
FAULT_MODES = ("drop", "503")
LOGIN_PAGE = (b"<!DOCTYPE html>\n<html><head><title>Wi-Fi login</title></head>"
              b"<body><form method=post><input name=room></form></body></html>\n")
HOST = "127.0.0.1"
# A download host that is not loopback by name, for the proxy tests.
NAMED_HOST = "www.zarvelo.test"
SLOW_PIECE = 4096
SLOW_INTERVAL = 0.05
STALL_LIMIT = 120.0
STALL_BYTES = 1000
SIGNATURE_PATH = PLUGIN_PATH + ".sig"
SIGNATURE_MODES = ("good", "other", "garbage", "missing", "busy")
BUSY = "busy"  # the .sig's answer in signature mode busy
TRICKLE_INTERVAL = 0.25
CHUNK = 65536
SIGN_TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                         "sign-plugin")


def body_bytes(size):
    return bytes((i * 31 + 7) % 251 for i in range(size))


# --- certificates -----------------------------------------------------------

def openssl(*args, cwd):
    result = subprocess.run(["openssl", *args], cwd=cwd, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        raise SystemExit("openssl %s failed:\n%s" % (args[0], result.stdout))


def make_certificates(state_dir):
    """A CA, a server certificate it signed, and an unrelated self-signed one."""
    # A unique CA name per run: clients that pick issuers by name never
    # confuse this CA with one an earlier run left in their store.
    tag = secrets.token_hex(4)
    key = ["-newkey", "rsa:2048", "-nodes"]
    openssl("req", "-x509", *key, "-keyout", "ca.key", "-out", "ca.pem", "-days", "30",
            "-subj", "/CN=Zarvelo Loopback Test CA %s" % tag,
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign",
            "-addext", "subjectKeyIdentifier=hash", cwd=state_dir)
    openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der", cwd=state_dir)
    openssl("req", *key, "-keyout", "server.key", "-out", "server.csr",
            "-subj", "/CN=127.0.0.1", cwd=state_dir)
    with open(os.path.join(state_dir, "server.ext"), "w") as ext:
        ext.write("basicConstraints=critical,CA:FALSE\n"
                  "keyUsage=critical,digitalSignature,keyEncipherment\n"
                  "extendedKeyUsage=serverAuth\n"
                  # Wine matches a host only against DNS names, Windows
                  # an address against IP entries: both get theirs.
                  "subjectAltName=IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost,DNS:%s\n"
                  % NAMED_HOST +
                  "authorityKeyIdentifier=keyid\n"
                  "subjectKeyIdentifier=hash\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-set_serial", "0x" + secrets.token_hex(8), "-days", "30",
            "-extfile", "server.ext", "-out", "server.pem", cwd=state_dir)
    openssl("req", "-x509", *key, "-keyout", "untrusted.key", "-out", "untrusted.pem",
            "-days", "30", "-subj", "/CN=127.0.0.1",
            "-addext", "subjectAltName=IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost", cwd=state_dir)


def tls_context(state_dir, name):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(os.path.join(state_dir, name + ".pem"),
                            os.path.join(state_dir, name + ".key"))
    return context


# --- the server -------------------------------------------------------------

class Signer:
    """Signatures of the bodies the server sends, made once per body size."""

    def __init__(self, state_dir, key):
        self.state_dir = state_dir
        self.key = key
        self.made = {}

    def signature_of(self, size):
        """KEY's signature (DER) of body_bytes(size), or None without a key."""
        if self.key is None:
            return None
        if size not in self.made:
            path = os.path.join(self.state_dir, "signed-%d.bin" % size)
            with open(path, "wb") as out:
                out.write(body_bytes(size))
            # Checked with KEY's own public key, not a release key the
            # environment may name.
            env = {k: v for k, v in os.environ.items() if k != "ZARVELO_PAYLOAD_PUBLIC_KEY"}
            result = subprocess.run([SIGN_TOOL, self.key, path], stdout=subprocess.PIPE,
                                    stderr=subprocess.STDOUT, text=True, env=env)
            if result.returncode != 0:
                raise RuntimeError("sign-plugin failed:\n" + result.stdout)
            with open(path + ".sig", "rb") as sig:
                self.made[size] = sig.read()
            os.remove(path)
            os.remove(path + ".sig")
        return self.made[size]

    def answer(self, mode, size):
        """The .sig body for a signature mode, or None for a 404."""
        if mode == "garbage":
            # Not a web page: the download service refuses those before the
            # signature check sees them.
            return b"\x30\x07 not a signature"
        if mode == "good":
            return self.signature_of(size)
        if mode == "other":
            return self.signature_of(size + 1)  # another file, the same key
        if mode == "busy":
            return BUSY
        return None


class State:
    """The mode and what the data port saw; shared by all threads."""

    def __init__(self, signer):
        self.lock = threading.Condition()
        self.signer = signer
        self.mode = "ok"
        self.faults_left = 0  # of a fault mode
        self.retry_after = None
        self.then = "ok"
        self.size = DEFAULT_SIZE
        self.body = body_bytes(DEFAULT_SIZE)
        self.signature = signer.answer("good", DEFAULT_SIZE)
        self.count = 0
        self.paths = []
        self.last_path = None
        self.last_headers = {}
        self.tunnels = []
        self.listening = False  # what the data listener currently does
        self.stopping = threading.Event()

    def set_mode(self, mode, size, signature_mode, faults=1, retry_after=None, then="ok"):
        # Made before the switch: signing takes a moment.
        signature = self.signer.answer(signature_mode, size)
        with self.lock:
            self.mode = mode
            self.faults_left = faults
            self.retry_after = retry_after
            self.then = then
            if size != self.size:
                self.size = size
                self.body = body_bytes(size)
            self.signature = signature
            self.count = 0
            self.paths = []
            self.last_path = None
            self.last_headers = {}
            self.tunnels = []
            self.lock.notify_all()
            # The switch counts only once the data port is open or closed
            # as the mode says, so the next client sees the new behaviour.
            want = mode != "refuse"
            if not self.lock.wait_for(lambda: self.listening == want, timeout=10):
                raise RuntimeError("data listener did not follow mode %s" % mode)

    def snapshot(self):
        with self.lock:
            return self.mode, self.body, self.signature


def read_request(conn):
    """The request line and headers, or None when the client sent none."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            return None
        data += chunk
        if len(data) > 65536:
            return None
    head = data.split(b"\r\n\r\n", 1)[0].decode("iso-8859-1")
    lines = head.split("\r\n")
    parts = lines[0].split(" ")
    if len(parts) < 2:
        return None
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        name = name.strip()
        if name in headers:
            headers[name] += ", " + value.strip()
        else:
            headers[name] = value.strip()
    return parts[0], parts[1], headers


def send_head(conn, status, reason, length=None, extra=(),
              content_type="application/octet-stream"):
    lines = ["HTTP/1.1 %d %s" % (status, reason),
             "Content-Type: " + content_type,
             "Connection: close"]
    if length is not None:
        lines.append("Content-Length: %d" % length)
    lines.extend(extra)
    conn.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("ascii"))


def wait_for_client_to_leave(conn, state, limit):
    deadline = time.monotonic() + limit
    raw = conn.fileno()
    while time.monotonic() < deadline and not state.stopping.is_set():
        readable, _, _ = select.select([raw], [], [], 0.2)
        if readable:
            try:
                if not conn.recv(4096):
                    return
            except (OSError, ssl.SSLError):
                return


def close_gracefully(conn):
    """Ends the connection the way web servers do: close_notify, then FIN.

    The client's own close_notify is not waited for: a client that reads to
    the end of the connection only finishes once the TCP connection ends.
    """
    try:
        conn.setblocking(False)
        try:
            conn.unwrap()
        except ssl.SSLWantReadError:
            pass  # close_notify sent; the peer's would have to be read
        conn.shutdown(socket.SHUT_RDWR)
    except (OSError, ValueError):
        pass


def answer(conn, state, mode, body, signature, data_port):
    request = read_request(conn)
    if request is None:
        return
    method, path, headers = request
    with state.lock:
        state.count += 1
        state.paths.append(path)
        state.last_path = path
        state.last_headers = headers
        retry_after = state.retry_after
    wanted = urllib.parse.urlsplit(path).path
    if method == "GET" and wanted == SIGNATURE_PATH and signature is BUSY:
        page = b"busy"
        send_head(conn, 429, "Too Many Requests", len(page), ["Retry-After: 1"])
        conn.sendall(page)
        return
    if method == "GET" and wanted == SIGNATURE_PATH and signature is not None:
        send_head(conn, 200, "OK", len(signature))
        conn.sendall(signature)
        return
    if mode in FAULT_MODES and wanted == PLUGIN_PATH:
        with state.lock:
            if state.faults_left > 0:
                state.faults_left -= 1
            else:
                mode = state.then
    if method != "GET" or wanted != PLUGIN_PATH:
        page = b"not here"
        send_head(conn, 404, "Not Found", len(page))
        conn.sendall(page)
        return
    if mode in ("ok", "untrusted"):
        send_head(conn, 200, "OK", len(body))
        conn.sendall(body)
    elif mode in ("404", "500"):
        page = ("<html><body>%s</body></html>" % mode).encode("ascii")
        send_head(conn, int(mode), "Not Found" if mode == "404" else "Internal Server Error",
                  len(page))
        conn.sendall(page)
    elif mode == "empty":
        send_head(conn, 200, "OK", 0)
    elif mode == "truncated":
        send_head(conn, 200, "OK", len(body))
        conn.sendall(body[:len(body) // 2])
    elif mode == "nolength":
        send_head(conn, 200, "OK")
        conn.sendall(body)
    elif mode in ("stall", "stall-late"):
        send_head(conn, 200, "OK", len(body))
        # Late: half the body first, so a fast client is well into it.
        conn.sendall(body[:STALL_BYTES if mode == "stall" else len(body) // 2])
        wait_for_client_to_leave(conn, state, STALL_LIMIT)
    elif mode == "slow":
        send_head(conn, 200, "OK", len(body))
        for start in range(0, len(body), SLOW_PIECE):
            if state.stopping.is_set():
                return
            conn.sendall(body[start:start + SLOW_PIECE])
            time.sleep(SLOW_INTERVAL)
    elif mode == "drop":
        # Half the body, then the connection is reset.
        send_head(conn, 200, "OK", len(body))
        conn.sendall(body[:len(body) // 2])
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        raise ConnectionResetError("dropped on purpose")
    elif mode == "503":
        page = b"<html><body>busy</body></html>"
        extra = [] if retry_after is None else ["Retry-After: %d" % retry_after]
        send_head(conn, 503, "Service Unavailable", len(page), extra)
        conn.sendall(page)
    elif mode == "login":
        send_head(conn, 200, "OK", len(LOGIN_PAGE), content_type="text/html; charset=utf-8")
        conn.sendall(LOGIN_PAGE)
    elif mode == "login-untyped":
        page = b"\xef\xbb\xbf \r\n\t" + LOGIN_PAGE.replace(b"DOCTYPE html", b"doctype HTML")
        send_head(conn, 200, "OK", len(page))
        conn.sendall(page)
    elif mode == "oversized":
        send_head(conn, 200, "OK", 2 ** 64 - 1)
        conn.sendall(body[:STALL_BYTES])
        wait_for_client_to_leave(conn, state, STALL_LIMIT)
    elif mode == "206":
        send_head(conn, 206, "Partial Content", len(body),
                  ["Content-Range: bytes 0-%d/%d" % (len(body) - 1, len(body))])
        conn.sendall(body)
    elif mode in ("endless", "chunked", "chunked-cut"):
        send_head(conn, 200, "OK", extra=["Transfer-Encoding: chunked"])
        start = 0
        while not state.stopping.is_set():
            piece = body[start:start + CHUNK]
            if mode == "endless" and not piece:
                start = 0
                continue
            if mode == "chunked-cut" and start + CHUNK >= len(body):
                conn.sendall(b"%x\r\n" % len(piece) + piece[:len(piece) // 2])
                break
            if not piece:
                conn.sendall(b"0\r\n\r\n")
                break
            conn.sendall(b"%x\r\n" % len(piece) + piece + b"\r\n")
            start += len(piece)
    elif mode == "gzip":
        packed = gzip.compress(body)
        send_head(conn, 200, "OK", len(packed), ["Content-Encoding: gzip"])
        conn.sendall(packed)
    elif mode == "trickle":
        send_head(conn, 200, "OK", len(body))
        for at in range(len(body)):
            if state.stopping.is_set():
                return
            conn.sendall(body[at:at + 1])
            time.sleep(TRICKLE_INTERVAL)
    elif mode == "redirect-http":
        target = "http://127.0.0.1:%d%s" % (data_port + 2, PLUGIN_PATH)
        send_head(conn, 302, "Found", 0, ["Location: " + target])


def serve_connection(raw, state, contexts, data_port):
    mode, body, signature = state.snapshot()
    raw.settimeout(30)
    try:
        conn = contexts["untrusted" if mode == "untrusted" else "server"].wrap_socket(
            raw, server_side=True)
    except (OSError, ssl.SSLError):
        raw.close()  # e.g. the client rejected the certificate
        return
    try:
        answer(conn, state, mode, body, signature, data_port)
        close_gracefully(conn)
    except (OSError, ssl.SSLError):
        pass  # the client went away
    finally:
        conn.close()


def data_listener(state, contexts, port, ready):
    """Accepts on the data port while the mode wants it open."""
    listener = None
    try:
        while not state.stopping.is_set():
            with state.lock:
                want = state.mode != "refuse"
            if want and listener is None:
                listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                try:
                    listener.bind((HOST, port))
                except OSError as error:
                    ready.append(error)
                    listener.close()
                    return
                listener.listen(64)
            elif not want and listener is not None:
                listener.close()
                listener = None
            with state.lock:
                if state.listening != want:
                    state.listening = want
                    state.lock.notify_all()
                    if len(ready) == 0:
                        ready.append(None)
            if listener is None:
                time.sleep(0.02)
                continue
            readable, _, _ = select.select([listener], [], [], 0.02)
            if readable:
                raw, _ = listener.accept()
                threading.Thread(target=serve_connection, args=(raw, state, contexts, port),
                                 daemon=True).start()
    finally:
        if listener is not None:
            listener.close()


def pump(a, b, state):
    """Copies bytes both ways until either side ends."""
    while not state.stopping.is_set():
        readable, _, _ = select.select([a, b], [], [], 0.2)
        for source in readable:
            data = source.recv(65536)
            if not data:
                return
            (b if source is a else a).sendall(data)


def serve_proxy_client(conn, state):
    try:
        conn.settimeout(30)
        request = read_request(conn)
        if request is None:
            return
        with state.lock:
            state.tunnels.append(request[1] if request[0] == "CONNECT" else "asked " + request[1])
        if request[0] != "CONNECT":
            # Plain requests are asked for the user's logon, and never get further.
            send_head(conn, 407, "Proxy Authentication Required", 0,
                      ["Proxy-Authenticate: Negotiate", "Proxy-Authenticate: NTLM"])
            return
        host, _, port = request[1].rpartition(":")
        with socket.create_connection((HOST, int(port)), timeout=30) as target:
            conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
            pump(conn, target, state)
    except (OSError, ValueError):
        pass
    finally:
        conn.close()


def proxy_listener(state, listener):
    with listener:
        while not state.stopping.is_set():
            if select.select([listener], [], [], 0.2)[0]:
                conn, _ = listener.accept()
                threading.Thread(target=serve_proxy_client, args=(conn, state),
                                 daemon=True).start()


class ControlHandler(http.server.BaseHTTPRequestHandler):
    server_version = "PluginTestControl"

    def log_message(self, format, *args):  # quiet: tests read the results
        pass

    def reply(self, status, data, content_type="text/plain"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        state = self.server.state
        url = urllib.parse.urlsplit(self.path)
        if url.path.startswith("/mode/"):
            mode = url.path[len("/mode/"):]
            query = urllib.parse.parse_qs(url.query)
            try:
                size = int(query.get("size", [DEFAULT_SIZE])[0])
                faults = int(query.get("n", [1])[0])
                retry_after = query.get("retry_after", [None])[0]
                retry_after = None if retry_after is None else int(retry_after)
            except ValueError:
                size = -1
                faults = retry_after = None
            signature_mode = query.get("sig", ["good"])[0]
            then = query.get("then", ["ok"])[0]
            if (mode not in MODES or size < 0 or faults is None or faults < 0 or
                    signature_mode not in SIGNATURE_MODES or
                    then not in MODES or then in FAULT_MODES or then == "refuse"):
                self.reply(400, b"unknown mode or bad parameters\n")
                return
            state.set_mode(mode, size, signature_mode, faults, retry_after, then)
            self.reply(200, ("mode %s size %d sig %s\n" % (mode, size, signature_mode))
                       .encode("ascii"))
        elif url.path == "/requests":
            with state.lock:
                data = {"count": state.count, "paths": state.paths,
                        "path": state.last_path, "headers": state.last_headers,
                        "tunnels": state.tunnels}
            self.reply(200, json.dumps(data).encode("utf-8"), "application/json")
        elif url.path == "/proxy.pac":
            script = ('function FindProxyForURL(url, host) { return "PROXY %s:%d"; }\n' %
                      (HOST, self.server.proxy_port)).encode("ascii")
            self.reply(200, script, "application/x-ns-proxy-autoconfig")
        elif url.path == "/body":
            _, body, _ = state.snapshot()
            self.reply(200, body, "application/octet-stream")
        else:
            self.reply(404, b"unknown\n")


class ControlServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def serve(args):
    state_dir = os.path.abspath(args.state_dir)
    os.makedirs(state_dir, exist_ok=True)
    make_certificates(state_dir)
    contexts = {"server": tls_context(state_dir, "server"),
                "untrusted": tls_context(state_dir, "untrusted")}
    key = os.path.abspath(args.signing_key) if args.signing_key else None
    state = State(Signer(state_dir, key))

    try:
        control = ControlServer((HOST, args.control_port), ControlHandler)
    except OSError as error:
        sys.exit("plugin_server: control port %d: %s" % (args.control_port, error))
    control.state = state
    control.proxy_port = args.proxy_port
    if args.proxy_port:
        try:
            proxy = socket.create_server((HOST, args.proxy_port))
        except OSError as error:
            sys.exit("plugin_server: proxy port %d: %s" % (args.proxy_port, error))
        threading.Thread(target=proxy_listener, args=(state, proxy), daemon=True).start()

    ready = []
    listener = threading.Thread(target=data_listener,
                                args=(state, contexts, args.port, ready), daemon=True)
    listener.start()
    deadline = time.monotonic() + 10
    while not ready and time.monotonic() < deadline:
        time.sleep(0.02)
    if not ready or ready[0] is not None:
        control.server_close()
        state.stopping.set()
        sys.exit("plugin_server: data port %d: %s" % (args.port, ready[0] if ready else "timeout"))

    signal.signal(signal.SIGTERM, lambda *_: state.stopping.set())
    signal.signal(signal.SIGINT, lambda *_: state.stopping.set())
    controller = threading.Thread(target=control.serve_forever, daemon=True)
    controller.start()
    pid_file = os.path.join(state_dir, "server.pid")
    with open(pid_file + ".tmp", "w") as out:
        out.write("%d\n" % os.getpid())
    os.replace(pid_file + ".tmp", pid_file)
    print("plugin_server: https://%s:%d%s, control http://%s:%d/" %
          (HOST, args.port, PLUGIN_PATH, HOST, args.control_port), flush=True)

    while not state.stopping.wait(0.5):
        pass
    control.shutdown()
    control.server_close()
    listener.join(5)
    try:
        os.remove(pid_file)
    except FileNotFoundError:
        pass


# --- start and stop ---------------------------------------------------------

def read_pid(state_dir):
    try:
        with open(os.path.join(state_dir, "server.pid")) as pid_file:
            return int(pid_file.read().strip())
    except (OSError, ValueError):
        return None


def is_our_server(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as cmdline:
            return b"plugin_server.py" in cmdline.read()
    except OSError:
        return False


def control_answers(port):
    try:
        conn = http.client.HTTPConnection(HOST, port, timeout=2)
        conn.request("GET", "/requests")
        ok = conn.getresponse().status == 200
        conn.close()
        return ok
    except OSError:
        return False


def start(args):
    state_dir = os.path.abspath(args.state_dir)
    os.makedirs(state_dir, exist_ok=True)
    old = read_pid(state_dir)
    if old is not None and is_our_server(old):
        sys.exit("plugin_server: already running (pid %d); stop it first" % old)
    for name in ("server.pid", "ca.pem", "ca.der"):
        try:
            os.remove(os.path.join(state_dir, name))
        except FileNotFoundError:
            pass
    log_path = os.path.join(state_dir, "server.log")
    with open(log_path, "w") as log:
        child = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "serve", "--state-dir", state_dir,
             "--port", str(args.port), "--control-port", str(args.control_port),
             "--proxy-port", str(args.proxy_port)] +
            (["--signing-key", os.path.abspath(args.signing_key)] if args.signing_key else []),
            stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
            start_new_session=True)  # keeps no pipe of the caller open
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        if child.poll() is not None:
            with open(log_path) as log:
                sys.exit("plugin_server: failed to start (exit %d):\n%s" %
                         (child.returncode, log.read()))
        if read_pid(state_dir) == child.pid and control_answers(args.control_port):
            print("plugin_server: started, pid %d" % child.pid)
            return
        time.sleep(0.05)
    child.kill()
    child.wait()
    sys.exit("plugin_server: not listening after 60 s")


def stop(args):
    state_dir = os.path.abspath(args.state_dir)
    pid = read_pid(state_dir)
    if pid is None or not is_our_server(pid):
        print("plugin_server: not running")
        return
    os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + 10
    while is_our_server(pid) and time.monotonic() < deadline:
        time.sleep(0.05)
    if is_our_server(pid):
        os.kill(pid, signal.SIGKILL)
        while is_our_server(pid):
            time.sleep(0.05)
    try:
        os.remove(os.path.join(state_dir, "server.pid"))
    except FileNotFoundError:
        pass
    print("plugin_server: stopped")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("command", choices=("start", "stop", "serve"))
    parser.add_argument("--state-dir", required=True)
    parser.add_argument("--port", type=int, default=47631)
    parser.add_argument("--control-port", type=int, default=47632)
    parser.add_argument("--signing-key", help="private key the plug-in's .sig is made with")
    parser.add_argument("--proxy-port", type=int, default=0, help="a CONNECT proxy's port")
    args = parser.parse_args()
    {"start": start, "stop": stop, "serve": serve}[args.command](args)


if __name__ == "__main__":
    main()
