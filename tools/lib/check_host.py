#!/usr/bin/env python3
"""Checks that a live download host serves what every supported Windows can
fetch and the installer accepts. Run through tools/check-host:

    tools/check-host [--signed KEY.pub] [--max-bytes N] [--ca-file FILE] URL

Prints one line per check, PASS or FAIL with the reason, and exits 1 on any
failure. URL is the plug-in's address, as the installers are built with.
--signed: also fetch URL.sig and verify it against the file with KEY.pub,
as tools/sign-plugin does. --max-bytes: the installer's size limit for the
plug-in (default: ZARVELO_MAX_PLUGIN_BYTES in CMakeLists.txt, else 64 MiB).
--ca-file: an authority to trust besides the system's, for a test host.

What the installer makes of the plug-in's and the .sig's answers (status,
length, encoding, chunked or not, web page, the .sig's form) is decided by
host_verdict, built from the installer's own portable code; tools/check-host
builds it and names it in ZARVELO_HOST_VERDICT.
"""

import argparse
import http.client
import ipaddress
import os
import re
import ssl
import subprocess
import sys
import tempfile
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DEFAULT_MAX_BYTES = 64 * 1024 * 1024
TIMEOUT = 30  # seconds, as long as the installer waits for a byte

# What Windows 7 SP1's Schannel offers over TLS 1.2, from Microsoft's page
# "Cipher Suites in TLS/SSL (Schannel SSP)", its list for Windows 7 ("TLS
# Cipher Suites in Windows 7"), in OpenSSL's names. RC4 is left out: no
# current server should pick it, and OpenSSL no longer can. Notably absent
# on Windows 7: ECDHE_RSA with AES-GCM, and every ChaCha20 suite.
WINDOWS7_SUITES = [
    "ECDHE-RSA-AES256-SHA384",        # TLS_ECDHE_RSA_WITH_AES_256_CBC_SHA384_P256/_P384
    "ECDHE-RSA-AES128-SHA256",        # TLS_ECDHE_RSA_WITH_AES_128_CBC_SHA256_P256/_P384
    "ECDHE-RSA-AES256-SHA",           # TLS_ECDHE_RSA_WITH_AES_256_CBC_SHA_P256/_P384
    "ECDHE-RSA-AES128-SHA",           # TLS_ECDHE_RSA_WITH_AES_128_CBC_SHA_P256/_P384
    "DHE-RSA-AES256-GCM-SHA384",      # TLS_DHE_RSA_WITH_AES_256_GCM_SHA384
    "DHE-RSA-AES128-GCM-SHA256",      # TLS_DHE_RSA_WITH_AES_128_GCM_SHA256
    "DHE-RSA-AES256-SHA",             # TLS_DHE_RSA_WITH_AES_256_CBC_SHA
    "DHE-RSA-AES128-SHA",             # TLS_DHE_RSA_WITH_AES_128_CBC_SHA
    "AES256-GCM-SHA384",              # TLS_RSA_WITH_AES_256_GCM_SHA384
    "AES128-GCM-SHA256",              # TLS_RSA_WITH_AES_128_GCM_SHA256
    "AES256-SHA256",                  # TLS_RSA_WITH_AES_256_CBC_SHA256
    "AES128-SHA256",                  # TLS_RSA_WITH_AES_128_CBC_SHA256
    "AES256-SHA",                     # TLS_RSA_WITH_AES_256_CBC_SHA
    "AES128-SHA",                     # TLS_RSA_WITH_AES_128_CBC_SHA
    "ECDHE-ECDSA-AES256-GCM-SHA384",  # TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384_P384
    "ECDHE-ECDSA-AES128-GCM-SHA256",  # TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256_P256/_P384
    "ECDHE-ECDSA-AES256-SHA384",      # TLS_ECDHE_ECDSA_WITH_AES_256_CBC_SHA384_P384
    "ECDHE-ECDSA-AES128-SHA256",      # TLS_ECDHE_ECDSA_WITH_AES_128_CBC_SHA256_P256/_P384
    "ECDHE-ECDSA-AES256-SHA",         # TLS_ECDHE_ECDSA_WITH_AES_256_CBC_SHA_P256/_P384
    "ECDHE-ECDSA-AES128-SHA",         # TLS_ECDHE_ECDSA_WITH_AES_128_CBC_SHA_P256/_P384
    "DHE-DSS-AES256-SHA256",          # TLS_DHE_DSS_WITH_AES_256_CBC_SHA256
    "DHE-DSS-AES128-SHA256",          # TLS_DHE_DSS_WITH_AES_128_CBC_SHA256
    "DHE-DSS-AES256-SHA",             # TLS_DHE_DSS_WITH_AES_256_CBC_SHA
    "DHE-DSS-AES128-SHA",             # TLS_DHE_DSS_WITH_AES_128_CBC_SHA
    "DES-CBC3-SHA",                   # TLS_RSA_WITH_3DES_EDE_CBC_SHA
    "EDH-DSS-DES-CBC3-SHA",           # TLS_DHE_DSS_WITH_3DES_EDE_CBC_SHA
]
# Windows 7 offers these two with P-384 only (their names end in _P384
# alone): a host that picks one with a P-256 key exchange fails it.
P384_ONLY_SUITES = {"ECDHE-ECDSA-AES256-GCM-SHA384", "ECDHE-ECDSA-AES256-SHA384"}
# The curves of the _P256/_P384 suites, and the signature schemes Windows 7
# knows for TLS 1.2 (no RSA-PSS).
WINDOWS7_CURVES = "P-256:P-384"
WINDOWS7_SIGALGS = "RSA+SHA256:RSA+SHA384:RSA+SHA1:ECDSA+SHA256:ECDSA+SHA384:ECDSA+SHA1"

# What the installer sends with every request (src/win32/download).
REQUEST_HEADERS = {"User-Agent": "ZarveloInstaller/1.0", "Cache-Control": "no-cache",
                   "Pragma": "no-cache"}
# Renewed certificates now last 45 to 90 days and are renewed with about a
# third of their life left: under a week is a failure, under a month worth
# a look.
FAIL_DAYS = 7
WARN_DAYS = 30
# How much of the body the page check reads; the installer decides on the
# first bytes.
BODY_START = 1024


class Report:
    def __init__(self):
        self.failed = 0
        self.passed = 0
        self.warned = 0

    def warn(self, text):
        print("WARN " + text, flush=True)
        self.warned += 1

    def line(self, ok, text):
        print(("PASS " if ok else "FAIL ") + text, flush=True)
        if ok:
            self.passed += 1
        else:
            self.failed += 1
        return ok


def max_plugin_bytes():
    """The installer's limit, as CMakeLists.txt sets it."""
    try:
        with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
            found = re.search(r'set\(\s*ZARVELO_MAX_PLUGIN_BYTES\s+"?(\d+)"?', f.read())
    except OSError:
        found = None
    return int(found.group(1)) if found else DEFAULT_MAX_BYTES


def is_ip(host):
    try:
        ipaddress.ip_address(host)
        return True
    except ValueError:
        return False


class Host:
    def __init__(self, url, ca_file):
        self.url = url
        # Windows 7's suites for every request, once the probe found the
        # host has one of them; otherwise the content is checked anyway.
        self.windows7 = False
        parts = urllib.parse.urlsplit(url)
        self.host = parts.hostname
        self.port = parts.port or 443
        self.path = (parts.path or "/") + ("?" + parts.query if parts.query else "")
        self.ca_file = ca_file

    def s_client(self, *options):
        """(succeeded, output) of one TLS handshake with openssl s_client."""
        target = "[%s]:%d" % (self.host, self.port) if ":" in self.host else \
            "%s:%d" % (self.host, self.port)
        command = ["openssl", "s_client", "-connect", target]
        # Windows sends no server name for an address, as TLS requires.
        if not is_ip(self.host):
            command += ["-servername", self.host]
        if self.ca_file:
            command += ["-CAfile", self.ca_file]
        try:
            result = subprocess.run(command + list(options), stdin=subprocess.DEVNULL,
                                    capture_output=True, text=True, timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            return False, "no answer within %d s" % TIMEOUT
        output = result.stdout + result.stderr
        cipher = re.search(r"Cipher is (\S+)", output)
        ok = result.returncode == 0 and cipher is not None and cipher.group(1) != "(NONE)"
        return ok, output

    def get(self, path):
        """An open response to GET path, asked as the installer asks."""
        # The certificate is judged by the checks above, each on its own
        # line; here only what the host serves counts, asked as Windows 7
        # asks: TLS 1.2 with its suites, so that a host it can fetch from is
        # checked all through.
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        if self.windows7:
            context.maximum_version = ssl.TLSVersion.TLSv1_2
            context.set_ciphers(":".join(WINDOWS7_SUITES) + ":@SECLEVEL=0")
        connection = http.client.HTTPSConnection(self.host, self.port, timeout=TIMEOUT,
                                                 context=context)
        # WinHTTP asks for no content encoding, and neither does this.
        connection.putrequest("GET", path, skip_accept_encoding=True)
        for name, value in REQUEST_HEADERS.items():
            connection.putheader(name, value)
        connection.endheaders()
        return connection.getresponse()


def key_exchange_of(output):
    """The curve of an ECDHE handshake (P-256, P-384...), or None."""
    found = re.search(r"Server Temp Key: ECDH, ([^,]+),", output)
    if not found:
        return None
    return {"prime256v1": "P-256", "secp384r1": "P-384"}.get(found.group(1), found.group(1))


def cipher_of(output):
    found = re.search(r"Cipher is (\S+)", output)
    return found.group(1) if found else "none"


def first_error(output):
    found = re.search(r"errno=(\d+)", output)
    if found:
        return os.strerror(int(found.group(1)))
    for line in output.splitlines():
        if ":error:" in line:
            return line.split(":")[-1].strip()
    return "handshake failed"


def check_tls(host, report):
    ok, output = host.s_client("-tls1_2")
    if not ok and ("errno=" in output or "no answer" in output):
        report.line(False, "cannot connect to %s:%d: %s" % (host.host, host.port, first_error(output)))
        return False
    report.line(ok, "TLS 1.2 offered (%s)" % cipher_of(output) if ok else
                "TLS 1.2 not offered: %s; Windows 7 to 11 need it" % first_error(output))
    modern = cipher_of(output) if ok else None
    ok7, output7 = host.s_client("-tls1_2", "-cipher", ":".join(WINDOWS7_SUITES),
                                 "-curves", WINDOWS7_CURVES, "-sigalgs", WINDOWS7_SIGALGS)
    curve = key_exchange_of(output7) if ok7 else None
    if ok7 and cipher_of(output7) in P384_ONLY_SUITES and curve != "P-384":
        report.line(False, "the host picks %s with a %s key exchange; Windows 7 offers that suite "
                    "with P-384 only, so its download fails: prefer e.g. "
                    "ECDHE-ECDSA-AES128-SHA256" % (cipher_of(output7), curve or "non-ECDHE"))
    elif ok7:
        report.line(True, "a cipher suite Windows 7 SP1 has is offered (%s)" % cipher_of(output7))
        host.windows7 = True
    else:
        report.line(False, "no cipher suite that Windows 7 SP1 has is offered over TLS 1.2%s: "
                    "every Windows 7 user's download fails; also offer e.g. "
                    "ECDHE-RSA-AES256-SHA384 or ECDHE-RSA-AES128-SHA"
                    % (" (the host picks %s, which Windows 7 lacks)" % modern if modern else ""))
    return True


def pem_blocks(text):
    return re.findall(r"-----BEGIN CERTIFICATE-----.+?-----END CERTIFICATE-----", text, re.S)


def x509(pem, *options):
    return subprocess.run(["openssl", "x509", "-noout"] + list(options), input=pem,
                          capture_output=True, text=True)


def name(pem, which):
    """The certificate's subject or issuer (which: -subject, -issuer)."""
    text = x509(pem, which, "-nameopt", "oneline,-esc_msb").stdout.strip()
    return text.split("=", 1)[1].strip() if "=" in text else text


def check_certificate(host, report):
    ok, output = host.s_client("-showcerts")
    sent = pem_blocks(output)
    if not sent:
        report.line(False, "no certificate received: %s" % first_error(output))
        return
    verify = re.search(r"Verify return code: (\d+) \(([^)]*)\)", output)
    code, reason = (int(verify.group(1)), verify.group(2)) if verify else (-1, "not verified")
    if code == 0:
        report.line(True, "certificate chain complete and trusted (%d certificate(s) sent)" % len(sent))
    elif code in (2, 20, 21) and len(sent) == 1:  # no certificate for the issuer
        issuer = name(sent[0], "-issuer")
        report.line(False, "certificate chain incomplete: the host sends only its own certificate, "
                    "not the intermediate that signed it (%s); Windows does not always fetch "
                    "it, so send it with the host's certificate" % issuer)
    elif code in (2, 20, 21):
        report.line(False, "certificate chain incomplete or not trusted: it ends at %s, which "
                    "the host does not send and this machine does not trust" % name(sent[-1], "-issuer"))
    else:
        report.line(False, "certificate not trusted: %s" % reason)

    leaf = sent[0]
    name_check = x509(leaf, "-checkip" if is_ip(host.host) else "-checkhost", host.host)
    report.line(name_check.returncode == 0 and "does match" in name_check.stdout,
                "certificate matches %s" % host.host if "does match" in name_check.stdout else
                "certificate does not match %s" % host.host)

    # The certificate that expires first decides, whichever of those sent.
    def lasting(pem, days):
        return x509(pem, "-checkend", str(days * 86400)).returncode == 0
    ends = [(x509(pem, "-enddate").stdout.strip().split("=", 1)[-1], name(pem, "-subject"), pem)
            for pem in sent]
    dying = [e for e in ends if not lasting(e[2], FAIL_DAYS)]
    short = [e for e in ends if not lasting(e[2], WARN_DAYS)]
    if dying:
        report.line(False, "certificate valid for less than %d more days: %s ends %s"
                    % (FAIL_DAYS, dying[0][1], dying[0][0]))
        return
    report.line(True, "certificate valid for %d more days at least (ends %s)"
                % (FAIL_DAYS, ends[0][0]))
    if short:
        report.warn("certificate valid for less than %d more days: %s ends %s; make sure its "
                    "renewal is under way" % (WARN_DAYS, short[0][1], short[0][0]))


def installer_verdict(response, start, limit, signature=False):
    """(taken, text): what the installer makes of this answer, from host_verdict."""
    answer = "%d\n" % response.status
    for header, value in response.getheaders():
        answer += "%s: %s\n" % (header, value.replace("\n", " "))
    result = subprocess.run([os.environ["ZARVELO_HOST_VERDICT"], str(limit)] +
                            (["--signature"] if signature else []),
                            input=answer.encode("latin-1", "replace") + b"\n" + start,
                            capture_output=True)
    text = result.stdout.decode("utf-8", "replace").strip() or result.stderr.decode().strip()
    return result.returncode == 0, text.split(": ", 1)[-1]


def fetch(host, path, limit, whole):
    """(response, body) of GET path, the body whole or its first bytes; None
    when nothing came."""
    response = host.get(path)
    with response:
        if whole:
            body = response.read(limit + 1)
        else:
            body = response.read(BODY_START)
    return response, body


def check_plugin(host, report, limit, key):
    try:
        response, body = fetch(host, host.path, limit, bool(key))
    except (OSError, http.client.HTTPException) as error:
        report.line(False, "the plug-in cannot be fetched: %s" % error)
        return
    where = response.getheader("Location")
    if 300 <= response.status < 400 and where:
        report.line(False, "the plug-in answers %d %s, not 200 (to %s; the installer would "
                    "follow it, so run tools/check-host on that address)"
                    % (response.status, response.reason, where))
        return
    taken, verdict = installer_verdict(response, body[:BODY_START], limit)
    report.line(taken, "the installer takes the plug-in's answer (%d, %s, Content-Type %s)"
                % (response.status, verdict, response.getheader("Content-Type") or "none")
                if taken else "the installer refuses the plug-in's answer: %s" % verdict)
    if taken and key:
        check_signature(host, report, key, body, limit)


def check_signature(host, report, key, body, limit):
    try:
        response, signature = fetch(host, host.path + ".sig", limit, True)
    except (OSError, http.client.HTTPException) as error:
        report.line(False, "the .sig cannot be fetched: %s" % error)
        return
    taken, verdict = installer_verdict(response, signature, limit, signature=True)
    if not taken:
        report.line(False, "the installer refuses the .sig's answer: %s; a signature-checking "
                    "installer installs nothing" % verdict)
        return
    with tempfile.TemporaryDirectory() as work:
        plugin_file = os.path.join(work, "plugin")
        signature_file = os.path.join(work, "plugin.sig")
        with open(plugin_file, "wb") as f:
            f.write(body)
        with open(signature_file, "wb") as f:
            f.write(signature)
        result = subprocess.run(["openssl", "dgst", "-sha256", "-verify", key, "-signature",
                                 signature_file, plugin_file], capture_output=True, text=True)
    report.line(result.returncode == 0,
                "the .sig verifies against the plug-in with %s" % key if result.returncode == 0
                else "the .sig does not verify against the plug-in with %s" % key)


def main(argv):
    parser = argparse.ArgumentParser(prog="tools/check-host",
                                     description="Checks the plug-in's download host.")
    parser.add_argument("url")
    parser.add_argument("--signed", metavar="KEY.pub")
    parser.add_argument("--max-bytes", type=int, default=None)
    parser.add_argument("--ca-file")
    args = parser.parse_args(argv)
    parts = urllib.parse.urlsplit(args.url)
    if parts.scheme != "https" or not parts.hostname:
        print("tools/check-host: %s is not an https:// address; the installer fetches "
              "only over HTTPS" % args.url, file=sys.stderr)
        return 2
    if args.signed and not os.path.isfile(args.signed):
        print("tools/check-host: no key file %s" % args.signed, file=sys.stderr)
        return 2
    limit = args.max_bytes if args.max_bytes is not None else max_plugin_bytes()

    host = Host(args.url, args.ca_file)
    report = Report()
    if check_tls(host, report):
        check_certificate(host, report)
        check_plugin(host, report, limit, args.signed)
    print("check-host: %d passed, %d failed%s" % (
        report.passed, report.failed, ", %d warning(s)" % report.warned if report.warned else ""))
    return 1 if report.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
